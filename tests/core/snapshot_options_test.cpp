#include "tools/snapshot/snapshot_options.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(SnapshotOptionsTest, AcceptedCommandLines) {
    const struct {
        std::vector<std::string_view> args;
        bool json, help;
        UnitScale unit;
        std::optional<char> drive;
        std::optional<std::string> threshold;
    } cases[] = {
        {{}, false, false, UnitScale::Kilobytes, std::nullopt, std::nullopt},
        {{"--json"}, true, false, UnitScale::Kilobytes, std::nullopt, std::nullopt},
        {{"--unit", "mb"}, false, false, UnitScale::Megabytes, std::nullopt, std::nullopt},
        {{"--unit=b", "--json"}, true, false, UnitScale::Bytes, std::nullopt, std::nullopt},
        {{"--unit", "b", "--unit", "kb"},
         false,
         false,
         UnitScale::Kilobytes,
         std::nullopt,
         std::nullopt},
        {{"--drive", "d"}, false, false, UnitScale::Kilobytes, 'd', std::nullopt},
        {{"--drive=E:"}, false, false, UnitScale::Kilobytes, 'E', std::nullopt},
        {{"--drive", "Z:\\"}, false, false, UnitScale::Kilobytes, 'Z', std::nullopt},
        {{"--threshold", ""}, false, false, UnitScale::Kilobytes, std::nullopt, ""},
        {{"--threshold=$64"}, false, false, UnitScale::Kilobytes, std::nullopt, "$64"},
        {{"--threshold", "--json"}, false, false, UnitScale::Kilobytes, std::nullopt, "--json"},
        {{"--help"}, false, true, UnitScale::Kilobytes, std::nullopt, std::nullopt},
        {{"-h", "--json"}, true, true, UnitScale::Kilobytes, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = parseSnapshotOptions(c.args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->json, c.json);
        EXPECT_EQ(parsed.options->help, c.help);
        EXPECT_EQ(parsed.options->unit, c.unit);
        EXPECT_EQ(parsed.options->drive, c.drive);
        EXPECT_EQ(parsed.options->threshold, c.threshold);
    }
}

TEST(SnapshotOptionsTest, RejectedCommandLinesSayWhy) {
    const struct {
        std::vector<std::string_view> args;
        const char* error;
    } cases[] = {
        {{"--unit"}, "option --unit needs a value"},
        {{"--unit", "gb"}, "unknown unit 'gb' (mb, kb or b)"},
        {{"--unit", "MB"}, "unknown unit 'MB' (mb, kb or b)"},
        {{"--unit="}, "unknown unit '' (mb, kb or b)"},
        {{"--drive", "cd"}, "not a drive letter: 'cd'"},
        {{"--drive", "1"}, "not a drive letter: '1'"},
        {{"--drive", ""}, "not a drive letter: ''"},
        {{"--drive", "Д"}, "not a drive letter: 'Д'"},
        {{"--json=yes"}, "option --json takes no value"},
        {{"--verbose"}, "unknown argument '--verbose'"},
        {{"report"}, "unknown argument 'report'"},
        {{"--json", "-"}, "unknown argument '-'"},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = parseSnapshotOptions(c.args);
        EXPECT_FALSE(parsed.options) << c.error;
        EXPECT_EQ(parsed.error, c.error);
    }
}

}  // namespace
}  // namespace koravex
