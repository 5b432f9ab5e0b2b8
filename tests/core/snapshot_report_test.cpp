// The text report goes straight to a terminal: nothing read from the system may reach it raw.
#include <gtest/gtest.h>

#include "tools/snapshot/json_writer.h"
#include "tools/snapshot/report_writer.h"

namespace koravex {
namespace {

TEST(ReportTextTest, ControlsEscapedMalformedReplacedTheRestKept) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"USB-STICK", "USB-STICK"},
        {"Диск: C:\\", "Диск: C:\\"},                    // the root's backslash stays
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},      // title change
        {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},  // colour
        {"a\nb\rc\td", "a\\x0ab\\x0dc\\x09d"},           // no line of its own
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x7f", "\\x7f"},
        {"\xC2\x9B"
         "2J",
         "\\u009b2J"},                                             // C1 CSI
        {"\xC2\x85|\xC2\xA0", "\\u0085|\xC2\xA0"},                 // NEL escaped, NBSP kept
        {"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // never in UTF-8
        {"ab\xD0", "ab\xEF\xBF\xBD"},                              // cut at the end
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong slash
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xE2\x82\xAC \xF0\x9F\x92\xBE", "\xE2\x82\xAC \xF0\x9F\x92\xBE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reportText(c.in), c.out) << c.in;
}

// Every byte of the report is printable UTF-8 or a line break of the report's own.
bool terminalSafe(const std::string& report) {
    for (std::size_t i = 0; i < report.size();) {
        const std::size_t len = utf8SequenceLength(report, i);
        const auto b = static_cast<unsigned char>(report[i]);
        if (len == 0 || (len == 1 && ((b < 0x20 && b != '\n') || b == 0x7F)) ||
            (len == 2 && b == 0xC2 && static_cast<unsigned char>(report[i + 1]) < 0xA0))
            return false;
        i += len;
    }
    return true;
}

TEST(ReportTextTest, HostileLabelsAndNamesReachNoTerminal) {
    const std::string hostile = "\x1b]0;x\x07\x1b[2J\xC2\x9B\xFF\n";
    DisplayModel m;
    m.label8 = "Диск: E:\\";
    m.label12 = hostile;
    m.label11 = "Файловая система: " + hostile;
    m.label13 = "Серийный номер: " + hostile;
    m.traffic = std::vector<TrafficRow>{{"3", hostile, "6", "1", "2", "3", "OPERATIONAL"},
                                        {"1", "lo", "24", "1", "2", "3", "OPERATIONAL"}};
    m.alerts = {{"E:\\", "На диске: E:\\ " + hostile}};
    m.error = "'" + hostile + "' is not a valid integer value";
    const std::string report = modelToReport(m);
    EXPECT_TRUE(terminalSafe(report)) << report;
    EXPECT_NE(report.find("  Диск: E:\\  \\x1b]0;x\\x07\\x1b[2J\\u009b\xEF\xBF\xBD\\x0a\n"),
              std::string::npos)
        << report;
    // The table is laid out on the escaped names: the type column lines up in every row.
    const std::string escapedName = reportText(hostile);
    const auto lineWith = [&](const std::string& part) {
        const std::size_t at = report.find(part);
        if (at == std::string::npos)
            return std::string();
        const std::size_t from = report.rfind('\n', at) + 1;
        return report.substr(from, report.find('\n', at) - from);
    };
    const auto column = [](const std::string& line, const std::string& part) {
        const std::size_t at = line.find(part);
        std::size_t chars = 0;
        for (std::size_t i = 0; i < at && at != std::string::npos; ++i)
            chars += (static_cast<unsigned char>(line[i]) & 0xC0u) != 0x80u;
        return at == std::string::npos ? std::string::npos : chars;
    };
    const std::string heading = lineWith("Индекс");
    const std::string hostileRow = lineWith(escapedName + " 6 ");
    const std::string loRow = lineWith(" lo ");
    ASSERT_FALSE(hostileRow.empty() || loRow.empty()) << report;
    EXPECT_EQ(column(heading, "Тип"), column(loRow, "24")) << report;
    EXPECT_EQ(column(heading, "Тип"), column(hostileRow, " 6 ") + 1) << report;
}

}  // namespace
}  // namespace koravex
