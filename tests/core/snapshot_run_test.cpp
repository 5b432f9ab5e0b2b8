#include "tools/snapshot/snapshot_run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fake_probes.h"

namespace koravex {
namespace {

struct RunResult {
    int status = -1;
    std::string out, err;
    int probesMade = 0;
};

RunResult runTool(const std::vector<std::string_view>& args) {
    RunResult r;
    std::ostringstream out, err;
    r.status = runSnapshot(
        "koravex-snapshot", args,
        [&r]() -> std::unique_ptr<Probes> {
            ++r.probesMade;
            return std::make_unique<FakeProbes>(FakeProbes::sample());
        },
        out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

bool has(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

TEST(SnapshotRunTest, ExitStatusAndWhereTheTextsGo) {
    const struct {
        std::vector<std::string_view> args;
        int status;
        const char* inOut;  // "" when stdout stays empty
        const char* inErr;  // "" when stderr stays empty
        int probesMade;
    } cases[] = {
        {{"--bogus"}, 2, "", "unknown argument '--bogus'\nUsage: koravex-snapshot", 0},
        {{"--unit", "gb"}, 2, "", "Usage: koravex-snapshot [--json]", 0},
        {{"--help"}, 0, "Usage: koravex-snapshot", "", 0},
        {{}, 0, "Диск: C:\\  system", "", 1},
        {{"--drive", "d"}, 0, "Диск: d:\\", "", 1},
        {{"--json"}, 0, "\"Label8\": \"Диск: C:\\\\\"", "", 1},
        {{"--json", "--unit", "b"}, 0, "\"Label2\": \"Всего: 8 589 934 592 B\"", "", 1},
        {{"--json", "--threshold", ""},
         1,
         "\"error\": \"'' is not a valid integer value\"",
         "koravex-snapshot: '' is not a valid integer value\n",
         1},
        {{"--threshold", "x"}, 1, "Error: 'x' is not a valid integer value.", "not a valid", 1},
        {{"--json", "--threshold", "5000"},
         0,
         "\"alerts\": [\"На диске: E:\\\\ осталось меньше 5000 Mb дискового пространства\"]",
         "",
         1},
        {{"--threshold", "100000"},
         0,
         "Внимание!\n  На диске: C:\\ осталось меньше 100000 Mb дискового пространства\n  На "
         "диске: E:\\",
         "",
         1},
    };
    for (const auto& c : cases) {
        const RunResult r = runTool(c.args);
        const std::string label = c.args.empty() ? "(none)" : std::string(c.args[0]);
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.probesMade, c.probesMade) << label;
        if (*c.inOut) {
            EXPECT_TRUE(has(r.out, c.inOut)) << label << "\n" << r.out;
        } else {
            EXPECT_EQ(r.out, "") << label;
        }
        if (*c.inErr) {
            EXPECT_TRUE(has(r.err, c.inErr)) << label << "\n" << r.err;
        } else {
            EXPECT_EQ(r.err, "") << label;
        }
    }
}

TEST(SnapshotRunTest, ReportShowsTheInterfaceTableInColumns) {
    const RunResult r = runTool({"--unit", "mb"});
    EXPECT_TRUE(has(r.out, "Индекс Описание Тип Принято Отправлено Скорость Статус")) << r.out;
    EXPECT_TRUE(has(r.out, "2      enp0s3   6     3 072        100      954 OPERATIONAL")) << r.out;
    EXPECT_TRUE(has(r.out, "Свободно на диске:  43 008 MB")) << r.out;
}

}  // namespace
}  // namespace koravex
