// Records, their texts and their order in a pane.
#include <gtest/gtest.h>

#include <algorithm>

#include "panes/dir_entry.h"
#include "panes/entry_sort.h"
#include "panes/entry_text.h"
#include "platform/profile_store.h"

namespace {

CDirEntry Folder(const std::string& name) {
    CDirEntry e;
    e.name = name;
    e.fullPath = "C:\\" + name;
    e.isFile = 0;
    return e;
}

CDirEntry File(const std::string& name, uint64_t size = 0, int64_t time = 0) {
    CDirEntry e;
    e.name = name;
    e.fullPath = "C:\\" + name;
    e.isFile = 1;
    e.size = size;
    e.time = time;
    SplitPcName(name, &e.title, &e.extension);
    return e;
}

std::vector<std::string> Sorted(std::vector<CDirEntry> entries, SortState state) {
    std::stable_sort(entries.begin(), entries.end(), [&](const CDirEntry& a, const CDirEntry& b) {
        return CompareEntries(&a, &b, state, false) < 0;
    });
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
}

TEST(CDirList, GrowsByAnEighthBetweenFourAndAThousandTwentyFour) {
    CDirList list;
    list.Add(File("a"));
    EXPECT_EQ(list.Capacity(), 4u);
    for (int i = 0; i < 4; ++i) list.Add(File("b"));
    EXPECT_EQ(list.Capacity(), 8u);
    while (list.GetSize() < 100) list.Add(File("c"));
    EXPECT_GE(list.Capacity(), 100u);
    CDirList big;
    for (int i = 0; i < 20000; ++i) big.Add(File("d"));
    EXPECT_LE(big.Capacity() - big.GetSize(), 1024u);
    big.RemoveAll();
    EXPECT_EQ(big.Capacity(), 0u);
}

TEST(CDirList, RemoveByPathTakesOnlyTheFirstExactMatch) {
    CDirList list;
    list.Add(File("x.ts"));
    list.Add(File("X.ts"));
    list.Add(File("x.ts"));
    EXPECT_TRUE(RemoveByPath(list, File("x.ts")));
    ASSERT_EQ(list.GetSize(), 2u);
    EXPECT_EQ(list[0].name, "X.ts");
    EXPECT_FALSE(RemoveByPath(list, File("y.ts")));
}

TEST(EntryText, DisplayNameDropsWhatStandsBeforeTheFirstDoubleAmpersand) {
    EXPECT_EQ(DisplayName("001&&News.TP0"), "News.TP0");
    EXPECT_EQ(DisplayName("a&&b&&c"), "b&&c");
    EXPECT_EQ(DisplayName("&&Lead"), "&&Lead");
    EXPECT_EQ(DisplayName("plain.ts"), "plain.ts");
}

TEST(EntryText, PcNamesSplitOnlyWithThreeCharactersBeforeTheLastDot) {
    auto split = [](const std::string& name) {
        std::string title, extension;
        SplitPcName(name, &title, &extension);
        return title + "|" + extension;
    };
    EXPECT_EQ(split("ab.txt"), "ab.txt|");
    EXPECT_EQ(split("abc.txt"), "abc|TXT");
    EXPECT_EQ(split(".profile"), ".profile|");
    EXPECT_EQ(split("archive"), "archive|");
    EXPECT_EQ(split("x.y.tar.gz"), "x.y.tar|GZ");
    EXPECT_EQ(split("äöü.tp0"), "äöü|TP0");  // three characters, six bytes
    EXPECT_EQ(split("äö.tp0"), "äö.tp0|");
}

TEST(EntryText, ColumnsShowNameTitleSizeExtensionAndDate) {
    CDirEntry file = File("001&&News.TP0", 1073741824, LocalTimeOf(2007, 5, 14, 20, 15, 0));
    file.epgTitle = "Tagesschau";
    EXPECT_EQ(ColumnText(file, 0), "News.TP0");
    EXPECT_EQ(ColumnText(file, 1), "Tagesschau");
    EXPECT_EQ(ColumnText(file, 2), "1.000 GB");
    EXPECT_EQ(ColumnText(file, 3), "TP0");
    EXPECT_EQ(ColumnText(file, 4), "2007-05-14 20:15");
    EXPECT_EQ(ColumnText(Folder("Movies"), 2), "<DIR>");
    EXPECT_EQ(ColumnText(file, 5), "");
}

TEST(EntryText, EpgTitleComesFromTheFifthByteWithTheUmlautSequencesReplaced) {
    std::string bytes(40, '\0');
    const std::string coded = "Sch\x02\x66\x01n \x14\x01rger \x02\x4F\x01";
    bytes.replace(0, 4, "\x01\x02\x03\x04");
    bytes.replace(4, coded.size(), coded);
    EXPECT_EQ(DecodeEpgTitle(bytes), "Schön Ärger ß");
    EXPECT_EQ(DecodeEpgTitle(std::string(40, '\0')), "");
    std::string full(40, 'x');
    EXPECT_EQ(DecodeEpgTitle(full), std::string(36, 'x'));
    EXPECT_EQ(DecodeEpgTitle("abc"), "");  // a file shorter than the offset
    std::string all(40, '\0');
    all.replace(4, 12, "\x02\x54\x01\x02\x6C\x01\x02\x46\x01xyz");
    EXPECT_EQ(DecodeEpgTitle(all), "äüÖxyz");
}

TEST(CompareEntries, FoldersComeFirstInAscendingNameOrderWhateverTheSort) {
    const std::vector<CDirEntry> entries = {File("b.ts"), Folder("b"),  File("A.ts"), Folder("A"),
                                            Folder(".."), Folder("-x"), Folder("!y")};
    EXPECT_EQ(Sorted(entries, {0, 1}),
              (std::vector<std::string>{"!y", "-x", "..", "A", "b", "A.ts", "b.ts"}));
    EXPECT_EQ(Sorted(entries, {0, 0}),
              (std::vector<std::string>{"!y", "-x", "..", "A", "b", "b.ts", "A.ts"}));
}

TEST(CompareEntries, FilenameSortSkipsOnlyAThreeCharacterPrefix) {
    EXPECT_EQ(Sorted({File("001&&Zebra.TP0"), File("002&&Apple.TP0")}, {0, 1}),
              (std::vector<std::string>{"002&&Apple.TP0", "001&&Zebra.TP0"}));
    EXPECT_EQ(Sorted({File("12&&Zebra"), File("13&&Apple")}, {0, 1}),
              (std::vector<std::string>{"12&&Zebra", "13&&Apple"}));
    EXPECT_EQ(Sorted({File("beta"), File("Alpha")}, {0, 1}),
              (std::vector<std::string>{"Alpha", "beta"}));
}

TEST(CompareEntries, OtherColumnsCompareTheirFieldsInFull) {
    EXPECT_EQ(Sorted({File("big", 4294967296ull), File("small", 4294967295ull)}, {2, 1}),
              (std::vector<std::string>{"small", "big"}));
    EXPECT_EQ(Sorted({File("new", 0, 2000000000), File("old", 0, -5)}, {4, 1}),
              (std::vector<std::string>{"old", "new"}));
    CDirEntry a = File("x1.ts"), b = File("x2.ts");
    a.epgTitle = "zoo";
    b.epgTitle = "Ant";
    EXPECT_EQ(Sorted({a, b}, {1, 1}), (std::vector<std::string>{"x2.ts", "x1.ts"}));
    EXPECT_EQ(Sorted({File("abc.ts"), File("abc.avi")}, {3, 1}),
              (std::vector<std::string>{"abc.avi", "abc.ts"}));
    EXPECT_EQ(CompareEntries(&a, &b, {7, 1}, false), 0);
}

TEST(CompareEntries, NewFolderModeAndMissingRecords) {
    CDirEntry a = Folder("a"), b = File("b");
    EXPECT_EQ(CompareEntries(&b, &a, {0, 1}, true), 0);
    EXPECT_EQ(CompareEntries(nullptr, &a, {0, 1}, false), -1);
    EXPECT_EQ(CompareEntries(&a, nullptr, {0, 1}, false), 1);
}

TEST(ColumnClick, TurnsTheOrderRoundAndRemembersEachColumnsDirection) {
    platform::SetProfile(platform::MakeMemoryProfileStore());
    SortState state = LoadSortState("List 1");
    EXPECT_EQ(state.column, 0);
    EXPECT_EQ(state.order, 1);
    state = ClickColumn("List 1", state, 2);  // another column: its stored order, 1
    state = ClickColumn("List 1", state, 2);
    EXPECT_EQ(state.order, 0);
    state = ClickColumn("List 1", state, 2);
    state = ClickColumn("List 1", state, 2);
    EXPECT_EQ(state.order, 0);
    platform::ProfileStore& store = platform::Profile();
    EXPECT_EQ(store.GetInt("List 1", "SortColumn", -1), 2);
    EXPECT_EQ(store.GetInt("List 1", "SortOrder 2", -1), 0);
    state = ClickColumn("List 1", state, 4);
    state = ClickColumn("List 1", state, 2);  // back to column 2: descending again
    EXPECT_EQ(state.order, 0);
    EXPECT_EQ(LoadSortState("List 1").column, 2);
    EXPECT_EQ(store.GetInt("List 0", "SortColumn", -1), -1);
}

}  // namespace
