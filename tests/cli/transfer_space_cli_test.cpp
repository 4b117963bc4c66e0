// tessel put and get weigh a transfer against the target's free space before the first byte:
// one that would not fit is refused with both figures, one that fits runs.
#include <chrono>
#include <filesystem>

#include "tests/cli/cli_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

// A new disk of 16 MiB with clusters of 32 KiB has 506 clusters free: the boot area, the
// table and the root folder take the first 192 KiB.
constexpr uint64_t kFreeOnNewDisk = 506u * 32768;

class TransferSpaceCliTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        small_ = folder_.File("small.img");
        ASSERT_EQ(Run({"mkimage", small_, "--size", "16M", "--cluster", "32K"}).status, 0);
    }

    Result OnSmall(std::vector<std::string> args) {
        args.insert(args.begin(), {"--emulate", small_});
        return Run(args);
    }

    // What "df" says of the small disk: "N free of 16.0 MiB (M used)".
    std::string Df() {
        const Result df = OnSmall({"df"});
        EXPECT_EQ(df.status, 0) << df.err;
        return df.out;
    }

    // The receiver's file, read back through the real transport.
    std::string Back(const std::string& name) {
        const std::string back = folder_.File("back");
        fs::remove_all(back);
        fs::create_directories(back);
        EXPECT_EQ(OnSmall({"get", "C:\\" + name, back}).status, 0);
        return ReadFileBytes(back + "/" + name);
    }

    void ExpectSmallClean() {
        const Result check = Run({"--image", small_, "check"});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }

    std::string small_;
};

TEST_F(TransferSpaceCliTest, APutThatWouldNotFitIsRefusedBeforeItsFirstByte) {
    ASSERT_THAT(Df(), HasSubstr("15.8 MiB free of 16.0 MiB (192.0 KiB used)"));
    WriteFileBytes(folder_.File("keep.ts"), RandomBytes(100000, 1));
    ASSERT_EQ(OnSmall({"put", folder_.File("keep.ts"), "C:\\"}).status, 0);
    const std::string left = Df();

    // 20 MB do not fit in the 15.7 MiB left.
    WriteFileBytes(folder_.File("big.ts"), RandomBytes(20 << 20, 2));
    const Result put = OnSmall({"put", folder_.File("big.ts"), "C:\\"});
    EXPECT_EQ(put.status, 1);
    EXPECT_THAT(put.err,
                HasSubstr("not enough free space on the receiver's disk: 20.0 MiB needed, 15.7 "
                          "MiB free; nothing copied (--no-space-check copies anyway)"));
    EXPECT_THAT(put.err, Not(HasSubstr("is full")));
    const Result ls = OnSmall({"ls"});
    EXPECT_THAT(ls.out, Not(HasSubstr("big.ts")));
    EXPECT_THAT(ls.out, HasSubstr("keep.ts"));
    EXPECT_EQ(Df(), left);
    ExpectSmallClean();

    // Told to copy anyway, the copy begins and ends at the full disk.
    const Result anyway = OnSmall({"--no-space-check", "put", folder_.File("big.ts"), "C:\\"});
    EXPECT_EQ(anyway.status, 1);
    EXPECT_THAT(anyway.err, HasSubstr("the receiver's disk is full"));
    EXPECT_THAT(anyway.err, Not(HasSubstr("not enough free space")));
    ExpectSmallClean();
}

TEST_F(TransferSpaceCliTest, AFileThatJustFitsIsCopiedAndASameSizeOneGoesOverItOnAFullDisk) {
    const std::string first = RandomBytes(kFreeOnNewDisk, 3);
    WriteFileBytes(folder_.File("rec.ts"), first);
    const Result put = OnSmall({"put", folder_.File("rec.ts"), "C:\\"});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(Df(), HasSubstr("0 bytes free"));
    EXPECT_TRUE(Back("rec.ts") == first);

    // Nothing is free, yet other bytes of the same size (a minute younger) go over it.
    const std::string second = RandomBytes(kFreeOnNewDisk, 4);
    WriteFileBytes(folder_.File("rec.ts"), second);
    fs::last_write_time(folder_.File("rec.ts"),
                        fs::last_write_time(folder_.File("rec.ts")) + std::chrono::minutes(1));
    const Result again = OnSmall({"--yes-all", "put", folder_.File("rec.ts"), "C:\\"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("Overwritten files: 1"));
    EXPECT_TRUE(Back("rec.ts") == second);
    ExpectSmallClean();
}

TEST_F(TransferSpaceCliTest, AResumeNeedsOnlyTheRest) {
    const std::string whole = RandomBytes(kFreeOnNewDisk, 5);
    // A partial copy of 9 MiB on the receiver; less is left free than the whole file.
    WriteFileBytes(folder_.File("rec.ts"), whole.substr(0, 9u << 20));
    ASSERT_EQ(OnSmall({"put", folder_.File("rec.ts"), "C:\\"}).status, 0);
    ASSERT_THAT(Df(), HasSubstr("6.8 MiB free"));
    WriteFileBytes(folder_.File("rec.ts"), whole);
    const Result resumed = OnSmall({"--resume", "put", folder_.File("rec.ts"), "C:\\"});
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_THAT(resumed.out, HasSubstr("Resumed files: 1"));
    EXPECT_THAT(Df(), HasSubstr("0 bytes free"));
    EXPECT_TRUE(Back("rec.ts") == whole);
    ExpectSmallClean();
}

}  // namespace
