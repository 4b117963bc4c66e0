// The name helpers and target path building.
#include "transfer/name_helpers.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(MakePcFileName, ReplacesTheNineCharactersOneForOne) {
    std::string name = "a:b|c?.TP0";
    EXPECT_FALSE(MakePcFileName(name));
    EXPECT_EQ(name,
              "a;b\xC2\xA6"
              "c,.TP0");
    name = "x/y\"z\\w*<>";
    EXPECT_FALSE(MakePcFileName(name));
    EXPECT_EQ(name, "x-y'z w,()");
    name = "Tatort - Schöner Tod.TP0";
    EXPECT_TRUE(MakePcFileName(name));
    EXPECT_EQ(name, "Tatort - Schöner Tod.TP0");
}

TEST(MakeBoxFileName, ShortensLongNamesAndKeepsOnlyTheLastDot) {
    std::string name = std::string(31, 'n') + ".TP0";
    EXPECT_TRUE(MakeBoxFileName(name));
    name = std::string(33, 'n') + ".TP0";
    EXPECT_FALSE(MakeBoxFileName(name));
    EXPECT_EQ(name, std::string(32, 'n') + ".TP0");
    name = "a.b.c.TP0";
    EXPECT_FALSE(MakeBoxFileName(name));
    EXPECT_EQ(name, "a b c.TP0");
    name = "x.html";
    EXPECT_TRUE(MakeBoxFileName(name));
    name = std::string(40, 'k');
    EXPECT_FALSE(MakeBoxFileName(name));
    EXPECT_EQ(name, std::string(32, 'k') + ".");
    name = std::string(40, 'm') + ".avi";
    MakeBoxFileName(name);
    EXPECT_EQ(name, std::string(32, 'm') + ".avi");
    name = "what?is:<this>|\"now\".ts/";
    EXPECT_FALSE(MakeBoxFileName(name));
    EXPECT_EQ(name, "what,is;(this) 'now'.ts/");
    // Characters, not bytes, count: 33 umlauts are cut to 32.
    std::string umlauts;
    for (int i = 0; i < 33; ++i) umlauts += "ü";
    name = umlauts + ".TP0";
    MakeBoxFileName(name);
    EXPECT_EQ(name, umlauts.substr(0, 64) + ".TP0");
}

TEST(MakeAsciiName, SpellsOutUmlautsAndBlanksTheRest) {
    EXPECT_EQ(MakeAsciiName("Über.Mix"), "Ueber Mix");
    EXPECT_EQ(MakeAsciiName("Straße~1"), "Strasse 1");
    EXPECT_EQ(MakeAsciiName("Crème brûlée"), "Creme br lee");
    EXPECT_EQ(MakeAsciiName("  Ærø `x´  "), "Aero 'x'");
    EXPECT_EQ(MakeAsciiName("Å ñ Ç ë"), "A n C");
    EXPECT_EQ(MakeAsciiName("tab\there"), "tab here");
    EXPECT_EQ(MakeAsciiName("日本"), "");
    EXPECT_EQ(MakeAsciiName("C:\\Filme\\Überall"), "C:\\Filme\\Ueberall");
}

TEST(TargetFolder, JoinsAndCollapsesDoubledSeparators) {
    EXPECT_EQ(JoinTargetFolder("D:\\", RelativeFolder("C:\\REC\\", 7), '\\'), "D:\\");
    EXPECT_EQ(JoinTargetFolder("D:\\", RelativeFolder("C:\\REC\\Movies", 6), '\\'), "D:\\Movies\\");
    EXPECT_EQ(JoinTargetFolder("/home/me/Videos", RelativeFolder("C:\\REC\\Sport\\Ski", 6), '/'),
              "/home/me/Videos/Sport/Ski/");
    EXPECT_EQ(JoinTargetFolder("C:\\", RelativeFolder("/home/me/Films/New/", 14), '\\'),
              "C:\\New\\");
    EXPECT_EQ(RelativeFolder("short", 10), "");
    EXPECT_EQ(CollapseBackslashes("C:\\\\a\\\\\\b"), "C:\\a\\\\b");
}

std::string g_volume_name;
std::string NamedVolume(const std::string&) {
    return g_volume_name;
}

// Recordings stay whole only where the volume is known to hold files of 4 GiB: on FAT and on
// anything unknown they go in parts, so that no copy fails at 4 GiB.
TEST(FileSystemName, SplitsUnlessTheVolumeIsKnownToHoldLargeFiles) {
    EXPECT_FALSE(GetFileSystemName("/tmp").empty());
    // A folder not made yet is on the volume of the nearest folder that exists.
    EXPECT_EQ(GetFileSystemName("/tmp/no/such/folder"), GetFileSystemName("/tmp"));
    SetFileSystemNameProvider(NamedVolume);
    for (const char* whole : {"ext4", "btrfs", "xfs", "ntfs3", "exfat", "tmpfs", "nfs", "zfs"}) {
        g_volume_name = whole;
        EXPECT_FALSE(MustSplitLargeFiles("/x")) << whole;
    }
    for (const char* parts : {"vfat", "msdos", "", "fuseblk", "proc", "squashfs"}) {
        g_volume_name = parts;
        EXPECT_TRUE(MustSplitLargeFiles("/x")) << parts;
    }
    SetFileSystemNameProvider(nullptr);
}

// Receiver names become PC path steps that stay inside the target folder.
TEST(PcNames, ReceiverNamesNeverLeaveTheTargetFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"..", "__"},
        {".", "_"},
        {"", "_"},
        {"  ", "__"},
        {"a/b", "a-b"},
        {"a\\b", "a b"},
        {"ab\x05zz", "ab_zz"},
        {"..\\..\\up", ".. .. up"},
        {"...", "___"},
        {"News.TP0", "News.TP0"},
    };
    for (const auto& [name, expected] : cases) {
        std::string cleaned = name;
        MakePcPathComponent(cleaned);
        EXPECT_EQ(cleaned, expected) << name;
    }
    EXPECT_EQ(PcTargetFolder("/t", "\\..\\a/b\\.\\"), "/t/__/a-b/_/");
    EXPECT_EQ(PcTargetFolder("/t/", ""), "/t/");
}

TEST(SplitParts, PartNamesComeFromTheFileNameOnly) {
    EXPECT_EQ(SplitPartPath("/a~b/Rec~0.TP0", 3), "/a~b/Rec~3.TP0");
    EXPECT_EQ(NextPartPath("/a~b/Rec~9.TP0"), "/a~b/Rec~10.TP0");
    EXPECT_EQ(NextPartPath("/x~1/Rec.TP0"), "/x~1/Rec~1.TP0");
    EXPECT_EQ(NextPartPath("/x~1/Rec~12.TP0"), "/x~1/Rec~13.TP0");
}

}  // namespace
