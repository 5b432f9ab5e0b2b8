#include "core/utf8_lower.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(Utf8LowerTest, LatinAndCyrillicLettersOtherBytesUnchanged) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"SYSTEM Data_1", "system data_1"},
        {"ÀÉÎÕÜÞ×ß", "àéîõüþ×ß"},  // the multiplication sign and ß stay
        {"ĀĞĲŁŃŊŽŸ", "āğĳłńŋžÿ"},  // Latin Extended-A, both pairings
        {"ПРИВЕТ, МИР", "привет, мир"},
        {"ЀЁЂЏ", "ѐёђџ"},
        {"ҐҒӀӁӐӘԀ", "ґғӏӂӑәԁ"},
        {"уже строчные", "уже строчные"},
        {"ΑΒΓ €日本", "ΑΒΓ €日本"},  // other scripts and three-byte characters as they are
        {"\xD0", "\xD0"},            // a lead byte at the end
        {"\xD0"
         "A",
         "\xD0"
         "a"},                       // a lead byte without its continuation
        {"\x90\x90Z", "\x90\x90z"},  // stray continuation bytes
        {"\xC0\x81Q", "\xC0\x81q"},  // overlong form left alone
        {"\xFF\xFE", "\xFF\xFE"},
        {std::string("A\0B", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8ToLower(c.in), c.out) << c.in;
}

TEST(Utf8LowerTest, AsciiLetterOnly) {
    EXPECT_EQ(asciiToLower('C'), 'c');
    EXPECT_EQ(asciiToLower('c'), 'c');
    EXPECT_EQ(asciiToLower('\0'), '\0');
    EXPECT_EQ(asciiToLower('@'), '@');
    EXPECT_EQ(asciiToLower('['), '[');
}

}  // namespace
}  // namespace koravex
