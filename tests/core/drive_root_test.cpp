#include "core/drive_root.h"

#include <gtest/gtest.h>

#include <string>

namespace koravex {
namespace {

// Every text that names a drive, in either case, and its near misses: what each of the
// three readings makes of it. The wide reading (a Windows current directory) must agree
// with the narrow one.
TEST(DriveRootTest, LetterRootAndKeyOfEachText) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        char letter;      // driveLetter: any path on a drive
        char root;        // rootLetter: "X:\" exactly
        std::string key;  // driveKey
    } cases[] = {
        {"C:\\", 'C', 'C', "C:\\"},
        {"c:\\", 'C', 'C', "C:\\"},
        {"a:\\", 'A', 'A', "A:\\"},
        {"z:\\", 'Z', 'Z', "Z:\\"},
        {"Z:\\", 'Z', 'Z', "Z:\\"},
        {"c:", 'C', '\0', "C:"},
        {"c:\\dir\\file", 'C', '\0', "C:\\dir\\file"},
        {"c:/", 'C', '\0', "C:/"},
        {"c:\\\\", 'C', '\0', "C:\\\\"},
        {"1:\\", '\0', '\0', "1:\\"},
        {"@:\\", '\0', '\0', "@:\\"},
        {"[:\\", '\0', '\0', "[:\\"},
        {"`:\\", '\0', '\0', "`:\\"},
        {"{:\\", '\0', '\0', "{:\\"},
        {"\xC3\xA9:\\", '\0', '\0', "\xC3\xA9:\\"},
        {"\\\\server\\share", '\0', '\0', "\\\\server\\share"},
        {"cc\\", '\0', '\0', "cc\\"},
        {"c", '\0', '\0', "c"},
        {"", '\0', '\0', ""},
        {"\0:\\"s, '\0', '\0', "\0:\\"s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(driveLetter(c.text), c.letter) << c.text;
        EXPECT_EQ(rootLetter(c.text), c.root) << c.text;
        EXPECT_EQ(driveKey(c.text), c.key) << c.text;
        const std::wstring wide(c.text.begin(), c.text.end());
        EXPECT_EQ(driveLetter(std::wstring_view(wide)), c.letter) << c.text;
    }
    // A wide letter outside ASCII whose low byte is an ASCII letter names no drive.
    EXPECT_EQ(driveLetter(std::wstring_view(L"\u0143:\\")), '\0');
    EXPECT_EQ(driveLetter(std::wstring_view(L"\uFF43:\\")), '\0');
}

}  // namespace
}  // namespace koravex
