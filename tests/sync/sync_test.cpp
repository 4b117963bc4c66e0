// tessel sync over a changing receiver folder: what each run copies, resumes, keeps and
// deletes, what --dry-run leaves alone, and what a hostile record or a file the user changed
// cannot make it delete or overwrite.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/cli/cli_fixture.h"

using ::testing::HasSubstr;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

using Actions = std::map<std::string, std::string>;

class SyncTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        source_ = folder_.File("src");
        archive_ = folder_.File("archive");
        fs::create_directories(source_ + "/sub");
        fs::create_directories(archive_);
        // Long enough for the engine's resume (above 2 MiB) once it has grown.
        WriteFileBytes(source_ + "/grows.bin", RandomBytes(3 << 20, 1));
        WriteFileBytes(source_ + "/stays.bin", RandomBytes(70000, 2));
        WriteFileBytes(source_ + "/goes.bin", RandomBytes(50000, 3));
        WriteFileBytes(source_ + "/sub/inner.bin", RandomBytes(40000, 4));
        ASSERT_EQ(Emulated({"--yes-all", "put", source_, "C:\\"}).status, 0);
    }

    Result Sync(std::vector<std::string> extra = {}) { return SyncOf("C:\\src", extra); }

    Result SyncOf(const std::string& receiver_folder, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"sync", receiver_folder, archive_};
        args.insert(args.end(), extra.begin(), extra.end());
        return Emulated(args);
    }

    // A sync that must succeed with the actions `want`; its result in `run`.
    void SyncExpecting(const std::vector<std::string>& extra, const Actions& want, Result* run) {
        *run = Sync(extra);
        ASSERT_EQ(run->status, 0) << run->err;
        EXPECT_EQ(ActionsOf(run->out), want);
    }

    // The PC side's file as the receiver holds it after put: changed there by put again.
    void PutToReceiver(const std::string& relative, const std::string& bytes) {
        const std::string staging = folder_.File("staging");
        fs::remove_all(staging);
        fs::create_directories(staging);
        WriteFileBytes(staging + "/" + fs::path(relative).filename().string(), bytes);
        WriteFileBytes(source_ + "/" + relative, bytes);
        const std::string parent = fs::path(relative).parent_path().string();
        std::string folder = "C:\\src";
        if (!parent.empty()) folder += "\\" + parent;
        const Result put = Emulated(
            {"--yes-all", "put", staging + "/" + fs::path(relative).filename().string(), folder});
        ASSERT_EQ(put.status, 0) << put.err;
    }

    void RemoveFromReceiver(const std::string& name) {
        ASSERT_EQ(Emulated({"rm", "C:\\src\\" + name}).status, 0);
        fs::remove(source_ + "/" + name);
    }

    // Action by PC path, from the lines "ACTION PATH [(reason)]".
    static Actions ActionsOf(const std::string& out) {
        Actions actions;
        std::istringstream lines(out);
        std::string line;
        static const std::vector<std::string> kWords = {"new",     "grown",  "replace", "equal",
                                                        "differs", "failed", "delete",  "kept"};
        while (std::getline(lines, line)) {
            const size_t blank = line.find(' ');
            if (blank == std::string::npos) continue;
            const std::string word = line.substr(0, blank);
            if (std::find(kWords.begin(), kWords.end(), word) == kWords.end()) continue;
            std::string path = line.substr(line.find_first_not_of(' ', blank));
            const size_t reason = path.find(" (");
            if (reason != std::string::npos) path.resize(reason);
            actions[path] = word;
        }
        return actions;
    }

    // Every regular file below `root` by its relative path, with its bytes; the record left out.
    static std::map<std::string, std::string> Files(const std::string& root) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string relative = fs::relative(entry.path(), root).string();
            if (entry.is_regular_file() && relative != ".tessel-sync")
                files[relative] = ReadFileBytes(entry.path().string());
        }
        return files;
    }

    // Everything below `root`, the record too: kind, bytes and modification time.
    static std::map<std::string, std::string> Snapshot(const std::string& root) {
        std::map<std::string, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            struct stat info {};
            lstat(entry.path().c_str(), &info);
            all[entry.path().string()] =
                std::to_string(info.st_mode) + " " + std::to_string(info.st_mtime) + " " +
                (S_ISREG(info.st_mode) ? ReadFileBytes(entry.path().string()) : "");
        }
        return all;
    }

    std::string source_, archive_;
};

