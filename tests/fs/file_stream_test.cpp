// CFile over the operating system's files and CRawFile over the receiver's.
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "emulator/image/sample_content.h"
#include "platform/file/cfile.h"
#include "platform/last_error.h"
#include "pvrdisk/fs/raw_file.h"
#include "tests/fs/disk_fixture.h"

namespace {

TEST(CFileTest, ReadWriteSeekLength) {
    TempFolder folder;
    const std::string path = folder.File("pc.bin");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite |
                                            CFile::typeBinary | CFile::shareDenyWrite));
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.GetPosition(), 11u);
    EXPECT_EQ(file.Seek(-5, CFile::end), 6u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
    EXPECT_EQ(file.Seek(1, CFile::current), 3u);
    EXPECT_THROW(file.Seek(-10, CFile::current), CFileException);
    file.SetLength(5ull << 30);  // sparse
    EXPECT_EQ(file.GetLength(), 5ull << 30);
    EXPECT_EQ(file.Seek(4ull << 30, CFile::begin), 4ull << 30);
    file.Flush();
    EXPECT_EQ(file.GetFilePath(), path);
    EXPECT_EQ(file.GetFileName(), "pc.bin");
    EXPECT_EQ(file.GetFileTitle(), "pc");
    EXPECT_STREQ(file.GetRuntimeClassName(), "class CFile");
    file.Close();
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
}

