#include "io/file_handle.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include "support/win_files.h"
#include "support/wine.h"

using namespace testing_support;

namespace {

TEST(FileHandle, ClosedObjectFailsQuietly) {
    FileHandle file;
    EXPECT_FALSE(file.IsOpen());
    file.Close();
    file.Close();
    char buffer[4];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Write(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(file.Seek(0));
    EXPECT_EQ(file.Size(), UNKNOWN_FILE_SIZE);
}

TEST(FileHandle, OpenReadRefusesASecondOpenAndKeepsTheFirstFile) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "a", std::string("first")));
    ASSERT_TRUE(WriteWholeFile(folder / "b", std::string("second")));
    FileHandle file;
    ASSERT_TRUE(file.OpenRead((folder / "a").c_str()));
    EXPECT_FALSE(file.OpenRead((folder / "b").c_str()));
    EXPECT_FALSE(file.CreateWrite((folder / "b").c_str()));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "first");
    EXPECT_EQ(ReadWholeFile(folder / "b").size(), 6u) << "the refused CreateWrite must not truncate";
    file.Close();
    file.Close();
    EXPECT_TRUE(file.OpenRead((folder / "b").c_str())) << "a closed object opens again";
}

TEST(FileHandle, OpenReadOfMissingFileStaysClosed) {
    TempFolder folder;
    FileHandle file;
    EXPECT_FALSE(file.OpenRead((folder / "missing").c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Size(), UNKNOWN_FILE_SIZE);
}

TEST(FileHandle, ReadOfZeroBytesAndSeeks) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "f", std::string("0123456789")));
    FileHandle file;
    ASSERT_TRUE(file.OpenRead((folder / "f").c_str()));
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, 0), 0u);
    EXPECT_EQ(file.Size(), 10u);
    ASSERT_TRUE(file.Seek(4));
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(buffer[0], '4');
    EXPECT_TRUE(file.Seek(1000)) << "seeking beyond the end is allowed";
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(file.Seek(0x80000000u)) << "positions from 2 GiB on are out of reach";
    EXPECT_FALSE(file.Seek(0xFFFFFFFFu)) << "the failure value must not pass for the position asked";
    EXPECT_TRUE(file.Seek(0x7FFFFFFFu));
}

TEST(FileHandle, SizeOfAFileOf4GiBAndMoreIsWhole) {
    TempFolder folder;
    const std::string path = folder / "sparse";
    for (const uint64_t size : {(uint64_t{1} << 32) + 5, uint64_t{1} << 32, (uint64_t{5} << 32) + 0x12345678}) {
        SCOPED_TRACE(size);
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD ignored = 0;
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        const bool grown = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
        CloseHandle(h);
        if (!grown) GTEST_SKIP() << "this file system cannot hold a sparse file of " << size << " bytes";
        FileHandle file;
        ASSERT_TRUE(file.OpenRead(path.c_str()));
        EXPECT_EQ(file.Size(), size) << "the low 32 bits alone would make it look small";
    }
}

TEST(FileHandle, CreateWriteTruncatesAndWrites) {
    TempFolder folder;
    const std::string path = folder / "w";
    ASSERT_TRUE(WriteWholeFile(path, std::string("old content")));
    {
        FileHandle file;
        ASSERT_TRUE(file.CreateWrite(path.c_str()));
    }
    bool exists = false;
    EXPECT_TRUE(ReadWholeFile(path, &exists).empty());
    EXPECT_TRUE(exists);
    FileHandle file;
    ASSERT_TRUE(file.CreateWrite(path.c_str()));
    EXPECT_EQ(file.Write("xyz", 3), 3u);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{'x', 'y', 'z'}));
}

TEST(FileHandle, CreateWriteRefusesReadOnlyFile) {
    if (!ReadOnlyIsEnforced()) GTEST_SKIP() << "this Wine, run as root, does not enforce the read-only attribute";
    TempFolder folder;
    const std::string path = folder / "ro";
    ASSERT_TRUE(WriteWholeFile(path, std::string("keep")));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    FileHandle file;
    EXPECT_FALSE(file.CreateWrite(path.c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadWholeFile(path).size(), 4u);
}

TEST(FileHandle, FileHeldForWritingElsewhere) {
    TempFolder folder;
    const std::string path = folder / "held";
    ASSERT_TRUE(WriteWholeFile(path, std::string("data")));
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    FileHandle reader, writer;
    EXPECT_FALSE(reader.OpenRead(path.c_str()));
    EXPECT_FALSE(writer.CreateWrite(path.c_str()));
    CloseHandle(other);
    EXPECT_TRUE(reader.OpenRead(path.c_str()));
}

TEST(FileHandle, ReaderSharesReadingOnly) {
    TempFolder folder;
    const std::string path = folder / "shared";
    ASSERT_TRUE(WriteWholeFile(path, std::string("data")));
    FileHandle reader;
    ASSERT_TRUE(reader.OpenRead(path.c_str()));
    FileHandle second;
    EXPECT_TRUE(second.OpenRead(path.c_str()));
    FileHandle writer;
    EXPECT_FALSE(writer.CreateWrite(path.c_str()));
}

TEST(FileHandle, DestructorCloses) {
    TempFolder folder;
    const std::string path = folder / "d";
    {
        FileHandle file;
        ASSERT_TRUE(file.CreateWrite(path.c_str()));
    }
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "the handle must be closed by the destructor";
}

}  // namespace