TEST_F(SyncTest, ThreeRunsFollowTheSourceAndDeleteOnlyWithDelete) {
    Result first;
    ASSERT_NO_FATAL_FAILURE(SyncExpecting(
        {},
        {{"goes.bin", "new"}, {"grows.bin", "new"}, {"stays.bin", "new"}, {"sub/inner.bin", "new"}},
        &first));
    EXPECT_EQ(Files(archive_), Files(source_));
    // A file of the user's own in the archive, not copied by sync.
    WriteFileBytes(archive_ + "/mine.txt", "my notes");

    // Grown at its end, as a recording still being made.
    std::string grown = ReadFileBytes(source_ + "/grows.bin");
    grown += RandomBytes(2 << 20, 5);
    PutToReceiver("grows.bin", grown);
    PutToReceiver("sub/added.bin", RandomBytes(30000, 6));
    RemoveFromReceiver("goes.bin");

    Result second;
    ASSERT_NO_FATAL_FAILURE(SyncExpecting({},
                                          {{"goes.bin", "kept"},
                                           {"grows.bin", "grown"},
                                           {"stays.bin", "equal"},
                                           {"sub/added.bin", "new"},
                                           {"sub/inner.bin", "equal"}},
                                          &second));
    EXPECT_THAT(second.out, HasSubstr("--delete deletes it"));
    EXPECT_TRUE(ReadFileBytes(archive_ + "/grows.bin") == grown);
    EXPECT_TRUE(fs::exists(archive_ + "/goes.bin"));

    Result third;
    ASSERT_NO_FATAL_FAILURE(SyncExpecting({"--delete"},
                                          {{"goes.bin", "delete"},
                                           {"grows.bin", "equal"},
                                           {"stays.bin", "equal"},
                                           {"sub/added.bin", "equal"},
                                           {"sub/inner.bin", "equal"}},
                                          &third));
    EXPECT_FALSE(fs::exists(archive_ + "/goes.bin"));
    EXPECT_EQ(ReadFileBytes(archive_ + "/mine.txt"), "my notes");
    fs::remove(archive_ + "/mine.txt");
    EXPECT_EQ(Files(archive_), Files(source_));
}

