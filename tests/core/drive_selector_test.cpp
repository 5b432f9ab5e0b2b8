#include "core/drive_selector.h"

#include <gtest/gtest.h>

#include "tests/support/fake_probes.h"

namespace koravex {
namespace {

FakeProbes::Drive drive(DriveType type, std::optional<std::string> label,
                        std::optional<std::string> remote = std::nullopt) {
    FakeProbes::Drive d;
    d.type = type;
    if (label)
        d.volume = VolumeInfo{*label, 1, "ext4"};
    d.remote = std::move(remote);
    return d;
}

TEST(SelectorItemsTest, TextAndIconByDriveType) {
    const struct {
        FakeProbes::Drive drive;
        const char* text;  // nullptr: not listed
        DriveIcon icon;
    } cases[] = {
        {drive(DriveType::Removable, "FLOPPY"), "k:", DriveIcon::Floppy},
        {drive(DriveType::Fixed, "System"), "k: [system]", DriveIcon::Hard},
        {drive(DriveType::Fixed, ""), "k: []", DriveIcon::Hard},
        {drive(DriveType::CdRom, std::nullopt), "k: []", DriveIcon::CdRom},  // no disc
        {drive(DriveType::CdRom, "DVD_ROM"), "k: [dvd_rom]", DriveIcon::CdRom},
        {drive(DriveType::RamDisk, "TMPFS"), "k: [tmpfs]", DriveIcon::Ram},
        {drive(DriveType::Remote, "Share", "//Server/Public"), "k: //server/public",
         DriveIcon::Network},
        {drive(DriveType::Remote, "Share"), "k: [share]", DriveIcon::Network},
        {drive(DriveType::Remote, std::nullopt), "k: []", DriveIcon::Network},
        {drive(DriveType::Fixed, "ДАННЫЕ Ёлка"), "k: [данные ёлка]", DriveIcon::Hard},
        {drive(DriveType::Fixed, std::string("Ab\0Cd", 5)), "k: [ab]", DriveIcon::Hard},
        {drive(DriveType::Unknown, "x"), nullptr, DriveIcon::Hard},
        {drive(DriveType::NoRootDir, "x"), nullptr, DriveIcon::Hard},
        {drive(static_cast<DriveType>(42), "x"), nullptr, DriveIcon::Hard},
    };
    for (const auto& c : cases) {
        FakeProbes p;
        p.drives["K:\\"] = c.drive;
        const auto items = buildSelectorItems(p);
        if (!c.text) {
            EXPECT_TRUE(items.empty()) << static_cast<int>(c.drive.type);
            continue;
        }
        ASSERT_EQ(items.size(), 1u) << c.text;
        EXPECT_EQ(items[0].text, c.text);
        EXPECT_EQ(items[0].icon, c.icon) << c.text;
        EXPECT_EQ(items[0].letter, 'k');
    }
}

// Roots as an untidy platform might give them.
class OddRoots : public FakeProbes {
  public:
    std::vector<std::string> roots;
    std::vector<std::string> driveRoots() override { return roots; }
};

TEST(SelectorItemsTest, LetterOrderWithoutDuplicatesOrNonLetters) {
    OddRoots p;
    p.roots = {"z:\\", "C:\\", "", "1:\\", "c:\\", "A:\\", "\xD0\x90:\\"};
    for (const std::string& root : p.roots)
        p.drives[root] = drive(DriveType::Removable, {});
    const auto items = buildSelectorItems(p);
    std::vector<std::string> texts;
    for (const auto& item : items)
        texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"a:", "c:", "z:"}));
}

TEST(SelectorItemsTest, RemovableDrivesAreNotAskedForAVolume) {
    FakeProbes p;
    p.drives["A:\\"] = drive(DriveType::Removable, "x");
    buildSelectorItems(p);
    EXPECT_EQ(p.volumeCalls, 0);
}

TEST(SelectIndexForTest, FirstItemStartingWithTheLowerCaseLetterAndColon) {
    FakeProbes p = FakeProbes::sample();  // c: [system], d: [], e:
    const auto items = buildSelectorItems(p);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].text, "d: []");
    const struct {
        char letter;
        int index;
    } cases[] = {{'C', 0}, {'c', 0}, {'E', 2}, {'d', 1}, {'Z', -1}, {'\0', -1}, {':', -1}};
    for (const auto& c : cases)
        EXPECT_EQ(selectIndexFor(items, c.letter), c.index) << c.letter;
    EXPECT_EQ(selectIndexFor({}, 'c'), -1);
}

}  // namespace
}  // namespace koravex
