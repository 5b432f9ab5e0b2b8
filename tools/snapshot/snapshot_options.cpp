#include "tools/snapshot/snapshot_options.h"

namespace koravex {

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "c", "C", "c:" or "C:\" give the letter as typed.
std::optional<char> parseDrive(std::string_view text) {
    if (text.empty() || !isAsciiLetter(text[0]))
        return std::nullopt;
    const std::string_view rest = text.substr(1);
    if (rest.empty() || rest == ":" || rest == ":\\" || rest == ":/")
        return text[0];
    return std::nullopt;
}

std::optional<UnitScale> parseUnit(std::string_view text) {
    if (text == "mb")
        return UnitScale::Megabytes;
    if (text == "kb")
        return UnitScale::Kilobytes;
    if (text == "b")
        return UnitScale::Bytes;
    return std::nullopt;
}

ParsedOptions failure(std::string message) {
    return ParsedOptions{std::nullopt, std::move(message)};
}

}  // namespace

ParsedOptions parseSnapshotOptions(const std::vector<std::string_view>& args) {
    SnapshotOptions options;
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::string_view name = args[k];
        std::optional<std::string_view> value;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != name.npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const bool takesValue = name == "--unit" || name == "--drive" || name == "--threshold";
        if (!takesValue && value)
            return failure("option " + std::string(name) + " takes no value");
        if (takesValue && !value) {
            if (k + 1 >= args.size())
                return failure("option " + std::string(name) + " needs a value");
            value = args[++k];
        }

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--unit") {
            const auto unit = parseUnit(*value);
            if (!unit)
                return failure("unknown unit '" + std::string(*value) + "' (mb, kb or b)");
            options.unit = *unit;
        } else if (name == "--drive") {
            const auto letter = parseDrive(*value);
            if (!letter)
                return failure("not a drive letter: '" + std::string(*value) + "'");
            options.drive = *letter;
        } else if (name == "--threshold") {
            options.threshold = std::string(*value);
        } else {
            return failure("unknown argument '" + std::string(name) + "'");
        }
    }
    return ParsedOptions{options, {}};
}

std::string snapshotUsage(std::string_view program) {
    std::string text = "Usage: ";
    text += program;
    text +=
        " [--json] [--unit mb|kb|b] [--drive LETTER] [--threshold MB]\n"
        "Runs one refresh of the monitor and prints what the window would show.\n"
        "\n"
        "  --json            one JSON object keyed by control name (Label2..Label13,\n"
        "                    Gauge1..Gauge4, lvTraffic, alerts, error)\n"
        "  --unit mb|kb|b    unit of the texts (default kb)\n"
        "  --drive LETTER    the drive to show (default: the current directory's drive)\n"
        "  --threshold MB    watch every drive and alert when its free space is below MB\n"
        "                    megabytes (taken as typed, like the window's field)\n"
        "  --help            this text\n"
        "\n"
        "Exit status: 0 done, 1 the threshold is not a whole number, 2 bad command line.\n";
    return text;
}

}  // namespace koravex