TEST_F(SyncTest, ADryRunChangesNothingAndListsWhatTheRunThenDoes) {
    ASSERT_EQ(Sync().status, 0);
    std::string grown = ReadFileBytes(source_ + "/grows.bin") + RandomBytes(1 << 20, 7);
    PutToReceiver("grows.bin", grown);
    PutToReceiver("added.bin", RandomBytes(1000, 8));
    RemoveFromReceiver("goes.bin");

    const auto before = Snapshot(archive_);
    ASSERT_TRUE(before.count(archive_ + "/.tessel-sync"));
    const Result dry = Sync({"--delete", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_THAT(dry.out, HasSubstr("dry run: nothing changed"));
    EXPECT_EQ(Snapshot(archive_), before);

    Result real;
    ASSERT_NO_FATAL_FAILURE(SyncExpecting({"--delete"},
                                          {{"added.bin", "new"},
                                           {"goes.bin", "delete"},
                                           {"grows.bin", "grown"},
                                           {"stays.bin", "equal"},
                                           {"sub/inner.bin", "equal"}},
                                          &real));
    EXPECT_EQ(ActionsOf(dry.out), ActionsOf(real.out));
    EXPECT_EQ(Files(archive_), Files(source_));

    // Up to date: nothing to do is success.
    const Result again = Sync({"--delete"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("0 new, 0 grown, 0 replaced, 4 equal, 0 deleted, 0 kept"));
}

TEST_F(SyncTest, AHostileRecordDeletesNothingOutsideTheArchive) {
    ASSERT_EQ(Sync().status, 0);
    RemoveFromReceiver("goes.bin");
    const std::string outside = folder_.File("outside");
    fs::create_directories(outside);
    const std::string victim = outside + "/victim.bin";
    WriteFileBytes(victim, "precious");
    struct stat info {};
    ASSERT_EQ(stat(victim.c_str(), &info), 0);
    const std::string fits = std::to_string(info.st_size) + " " + std::to_string(info.st_mtime);
    fs::create_directory_symlink(outside, archive_ + "/link");
    fs::create_symlink(victim, archive_ + "/filelink");

    // The record of goes.bin stays among the hostile lines, and a torn line at the end.
    std::string record = ReadFileBytes(archive_ + "/.tessel-sync");
    std::string goes;
    std::istringstream lines(record);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" goes.bin") != std::string::npos) goes = line;
    ASSERT_FALSE(goes.empty()) << record;
    const std::string depth = fs::relative(victim, archive_).string();
    WriteFileBytes(archive_ + "/.tessel-sync",
                   "tessel-sync 1\n" + fits + " ../outside/victim.bin\n" + fits + " " + depth +
                       "\n" + fits + " " + victim + "\n" + fits + " link/victim.bin\n" + fits +
                       " sub/../../outside/victim.bin\n" + fits + " filelink\n" + fits +
                       " .tessel-sync\nnonsense line\n" + goes + "\n" + fits + " stays.b");

    const Result run = Sync({"--delete"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(archive_ + "/link"));
    EXPECT_TRUE(fs::is_symlink(archive_ + "/filelink"));
    EXPECT_EQ(ActionsOf(run.out)["goes.bin"], "delete");
    EXPECT_FALSE(fs::exists(archive_ + "/goes.bin"));
    EXPECT_TRUE(fs::exists(archive_ + "/stays.bin"));
    // The record written anew is whole and holds no hostile line.
    const std::string rewritten = ReadFileBytes(archive_ + "/.tessel-sync");
    EXPECT_EQ(rewritten.rfind("tessel-sync 1\n", 0), 0u);
    EXPECT_EQ(rewritten.find(".."), std::string::npos) << rewritten;
    EXPECT_EQ(rewritten.find(outside), std::string::npos) << rewritten;

    // A record that is a link out of the archive is not read at all.
    fs::remove(archive_ + "/.tessel-sync");
    fs::create_symlink(victim, archive_ + "/.tessel-sync");
    const Result linked = Sync({"--delete"});
    EXPECT_EQ(linked.status, 1);
    EXPECT_THAT(linked.err, HasSubstr(".tessel-sync"));
    EXPECT_EQ(ReadFileBytes(victim), "precious");

    // Nor is one that is a pipe: no run waits for a writer that never comes.
    fs::remove(archive_ + "/.tessel-sync");
    ASSERT_EQ(mkfifo((archive_ + "/.tessel-sync").c_str(), 0600), 0);
    const Result piped = Sync({"--delete"});
    EXPECT_EQ(piped.status, 1);
    EXPECT_THAT(piped.err, HasSubstr(".tessel-sync is not a regular file"));
}

TEST_F(SyncTest, AFileTheUserChangedIsNeitherOverwrittenNorDeleted) {
    ASSERT_EQ(Sync().status, 0);
    // Both changed in the archive after sync wrote them.
    const std::string theirs = RandomBytes(70000, 9);
    WriteFileBytes(archive_ + "/stays.bin", theirs);
    const auto written = fs::last_write_time(archive_ + "/stays.bin");
    fs::last_write_time(archive_ + "/stays.bin", written + std::chrono::minutes(5));
    WriteFileBytes(archive_ + "/goes.bin", "rewritten by the user");
    RemoveFromReceiver("goes.bin");

    const Result run = Sync({"--delete"});
    EXPECT_EQ(run.status, 1);
    const Actions actions = ActionsOf(run.out);
    EXPECT_EQ(actions.at("stays.bin"), "differs");
    EXPECT_EQ(actions.at("goes.bin"), "kept");
    EXPECT_THAT(run.err, HasSubstr(archive_ + "/stays.bin"));
    EXPECT_TRUE(ReadFileBytes(archive_ + "/stays.bin") == theirs);
    EXPECT_EQ(ReadFileBytes(archive_ + "/goes.bin"), "rewritten by the user");
}

TEST_F(SyncTest, AStoppedSyncEndsWith130AndTheNextRunResumesItsPartialCopy) {
    const std::string data = RandomBytes(24 * 1048576 + 3, 10);
    PutToReceiver("long.bin", data);
    // 4 ms a command: the copy of 384 chunks takes about 1.5 s; it is stopped after 6 MB.
    const Result stopped = RunInterrupted(
        {"--emulate", image_, "--emulate-fault", "latency=4", "sync", "C:\\src", archive_}, 6);
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    const uint64_t partial = fs::file_size(archive_ + "/long.bin");
    EXPECT_GT(partial, 2u << 20);
    EXPECT_LT(partial, data.size());

    const Result again = Sync();
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ActionsOf(again.out)["long.bin"], "grown");
    EXPECT_EQ(Files(archive_), Files(source_));
}

TEST_F(SyncTest, SyncsOwnCopyOfAChangedSourceIsCopiedAgainAndNoOtherFileIs) {
    ASSERT_EQ(Sync().status, 0);
    // Too short for a resume: a grown small file is copied again when the PC file is sync's.
    const std::string inner = ReadFileBytes(source_ + "/sub/inner.bin") + RandomBytes(20000, 11);
    PutToReceiver("sub/inner.bin", inner);
    // The same for a file the user put there: not sync's, so it is kept.
    const std::string placed = RandomBytes(45000, 12);
    WriteFileBytes(archive_ + "/placed.bin", placed.substr(0, 30000));
    PutToReceiver("placed.bin", placed);

    const Result run = Sync();
    EXPECT_EQ(run.status, 1);
    const Actions actions = ActionsOf(run.out);
    EXPECT_EQ(actions.at("sub/inner.bin"), "replace");
    EXPECT_EQ(actions.at("placed.bin"), "differs");
    EXPECT_THAT(run.err, HasSubstr(archive_ + "/placed.bin"));
    EXPECT_TRUE(ReadFileBytes(archive_ + "/sub/inner.bin") == inner);
    EXPECT_TRUE(ReadFileBytes(archive_ + "/placed.bin") == placed.substr(0, 30000));

    // Once the user moved it away, the archive is in step again.
    fs::remove(archive_ + "/placed.bin");
    const Result after = Sync();
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(Files(archive_), Files(source_));
}

TEST_F(SyncTest, TwoReceiverFoldersSyncedIntoOneArchiveLeaveEachOthersCopiesAlone) {
    const std::string other = folder_.File("other");
    fs::create_directories(other);
    WriteFileBytes(other + "/elsewhere.bin", RandomBytes(60000, 13));
    // The same name as a file of C:\src, other bytes.
    WriteFileBytes(other + "/stays.bin", RandomBytes(80000, 14));
    ASSERT_EQ(Emulated({"--yes-all", "put", other, "C:\\"}).status, 0);
    ASSERT_EQ(Sync().status, 0);
    const std::string src_stays = ReadFileBytes(archive_ + "/stays.bin");

    // The other folder's sync neither replaces C:\src's copy of its name nor deletes the
    // copies whose sources it does not hold.
    const Result others = SyncOf("C:\\other", {"--delete"});
    EXPECT_EQ(others.status, 1) << others.err;
    EXPECT_EQ(ActionsOf(others.out), (Actions{{"elsewhere.bin", "new"}, {"stays.bin", "differs"}}));
    EXPECT_TRUE(ReadFileBytes(archive_ + "/stays.bin") == src_stays);
    for (const char* kept : {"goes.bin", "grows.bin", "sub/inner.bin"})
        EXPECT_TRUE(fs::exists(archive_ + "/" + kept)) << kept;

    // C:\src's own sync deletes only its own copy of a file gone from it.
    RemoveFromReceiver("goes.bin");
    Result own;
    ASSERT_NO_FATAL_FAILURE(SyncExpecting({"--delete"},
                                          {{"goes.bin", "delete"},
                                           {"grows.bin", "equal"},
                                           {"stays.bin", "equal"},
                                           {"sub/inner.bin", "equal"}},
                                          &own));
    EXPECT_FALSE(fs::exists(archive_ + "/goes.bin"));
    EXPECT_TRUE(ReadFileBytes(archive_ + "/elsewhere.bin") ==
                ReadFileBytes(other + "/elsewhere.bin"));
}

TEST_F(SyncTest, ARecordThatDoesNotSayItsSourceFolderCostsNoCopyAndIsTakenOverWhereItMatches) {
    ASSERT_EQ(Sync().status, 0);
    // The record as a sync that did not note source folders wrote it: "SIZE TIME PATH".
    const std::string record_path = archive_ + "/.tessel-sync";
    std::istringstream lines(ReadFileBytes(record_path));
    std::string line, rewritten;
    while (std::getline(lines, line)) {
        if (line.rfind("s ", 0) == 0) {
            line.erase(0, 2);
            const size_t time_end = line.find(' ', line.find(' ') + 1);
            line.erase(time_end, line.find(' ', time_end + 1) - time_end);
        }
        rewritten += line + "\n";
    }
    ASSERT_EQ(rewritten.find("C:"), std::string::npos) << rewritten;
    WriteFileBytes(record_path, rewritten);

    // A gone source's copy is kept: sync cannot tell which folder it came from.
    RemoveFromReceiver("goes.bin");
    const Result run = Sync({"--delete"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ActionsOf(run.out).at("goes.bin"), "kept");
    EXPECT_THAT(run.out, HasSubstr("did not note which receiver folder"));
    EXPECT_TRUE(fs::exists(archive_ + "/goes.bin"));
    // The equal copies are taken over by this folder's sync: a later --delete deletes them.
    RemoveFromReceiver("stays.bin");
    const Result later = Sync({"--delete"});
    EXPECT_EQ(later.status, 0) << later.err;
    EXPECT_EQ(ActionsOf(later.out).at("stays.bin"), "delete");
    EXPECT_FALSE(fs::exists(archive_ + "/stays.bin"));
    EXPECT_TRUE(fs::exists(archive_ + "/goes.bin"));
}

}  // namespace
