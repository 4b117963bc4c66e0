// The receiver's disk as a folder: listing, reading at any offset, cp off the mount, changes
// through a read-write mount checked by the disk's consistency check, a receiver pulled out
// and plugged in again while mounted, and the unmount writing back what is still open.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "platform/tick_count.h"
#include "pvrdisk/pcfm.h"
#include "tests/mount/mount_fixture.h"
#include "tests/support/temp_folder.h"
#include "transfer/box_function_mgr.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes at `offset` of a file through the mount; with `error` the errno of a failed read.
std::string ReadAt(int fd, uint64_t offset, size_t length, int* error = nullptr) {
    std::string bytes(length, '\0');
    const ssize_t got = pread(fd, bytes.data(), length, static_cast<off_t>(offset));
    if (error != nullptr) *error = got < 0 ? errno : 0;
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

bool WriteAll(int fd, const std::string& bytes, uint64_t offset) {
    return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(bytes.size());
}

int RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MountTest : public MountFixture {};

}  // namespace

TEST_F(MountTest, ListsEachEntryUnderTheNameACopyToThePcGivesIt) {
    PutReceiverFolder("C:\\Films");
    PutReceiverFile("C:\\Films\\News.TS", std::string(70000, 'n'));
    // Two names that a copy to the PC cleans to one: the second is told apart.
    PutReceiverFile("C:\\a:b.TS", "first");
    PutReceiverFile("C:\\a;b.TS", "second!");
    PutReceiverFile("C:\\plain", "no extension");
    Connect();
    CBoxFunctionMgr box;
    ASSERT_TRUE(box.ReadDir("C:\\"));
    StartMount(false);

    EXPECT_EQ(ListFolder(mountpoint_),
              (std::vector<std::string>{"Films", "a;b (2).TS", "a;b.TS", "plain."}));
    EXPECT_EQ(ListFolder(Mounted("Films")), std::vector<std::string>{"News.TS"});
    struct stat st {};
    ASSERT_EQ(stat(Mounted("a;b.TS").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(stat(Mounted("a;b (2).TS").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 7);
    ASSERT_EQ(stat(Mounted("Films/News.TS").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 70000);
    ASSERT_EQ(stat(Mounted("Films").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // The times the receiver pane shows.
    for (const CDirEntry& entry : box.listing) {
        std::string shown = CBoxFunctionMgr::PcTargetName(entry, false);
        if (entry.name == "a;b.TS") shown = "a;b (2).TS";
        ASSERT_EQ(stat(Mounted(shown).c_str(), &st), 0) << shown;
        EXPECT_EQ(st.st_mtime, entry.time) << shown;
    }
    EXPECT_EQ(Outcome(stat(Mounted("missing.TS").c_str(), &st)), -ENOENT);
    EXPECT_EQ(Outcome(stat(Mounted("a;b.TS/inside").c_str(), &st)), -ENOTDIR);
}

TEST_F(MountTest, ReadsAtRandomOffsetsExactlyAndCpCopiesAFolderOff) {
    const std::string film = RandomBytes((3u << 20) + 12345, 7);
    const std::string small = RandomBytes(1000, 8);
    PutReceiverFolder("C:\\Films");
    PutReceiverFile("C:\\Films\\Film.TS", film);
    PutReceiverFile("C:\\Films\\Small.TXT", small);
    PutReceiverFile("C:\\Films\\Empty.TXT", "");
    Connect();
    StartMount(false);

    OpenFile file(open(Mounted("Films/Film.TS").c_str(), O_RDONLY));
    ASSERT_TRUE(file.ok());
    const int fd = file.fd();
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        const uint64_t offset = random() % film.size();
        const size_t length = 1 + random() % (300 * 1024);
        const std::string got = ReadAt(fd, offset, length);
        const std::string want = film.substr(offset, length);
        ASSERT_TRUE(got == want) << "at " << offset << " for " << length;
    }
    EXPECT_EQ(ReadAt(fd, film.size(), 100), "");
    EXPECT_EQ(ReadAt(fd, film.size() - 5, 100), film.substr(film.size() - 5));
    EXPECT_EQ(file.Close(), 0);

    TempFolder pc;
    ASSERT_EQ(RunProgram({"/bin/cp", "-r", Mounted("Films"), pc.Path()}), 0);
    EXPECT_TRUE(ReadFileBytes(pc.File("Films/Film.TS")) == film);
    EXPECT_EQ(ReadFileBytes(pc.File("Films/Small.TXT")), small);
    EXPECT_TRUE(std::filesystem::exists(pc.File("Films/Empty.TXT")));
    EXPECT_EQ(std::filesystem::file_size(pc.File("Films/Empty.TXT")), 0u);
}

TEST_F(MountTest, AReadOnlyMountChangesNothing) {
    PutReceiverFile("C:\\keep.TS", "kept");
    Connect();
    StartMount(false);
    EXPECT_EQ(OpenOutcome(Mounted("keep.TS"), O_WRONLY), -EROFS);
    EXPECT_EQ(OpenOutcome(Mounted("new.TS"), O_WRONLY | O_CREAT), -EROFS);
    EXPECT_EQ(Outcome(mkdir(Mounted("Dir").c_str(), 0755)), -EROFS);
    EXPECT_EQ(Outcome(unlink(Mounted("keep.TS").c_str())), -EROFS);
    EXPECT_EQ(Outcome(rename(Mounted("keep.TS").c_str(), Mounted("moved.TS").c_str())), -EROFS);
    StopMount();
    EXPECT_EQ(ReceiverBytes("C:\\keep.TS"), "kept");
    ExpectDiskClean();
}

TEST_F(MountTest, ChangesThroughAReadWriteMountLeaveAConsistentDisk) {
    PutReceiverFolder("C:\\jukebox");
    PutReceiverFolder("C:\\Old");
    PutReceiverFolder("C:\\Full");
    PutReceiverFile("C:\\Full\\inside.TS", "inside");
    PutReceiverFile("C:\\tm_shift.000", "time shift");
    PutReceiverFile("C:\\a:b.TS", "shown as a;b");
    PutReceiverFile("C:\\replaced.TS", "old contents");
    PutReceiverFile("C:\\long.TS", RandomBytes(200000, 3));
    Connect();
    StartMount(true);

    // A new file written in pieces, one of them over earlier bytes, one after a gap.
    std::string want = RandomBytes((5u << 19) + 777, 5);
    OpenFile made(open(Mounted("new.TS").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
    ASSERT_TRUE(made.ok());
    const int fd = made.fd();
    for (size_t at = 0; at < want.size(); at += 100000)
        ASSERT_TRUE(WriteAll(fd, want.substr(at, 100000), at));
    const std::string patch = RandomBytes(5000, 6);
    ASSERT_TRUE(WriteAll(fd, patch, 123456));
    want.replace(123456, patch.size(), patch);
    const std::string tail = "after the gap";
    ASSERT_TRUE(WriteAll(fd, tail, want.size() + 3000));
    want += std::string(3000, '\0') + tail;
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(want.size()));
    // An open file is neither deleted nor renamed under its handle.
    EXPECT_EQ(Outcome(unlink(Mounted("new.TS").c_str())), -EBUSY);
    EXPECT_EQ(Outcome(rename(Mounted("new.TS").c_str(), Mounted("x.TS").c_str())), -EBUSY);
    ASSERT_EQ(made.Close(), 0);
    {
        // Read back through the mount.
        OpenFile back(open(Mounted("new.TS").c_str(), O_RDONLY));
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(ReadAt(back.fd(), 0, want.size() + 10) == want);
    }

    ASSERT_EQ(mkdir(Mounted("Shows").c_str(), 0755), 0);
    ASSERT_EQ(rename(Mounted("new.TS").c_str(), Mounted("Shows/new.TS").c_str()), 0);
    ASSERT_EQ(rename(Mounted("Shows/new.TS").c_str(), Mounted("Shows/renamed.TS").c_str()), 0);
    ASSERT_EQ(rename(Mounted("long.TS").c_str(), Mounted("Shows/moved.TS").c_str()), 0);
    ASSERT_EQ(rename(Mounted("Shows/moved.TS").c_str(), Mounted("replaced.TS").c_str()), 0);
    ASSERT_EQ(rename(Mounted("Old").c_str(), Mounted("Shows/Older").c_str()), 0);
    ASSERT_EQ(unlink(Mounted("a;b.TS").c_str()), 0);
    ASSERT_EQ(rmdir(Mounted("Shows/Older").c_str()), 0);
    // Emptied by O_TRUNC, then grown by truncate.
    {
        OpenFile some(open(Mounted("trunc.TS").c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(some.ok());
        ASSERT_TRUE(WriteAll(some.fd(), "some bytes", 0));
        ASSERT_EQ(some.Close(), 0);
        OpenFile emptied(open(Mounted("trunc.TS").c_str(), O_WRONLY | O_TRUNC));
        ASSERT_TRUE(emptied.ok());
        ASSERT_EQ(emptied.Close(), 0);
    }
    ASSERT_EQ(truncate(Mounted("trunc.TS").c_str(), 10), 0);
    EXPECT_EQ(Outcome(truncate(Mounted("trunc.TS").c_str(), 4)), -EOPNOTSUPP);

    // What the mount refuses.
    EXPECT_EQ(Outcome(unlink(Mounted("tm_shift.000").c_str())), -EPERM);
    EXPECT_EQ(OpenOutcome(Mounted("tm_shift.000"), O_WRONLY), -EPERM);
    EXPECT_EQ(Outcome(truncate(Mounted("tm_shift.000").c_str(), 0)), -EPERM);
    EXPECT_EQ(Outcome(rename(Mounted("tm_shift.000").c_str(), Mounted("t.000").c_str())), -EPERM);
    EXPECT_EQ(Outcome(rename(Mounted("trunc.TS").c_str(), Mounted("tm_shift.000").c_str())),
              -EPERM);
    EXPECT_EQ(Outcome(rmdir(Mounted("jukebox").c_str())), -EPERM);
    EXPECT_EQ(Outcome(rename(Mounted("jukebox").c_str(), Mounted("Shows/jukebox").c_str())),
              -EPERM);
    EXPECT_EQ(Outcome(rmdir(Mounted("Full").c_str())), -ENOTEMPTY);
    EXPECT_EQ(Outcome(rename(Mounted("Shows").c_str(), Mounted("Shows/Inner").c_str())), -EINVAL);
    EXPECT_EQ(OpenOutcome(Mounted("M\xC3\xA4rchen.TS"), O_WRONLY | O_CREAT), -EINVAL);
    EXPECT_EQ(OpenOutcome(Mounted(std::string(40, 'x') + ".TS"), O_WRONLY | O_CREAT),
              -ENAMETOOLONG);
    EXPECT_EQ(OpenOutcome(Mounted("a:colon.TS"), O_WRONLY | O_CREAT), -EINVAL);
    EXPECT_EQ(Outcome(mkdir(Mounted("with.dot").c_str(), 0755)), -EINVAL);
    EXPECT_EQ(Outcome(mkdir(Mounted("Shows").c_str(), 0755)), -EEXIST);

    EXPECT_EQ(ListFolder(mountpoint_),
              (std::vector<std::string>{"Full", "Shows", "jukebox", "replaced.TS", "tm_shift.000",
                                        "trunc.TS"}));
    EXPECT_EQ(ListFolder(Mounted("Shows")), std::vector<std::string>{"renamed.TS"});
    StopMount();

    EXPECT_TRUE(ReceiverBytes("C:\\Shows\\renamed.TS") == want);
    EXPECT_TRUE(ReceiverBytes("C:\\replaced.TS") == RandomBytes(200000, 3));
    EXPECT_EQ(ReceiverBytes("C:\\trunc.TS"), std::string(10, '\0'));
    EXPECT_EQ(ReceiverBytes("C:\\tm_shift.000"), "time shift");
    EXPECT_EQ(ReceiverBytes("C:\\Full\\inside.TS"), "inside");
    EXPECT_EQ(ReceiverBytes("C:\\a:b.TS"), "<missing>");
    ExpectDiskClean();
}

TEST_F(MountTest, APulledOutReceiverFailsCallsWithEioAndTheMountComesBackWithIt) {
    const std::string film = RandomBytes(4u << 20, 9);
    PutReceiverFolder("C:\\Films");
    PutReceiverFile("C:\\Films\\Film.TS", film);
    Connect();
    StartMount(true);
    OpenFile reading(open(Mounted("Films/Film.TS").c_str(), O_RDONLY));
    ASSERT_TRUE(reading.ok());
    const int reader = reading.fd();
    EXPECT_TRUE(ReadAt(reader, 0, 4096) == film.substr(0, 4096));
    // A file with bytes not yet written back when the link goes.
    OpenFile writing(open(Mounted("Films/new.TS").c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(writing.ok());
    const int writer = writing.fd();
    ASSERT_TRUE(WriteAll(writer, RandomBytes(100000, 10), 0));

    receiver_->Unplug();
    const auto pulled = Clock::now();
    int error = 0;
    EXPECT_EQ(ReadAt(reader, 3u << 20, 4096, &error), "");
    EXPECT_EQ(error, EIO);
    ListFolder(Mounted("Films"), &error);
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(OpenOutcome(Mounted("Films/other.TS"), O_WRONLY | O_CREAT), -EIO);
    EXPECT_LT(Clock::now() - pulled, std::chrono::seconds(5));

    receiver_->Plug();
    ASSERT_TRUE(WaitUntilBack(10));
    // The reader goes on where it was; the file system was mounted afresh.
    EXPECT_TRUE(ReadAt(reader, 3u << 20, 4096) == film.substr(3u << 20, 4096));
    EXPECT_EQ(ListFolder(Mounted("Films")), (std::vector<std::string>{"Film.TS", "new.TS"}));
    // What the writer had not written back is gone, and it says so.
    EXPECT_EQ(Outcome(static_cast<int>(pwrite(writer, "x", 1, 100000))), -EIO);
    EXPECT_EQ(writing.Close(), -EIO);
    EXPECT_EQ(reading.Close(), 0);
    {
        // New files are written again.
        OpenFile again(open(Mounted("Films/again.TS").c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(again.ok());
        ASSERT_TRUE(WriteAll(again.fd(), "after the replug", 0));
        ASSERT_EQ(again.Close(), 0);
    }
    StopMount();
    EXPECT_EQ(ReceiverBytes("C:\\Films\\again.TS"), "after the replug");
    EXPECT_TRUE(ReceiverBytes("C:\\Films\\Film.TS") == film);
    ExpectDiskClean();
}

TEST_F(MountTest, AnUnmountWhileAFileIsOpenWritesItBackWhenItCloses) {
    Connect();
    StartMount(true);
    const std::string first = RandomBytes(1u << 20, 12), second = RandomBytes(300000, 13);
    OpenFile file(open(Mounted("open.TS").c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(WriteAll(file.fd(), first, 0));
    // A plain unmount refuses a busy folder; the lazy one lets the open file finish.
    EXPECT_NE(RunProgram({"/usr/bin/fusermount3", "-u", mountpoint_}), 0);
    ASSERT_EQ(RunProgram({"/usr/bin/fusermount3", "-u", "-z", mountpoint_}), 0);
    ASSERT_TRUE(WriteAll(file.fd(), second, first.size()));
    ASSERT_EQ(file.Close(), 0);
    JoinServing();
    mount_.reset();
    EXPECT_TRUE(ReceiverBytes("C:\\open.TS") == first + second);
    ExpectDiskClean();
}

TEST_F(MountTest, MoreOpenFilesThanTheFileSystemHasHandlesAreReadAndWrittenInTurn) {
    constexpr int kFiles = 12;
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(RandomBytes(300000 + i, 20 + i));
        PutReceiverFile("C:\\in" + std::to_string(i) + ".TS", contents.back());
    }
    Connect();
    StartMount(true);
    std::vector<std::unique_ptr<OpenFile>> readers, writers;
    for (int i = 0; i < kFiles; ++i) {
        readers.push_back(std::make_unique<OpenFile>(
            open(Mounted("in" + std::to_string(i) + ".TS").c_str(), O_RDONLY)));
        ASSERT_TRUE(readers.back()->ok()) << i;
        writers.push_back(std::make_unique<OpenFile>(
            open(Mounted("out" + std::to_string(i) + ".TS").c_str(), O_WRONLY | O_CREAT, 0644)));
        ASSERT_TRUE(writers.back()->ok()) << i;
    }
    // Each file in turn, a piece at a time: the handles pass from file to file.
    constexpr size_t kPiece = 70000;
    for (size_t at = 0; at < contents[0].size(); at += kPiece)
        for (int i = 0; i < kFiles; ++i) {
            const std::string got = ReadAt(readers[i]->fd(), at, kPiece);
            ASSERT_TRUE(got == contents[i].substr(at, kPiece)) << i << " at " << at;
            ASSERT_TRUE(WriteAll(writers[i]->fd(), got, at)) << i;
        }
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(readers[i]->Close(), 0);
        ASSERT_EQ(writers[i]->Close(), 0);
    }
    StopMount();
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(ReceiverBytes("C:\\out" + std::to_string(i) + ".TS") == contents[i]) << i;
    ExpectDiskClean();
}

TEST_F(MountTest, AWriterCutOffByAPulledOutReceiverLeavesWhatWasWrittenBackEvery16MiB) {
    Connect();
    StartMount(true);
    const std::string bytes = RandomBytes(20u << 20, 30);
    {
        OpenFile writer(open(Mounted("long.TS").c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(writer.ok());
        for (size_t at = 0; at < bytes.size(); at += 128 * 1024)
            ASSERT_TRUE(WriteAll(writer.fd(), bytes.substr(at, 128 * 1024), at));
        receiver_->Unplug();
        EXPECT_EQ(writer.Close(), -EIO);
    }
    receiver_->Plug();
    ASSERT_TRUE(WaitUntilBack(10));
    StopMount();
    const std::string kept = ReceiverBytes("C:\\long.TS");
    EXPECT_EQ(kept.size(), 16u << 20);
    EXPECT_TRUE(kept == bytes.substr(0, kept.size()));
    ExpectDiskClean();
}
