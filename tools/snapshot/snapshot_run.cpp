#include "tools/snapshot/snapshot_run.h"

#include "core/refresh.h"
#include "tools/snapshot/json_writer.h"
#include "tools/snapshot/report_writer.h"
#include "tools/snapshot/snapshot_options.h"

namespace koravex {

int runSnapshot(std::string_view program, const std::vector<std::string_view>& args,
                const std::function<std::unique_ptr<Probes>()>& makeProbes, std::ostream& out,
                std::ostream& err) {
    const ParsedOptions parsed = parseSnapshotOptions(args);
    if (!parsed.options) {
        err << program << ": " << parsed.error << "\n" << snapshotUsage(program);
        return 2;
    }
    const SnapshotOptions& options = *parsed.options;
    if (options.help) {
        out << snapshotUsage(program);
        return 0;
    }

    const std::unique_ptr<Probes> probes = makeProbes();
    RefreshInputs inputs;
    inputs.unit = options.unit;
    inputs.driveLetter = options.drive ? *options.drive : probes->currentDirectoryDrive();
    if (options.threshold) {
        inputs.alertOn = true;
        inputs.threshold = *options.threshold;
        for (std::string& root : probes->driveRoots())
            inputs.drives.push_back(WatchedDrive{std::move(root), true});
    }
    const DisplayModel model = runRefresh(*probes, inputs);
    out << (options.json ? modelToJson(model) : modelToReport(model));
    if (model.error) {
        err << program << ": " << reportText(*model.error) << "\n";
        return 1;
    }
    return 0;
}

}  // namespace koravex
