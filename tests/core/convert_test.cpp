#include "core/convert.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(StrToIntTest, AcceptsWholeNumbers) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"0", 0},           {"100", 100},          {"  42", 42},         {"-5", -5},
        {"+7", 7},          {"$64", 100},          {"x10", 16},          {"X1f", 31},
        {"0x7FFFFFFF", 2147483647},                {"0XFFFFFFFF", -1},   {"$FFFFFFFF", -1},
        {"$80000000", -2147483647 - 1},            {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},          {"00000000012", 12},  {"$00000001", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(strToInt(c.text), c.value) << c.text;
}

TEST(StrToIntTest, RejectsEverythingElseWithTheMessage) {
    const char* bad[] = {"",       " ",   "12 ",        "abc",         "1a",
                         "$",      "0x",  "$123456789", "2147483648",  "-2147483649",
                         "99999999999999999999", "--1", "- 1",         "1.5"};
    for (const char* text : bad) {
        try {
            strToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

// The digits' edges and their neighbours in ASCII, and bytes that are negative as char.
TEST(HexDigitTest, ValuesOfDigitsInEitherCaseAndMinusOneForTheirNeighbours) {
    const struct {
        char c;
        int value;
    } cases[] = {{'0', 0},   {'9', 9},   {'a', 10},  {'f', 15},     {'A', 10},     {'F', 15},
                 {'/', -1},  {':', -1},  {'@', -1},  {'G', -1},     {'`', -1},     {'g', -1},
                 {'x', -1},  {' ', -1},  {'\0', -1}, {'\xB0', -1}, {'\xE1', -1}, {'\xFF', -1}};
    for (const auto& c : cases)
        EXPECT_EQ(hexDigit(c.c), c.value) << static_cast<int>(c.c);
}

TEST(MessageBoxTextTest, AddsFullStopAfterCharactersSortingAfterIt) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""},
                 {"'' is not a valid integer value", "'' is not a valid integer value."},
                 {"done.", "done."},
                 {"why?", "why?."},
                 {"a!", "a!"},
                 {"x-", "x-"},
                 {"1", "1."},
                 {"ошибка", "ошибка."}};
    for (const auto& c : cases) EXPECT_EQ(messageBoxText(c.in), c.out) << c.in;
}

TEST(ApplicationTitleTest, FileNameCutAtFirstDotWithTail) {
    const struct {
        const char* path;
        const char* title;
    } cases[] = {{"/usr/bin/koravex", "koravex"},
                 {"/opt/KORAVEX.bin", "Koravex"},
                 {"/home/u/My.App.exe", "My"},
                 {"Koravex", "Koravex"},
                 {"/x/.hidden", ""},
                 {"/x/", ""}};
    for (const auto& c : cases) EXPECT_EQ(applicationTitle(c.path), c.title) << c.path;
}

}  // namespace
}  // namespace koravex
