// tessel get and put --verify: each copy is read back and compared; the line "Verified
// files: N, differences: M" follows the summary, and a difference makes the exit status 1.
#include <fcntl.h>

#include <filesystem>

#include "tests/cli/cli_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

class VerifyCliTest : public CliFixture {};

TEST_F(VerifyCliTest, SoundCopiesBothWaysAreVerifiedAndExitZero) {
    fs::create_directories(folder_.File("src"));
    for (int i = 0; i < 5; ++i)
        WriteFileBytes(folder_.File("src/f" + std::to_string(i)),
                       RandomBytes(70000 * static_cast<size_t>(i), static_cast<unsigned>(i)));
    const Result put = Emulated({"--verify", "put", folder_.File("src"), "C:\\"});
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.out, HasSubstr("\nVerified files: 5, differences: 0\n"));

    fs::create_directories(folder_.File("back"));
    const Result get = Emulated({"get", "--verify", "C:\\src", folder_.File("back")});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_THAT(get.out, HasSubstr("\nVerified files: 5, differences: 0\n"));
    // Kept as equal the second time: nothing is copied, so nothing is read back.
    const Result again = Emulated({"get", "--verify", "C:\\src", folder_.File("back")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("\nVerified files: 0, differences: 0\n"));
    // Without --verify the line is not there.
    const Result plain = Emulated({"--yes-all", "put", folder_.File("src"), "C:\\"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_THAT(plain.out, Not(HasSubstr("Verified files")));
    ExpectClean();
}

TEST_F(VerifyCliTest, ATargetChangedDuringItsReadBackFailsTheFileWithExitOne) {
    // Paced as a USB 2.0 link, the read-back of 64 MiB takes more than a second: the byte
    // three quarters in is changed once the read-back reports its first tenth.
    constexpr size_t kSize = 64u << 20;
    constexpr size_t kChanged = kSize / 4 * 3 + 5;
    const std::string data = RandomBytes(kSize, 9);
    WriteFileBytes(folder_.File("rec.ts"), data);
    ASSERT_EQ(Emulated({"put", folder_.File("rec.ts"), "C:\\"}).status, 0);
    fs::create_directories(folder_.File("out"));
    const std::string target = folder_.File("out/rec.ts");

    const pid_t pid = Start({"--emulate", image_, "--emulate-speed", "usb2", "--verify", "get",
                             "C:\\rec.ts", folder_.File("out")});
    ASSERT_GE(pid, 0);
    bool changed = false;
    for (int i = 0; i < 6000 && !changed; ++i) {
        if (ErrorsSoFar().find("  verifying") != std::string::npos) {
            const int fd = open(target.c_str(), O_WRONLY);
            const char byte = static_cast<char>(data[kChanged] ^ 0x01);
            changed = fd >= 0 && pwrite(fd, &byte, 1, kChanged) == 1;
            if (fd >= 0) close(fd);
            break;
        }
        usleep(10000);
    }
    const Result result = Finish(pid);
    ASSERT_TRUE(changed) << result.err;
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr("differs from its source C:\\rec.ts from byte " +
                                      std::to_string(kChanged) + " on"));
    EXPECT_THAT(result.out, HasSubstr("\nVerified files: 1, differences: 1\n"));
    // The target stays, as long as its source.
    EXPECT_EQ(fs::file_size(target), kSize);
}

}  // namespace
