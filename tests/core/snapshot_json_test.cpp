#include "tools/snapshot/json_writer.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(JsonStringTest, EscapesAndReplacesWhatJsonCannotCarry) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"", R"("")"},
        {"Диск: C:\\", R"("Диск: C:\\")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"a\nb\tc\rd", R"("a\nb\tc\rd")"},
        {"\x01\x1f\x7f", R"("\u0001\u001f\u007f")"},
        {std::string("a\0b", 3), R"("a\u0000b")"},
        {"\xFF", R"("\ufffd")"},      // never in UTF-8
        {"ab\xD0", R"("ab\ufffd")"},  // cut sequence at the end
        {"\xD0"
         "A",
         R"("\ufffdA")"},                                       // lead byte without continuation
        {"\xC0\xAF", R"("\ufffd\ufffd")"},                      // overlong slash
        {"\xE0\x80\xAF", R"("\ufffd\ufffd\ufffd")"},            // overlong three-byte form
        {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},            // UTF-16 surrogate
        {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // above U+10FFFF
        {"\xE2\x82\xAC \xF0\x9F\x92\xBE", "\"\xE2\x82\xAC \xF0\x9F\x92\xBE\""},  // kept
        {"\xEF\xBF\xBF", "\"\xEF\xBF\xBF\""},  // U+FFFF is well-formed
        {"\xE2\x80\xA8|\xE2\x80\xA9", R"("\u2028|\u2029")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonString(c.in), c.out) << c.in;
}

TEST(ModelToJsonTest, OneObjectKeyedByControlName) {
    DisplayModel m;
    m.label2 = "Всего: 1 Kb";
    m.label8 = "Диск: C:\\";
    m.label9 = kCannotDetermine;
    m.gauge1 = {0, 0};
    m.gauge2 = {100, 25};
    m.gauge4 = {2147483647, 1};
    m.traffic = std::vector<TrafficRow>{{"1", "lo \"x\"", "24", " ", " ", " ", "OPERATIONAL"}};
    m.alerts = {{"D:\\", "На диске: D:\\ осталось меньше 1 Mb дискового пространства"}};
    m.error = "'' is not a valid integer value";
    const std::string expected =
        "{\n"
        "  \"Label2\": \"Всего: 1 Kb\",\n"
        "  \"Label3\": \"\",\n"
        "  \"Label4\": \"\",\n"
        "  \"Label5\": \"\",\n"
        "  \"Label6\": \"\",\n"
        "  \"Label7\": \"\",\n"
        "  \"Label8\": \"Диск: C:\\\\\",\n"
        "  \"Label9\": \"Не возможно определить\",\n"
        "  \"Label10\": \"\",\n"
        "  \"Label11\": \"\",\n"
        "  \"Label12\": \"\",\n"
        "  \"Label13\": \"\",\n"
        "  \"Gauge1\": {\"max\": 0, \"progress\": 0},\n"
        "  \"Gauge2\": {\"max\": 100, \"progress\": 25},\n"
        "  \"Gauge3\": {\"max\": 0, \"progress\": 0},\n"
        "  \"Gauge4\": {\"max\": 2147483647, \"progress\": 1},\n"
        "  \"lvTraffic\": [\n"
        "    [\"1\", \"lo \\\"x\\\"\", \"24\", \" \", \" \", \" \", \"OPERATIONAL\"]\n"
        "  ],\n"
        "  \"alerts\": [\"На диске: D:\\\\ осталось меньше 1 Mb дискового пространства\"],\n"
        "  \"error\": \"'' is not a valid integer value\"\n"
        "}\n";
    EXPECT_EQ(modelToJson(m), expected);
}

TEST(ModelToJsonTest, EmptyTableAndNoError) {
    DisplayModel m;
    m.traffic = std::vector<TrafficRow>{};
    const std::string json = modelToJson(m);
    EXPECT_NE(json.find("\n  \"lvTraffic\": [],\n  \"alerts\": [],\n  \"error\": null\n}\n"),
              std::string::npos)
        << json;
}

}  // namespace
}  // namespace koravex