TEST(CFileTest, CreateTruncatesUnlessToldNot) {
    TempFolder folder;
    const std::string path = folder.File("keep.txt");
    WriteFileBytes(path, "original");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
        file.Write("O", 1);
    }
    EXPECT_EQ(ReadFileBytes(path), "Original");
    { CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite); }
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST(CFileTest, FailuresCarryCauseAndSystemError) {
    TempFolder folder;
    CFileException error;
    CFile file;
    EXPECT_FALSE(file.Open(folder.File("missing").c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, ENOENT);
    EXPECT_FALSE(file.Open(folder.Path().c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    try {
        CFile missing(folder.File("no/such/file").c_str(), CFile::modeRead);
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& raised) {
        EXPECT_EQ(raised.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(raised.m_lOsError, ENOENT);
    }
    EXPECT_THROW(file.SetFilePath(nullptr), std::invalid_argument);
    CFile full;
    ASSERT_TRUE(full.Open("/dev/full", CFile::modeWrite));
    try {
        full.Write("x", 1);
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& raised) {
        EXPECT_EQ(raised.m_cause, CFileException::diskFull);
    }
}

class RawFileTest : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        ASSERT_EQ(MakeAndMount(), 0);
        ASSERT_EQ(pcfm_mkdir("C:\\MOVIES"), 0);
        ASSERT_EQ(WriteFile("C:\\MOVIES\\A.TS", "0123456789"), "");
    }
};

TEST_F(RawFileTest, OpenCleansThePathAndNamesTheFile) {
    CRawFile file;
    ASSERT_TRUE(file.Open("C:\\\\MOVIES\\\\A.TS", CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(file.GetFilePath(), "C:\\MOVIES\\A.TS");
    EXPECT_EQ(file.GetFileName(), "A.TS");
    EXPECT_EQ(file.GetFileTitle(), "A");
    EXPECT_STREQ(file.GetRuntimeClassName(), "class CRawFile");
    CFile& base = file;
    EXPECT_STREQ(base.GetRuntimeClassName(), "class CRawFile");
    EXPECT_EQ(base.GetLength(), 10u);
    char buffer[4];
    EXPECT_EQ(base.Read(buffer, 4), 4u);
    base.Write("x", 1);  // read only
    EXPECT_EQ(platform::GetLastError(), platform::kErrorReceiverIo);
    file.Close();
    EXPECT_EQ(file.Handle(), nullptr);
    EXPECT_FALSE(file.Open("C:\\MOVIES\\B.TS", CFile::modeRead));
    EXPECT_EQ(file.Handle(), nullptr);
}

TEST_F(RawFileTest, WriteModes) {
    {
        CRawFile file;
        ASSERT_TRUE(file.Open("C:\\MOVIES\\A.TS", CFile::modeWrite | CFile::typeBinary));
        file.Write("ab", 2);  // over the start, the rest stays
    }
    EXPECT_EQ(ReadFile("C:\\MOVIES\\A.TS"), "ab23456789");
    {
        CRawFile file;
        ASSERT_TRUE(file.Open("C:\\MOVIES\\A.TS",
                              CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
        EXPECT_EQ(file.GetPosition(), 0u);
        file.Write("AB", 2);
    }
    EXPECT_EQ(ReadFile("C:\\MOVIES\\A.TS"), "AB23456789");
    {
        CRawFile file;
        ASSERT_TRUE(file.Open("C:\\MOVIES\\A.TS",
                              CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite));
        file.Write("new", 3);
        char back[3];
        file.SeekToBegin();
        EXPECT_EQ(file.Read(back, 3), 3u);  // write with create also reads
        EXPECT_EQ(std::string(back, 3), "new");
    }
    EXPECT_EQ(ReadFile("C:\\MOVIES\\A.TS"), "new");
    CRawFile shared;
    ASSERT_TRUE(shared.Open("C:\\MOVIES\\A.TS", CFile::modeRead | CFile::shareDenyNone));
    char byte;
    EXPECT_EQ(shared.Read(&byte, 1), 1u);
}

TEST_F(RawFileTest, ReadPastTheEndIsNotAFailure) {
    CRawFile file;
    ASSERT_TRUE(file.Open("C:\\MOVIES\\A.TS", CFile::modeRead));
    platform::SetLastError(0);
    char buffer[20];
    EXPECT_EQ(file.Read(buffer, 20), 10u);
    EXPECT_EQ(file.Read(buffer, 20), 0u);
    EXPECT_EQ(platform::GetLastError(), 0u);
    // An error left behind by an unrelated call does not fail the next read.
    CRawFile other;
    EXPECT_FALSE(other.Open("C:\\MOVIES\\none", CFile::modeRead));
    file.SeekToBegin();
    EXPECT_EQ(file.Read(buffer, 5), 5u);
    EXPECT_EQ(platform::GetLastError(), 0u);
}

TEST_F(RawFileTest, ReadFailureSetsTheLinkError) {
    ASSERT_EQ(WriteFile("C:\\big", std::string(100000, 'b')), "");
    CRawFile file;
    ASSERT_TRUE(file.Open("C:\\big", CFile::modeRead));
    RecordingDriver::fail_read_first = kDataStart;
    RecordingDriver::fail_read_count = 1u << 30;
    platform::SetLastError(0);
    char buffer[4096];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorReceiverIo);
    RecordingDriver::fail_read_count = 0;
}

TEST_F(RawFileTest, DestructorClosesSoTheFileReachesTheDisk) {
    {
        CRawFile file;
        ASSERT_TRUE(file.Open("C:\\kept", CFile::modeCreate | CFile::modeWrite));
        file.Write("kept", 4);
    }
    Remount();
    EXPECT_EQ(ReadFile("C:\\kept"), "kept");
}

class RawFileLargeTest : public DiskTest {};

TEST_F(RawFileLargeTest, SeeksBeyondFourGibibytesAndLengthKeepsThePosition) {
    ASSERT_EQ(MakeAndMount(7ull << 30, 128u << 10), 0);
    ASSERT_EQ(MountSparse(), 0);
    std::string error;
    ASSERT_TRUE(image::WriteLargeRecording("C:\\six.TP0", "Six", 6ull << 30, &error)) << error;
    CRawFile file;
    ASSERT_TRUE(file.Open("C:\\six.TP0", CFile::modeWrite));
    EXPECT_EQ(file.Seek(5ll << 30, CFile::begin), 5ull << 30);
    EXPECT_EQ(file.GetPosition(), 5ull << 30);
    file.Write("mark", 4);
    EXPECT_EQ(file.GetLength(), 6ull << 30);
    EXPECT_EQ(file.GetPosition(), (5ull << 30) + 4);
    file.Seek(-4, CFile::current);  // beyond 32 bits relative: refused, position kept
    EXPECT_EQ(file.GetPosition(), (5ull << 30) + 4);
    file.SeekToEnd();
    EXPECT_EQ(file.GetPosition(), 6ull << 30);
    file.Seek(5ll << 30, CFile::begin);
    char back[4];
    EXPECT_EQ(file.Read(back, 4), 4u);
    EXPECT_EQ(std::string(back, 4), "mark");
}

}  // namespace
