// A damaged receiver disk as a folder: what the mount lists can be reached under its name and
// reads as the entry it names or fails with EIO, folders that lead back into themselves are
// not walked forever, and two entries of one name never stand for each other.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "emulator/image/hostile_image.h"
#include "tests/mount/mount_fixture.h"

namespace {

// Deeper than any sound folder of the hostile disk (its longest path has 17 folders).
constexpr int kDepthLimit = 24;
// More paths than the hostile disk holds when every folder is walked once.
constexpr size_t kPathLimit = 2000;

class DamagedDiskMountTest : public MountFixture {
  protected:
    struct Walk {
        std::vector<std::string> files;  // relative paths
        std::vector<std::string> too_deep;
        size_t paths = 0;
    };

    // Every path below `relative`, bounded in depth and count so that a loop ends the walk.
    void WalkFolder(const std::string& relative, int depth, Walk* walk) {
        int error = 0;
        const std::vector<std::string> names =
            ListFolder(relative.empty() ? mountpoint_ : Mounted(relative), &error);
        EXPECT_EQ(error, 0) << "cannot list " << relative;
        for (const std::string& name : names) {
            if (++walk->paths > kPathLimit) return;
            const std::string path = relative.empty() ? name : relative + "/" + name;
            struct stat st {};
            ASSERT_EQ(stat(Mounted(path).c_str(), &st), 0) << "listed but not found: " << path;
            if (!S_ISDIR(st.st_mode)) {
                walk->files.push_back(path);
            } else if (depth == kDepthLimit) {
                walk->too_deep.push_back(path);
            } else {
                WalkFolder(path, depth + 1, walk);
            }
        }
    }

    // A file's bytes through the mount; `error` is the errno of a failed open or read.
    std::string ReadWhole(const std::string& relative, int* error) {
        *error = 0;
        OpenFile file(open(Mounted(relative).c_str(), O_RDONLY));
        if (!file.ok()) {
            *error = errno;
            return "";
        }
        std::string bytes;
        char piece[65536];
        for (;;) {
            const ssize_t n = read(file.fd(), piece, sizeof piece);
            if (n < 0) {
                *error = errno;
                return bytes;
            }
            if (n == 0) return bytes;
            bytes.append(piece, static_cast<size_t>(n));
        }
    }

    // Renames the directory entry whose 32-byte name field starts with `from` to `to` (same
    // length), in the raw image: a disk with two entries of one name in a folder.
    void RenameEntryInImage(const std::string& from, const std::string& to) {
        ASSERT_EQ(from.size(), to.size());
        std::fstream image(image_, std::ios::in | std::ios::out | std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(image)),
                                std::istreambuf_iterator<char>());
        const size_t at = bytes.find(from + std::string(32 - from.size(), '\0'));
        ASSERT_NE(at, std::string::npos) << from;
        image.seekp(static_cast<std::streamoff>(at));
        image.write(to.data(), static_cast<std::streamsize>(to.size()));
        ASSERT_TRUE(image.good());
    }
};

}  // namespace

TEST_F(DamagedDiskMountTest, EveryListedEntryIsReachedAndReadsAsItselfOrFailsWithEio) {
    std::string error;
    ASSERT_TRUE(image::FillHostileContent(image_, &error)) << error;
    Connect();
    StartMount(false);

    Walk walk;
    WalkFolder("", 0, &walk);
    EXPECT_LE(walk.paths, kPathLimit) << "the walk does not end";
    EXPECT_TRUE(walk.too_deep.empty()) << "a folder leads back into itself: " << walk.too_deep[0];

    std::map<std::string, std::string> readable;
    std::set<std::string> failed;
    for (const std::string& path : walk.files) {
        struct stat st {};
        ASSERT_EQ(stat(Mounted(path).c_str(), &st), 0) << path;
        int read_error = 0;
        const std::string bytes = ReadWhole(path, &read_error);
        if (read_error == 0) {
            EXPECT_EQ(bytes.size(), static_cast<size_t>(st.st_size)) << path;
            readable[path] = bytes;
        } else {
            EXPECT_EQ(read_error, EIO) << path;
            failed.insert(path);
        }
    }
    // Sound files read whole; every damaged chain fails, none reads as zeros or short.
    EXPECT_TRUE(readable["shared.bin"] == std::string(70000, 's'));
    EXPECT_TRUE(readable["chains/intact.bin"] == std::string(100000, 'i'));
    EXPECT_EQ(failed, (std::set<std::string>{"chains/ends_early.bin", "chains/into_free.bin",
                                             "chains/loop.bin", "chains/no_cluster.bin",
                                             "chains/out_of_range.bin", "chains/zero_link.bin"}));
    // The odd names: each file of the folder is filled with its own letter, so a name that
    // led to another entry would show that entry's letter a second time.
    std::set<char> letters;
    for (const auto& [path, bytes] : readable) {
        if (path.rfind("names/", 0) != 0 || path.find('/', 6) != std::string::npos) continue;
        ASSERT_FALSE(bytes.empty()) << path;
        EXPECT_TRUE(bytes == std::string(bytes.size(), bytes[0])) << path;
        EXPECT_TRUE(letters.insert(bytes[0]).second) << path << " reads another entry";
    }
    EXPECT_EQ(letters.count('a'), 1u);
    EXPECT_EQ(readable["graphs/p1/child/kid.txt"], "kid\n");
}

TEST_F(DamagedDiskMountTest, OfTwoEntriesOfOneNameOnlyTheReachableOneShowsOrIsDeleted) {
    PutReceiverFile("C:\\dupa.TS", std::string(3000, 'f'));
    PutReceiverFile("C:\\dupb.TS", std::string(5000, 's'));
    RenameEntryInImage("dupb", "dupa");
    Connect();
    StartMount(true);

    EXPECT_EQ(ListFolder(mountpoint_), std::vector<std::string>{"dupa.TS"});
    for (const std::string& name : ListFolder(mountpoint_)) {
        struct stat st {};
        ASSERT_EQ(stat(Mounted(name).c_str(), &st), 0) << name;
        int read_error = 0;
        const std::string bytes = ReadWhole(name, &read_error);
        EXPECT_EQ(read_error, 0) << name;
        EXPECT_EQ(bytes.size(), static_cast<size_t>(st.st_size)) << name;
    }
    // Deleting a name deletes the entry that name shows, and no other.
    for (const std::string& name : ListFolder(mountpoint_)) {
        if (name != "dupa.TS") {
            EXPECT_EQ(Outcome(unlink(Mounted(name).c_str())), 0) << name;
        }
    }
    StopMount();
    EXPECT_TRUE(ReceiverBytes("C:\\dupa.TS") == std::string(3000, 'f'));
}
