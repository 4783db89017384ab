// The install-folder lookup against the real registry, under a private key.
#include "entry/install_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

constexpr char PUBLISHER[] = "SundriftTestPublisher";

class InstallFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char title[64];
        std::snprintf(title, sizeof title, "Title%lu", GetCurrentProcessId());
        title_ = title;
        keyPath_ = std::string("Software\\") + PUBLISHER + "\\" + title_;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string("Software\\") + PUBLISHER).c_str());
    }

    void SetValue(DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExA(key_, "InstalledFolder", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void SetString(const std::string& text, DWORD type = REG_SZ) {
        SetValue(type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    int Read() { return ReadInstallFolder(folder_, PUBLISHER, title_.c_str()); }

    std::string title_;
    std::string keyPath_;
    HKEY key_ = nullptr;
    char folder_[MAX_PATH];
};

TEST_F(InstallFolder, ReadsAStringValueByteForByte) {
    SetString("C:\\Games\\Aubrelle");
    ASSERT_EQ(Read(), 1);
    EXPECT_STREQ(folder_, "C:\\Games\\Aubrelle");

    // "ソ" ends in the byte 0x5C; the value is kept as stored, nothing trimmed.
    const std::string shiftJis = "C:\\ソフト\\ゲーム\\ソ";
    SetString(shiftJis);
    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(std::string(folder_), shiftJis);
}

TEST_F(InstallFolder, AValueFillingTheBufferWithItsTerminatorFits) {
    const std::string longest(MAX_PATH - 1, 'a');
    SetString(longest);
    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(std::string(folder_), longest);
}

TEST_F(InstallFolder, MissingKeyOrValueReadsAsNotInstalled) {
    EXPECT_EQ(Read(), 0);  // key present, value absent
    EXPECT_EQ(ReadInstallFolder(folder_, PUBLISHER, "NoSuchTitle"), 0);
    EXPECT_EQ(ReadInstallFolder(folder_, nullptr, title_.c_str()), 0);
    EXPECT_EQ(ReadInstallFolder(folder_, PUBLISHER, nullptr), 0);
}

TEST_F(InstallFolder, OtherValueTypesReadAsNotInstalled) {
    SetString("C:\\Games\\Aubrelle", REG_EXPAND_SZ);
    EXPECT_EQ(Read(), 0);
    SetString("C:\\Games\\Aubrelle", REG_BINARY);
    EXPECT_EQ(Read(), 0);
    const char multi[] = "C:\\Games\\Aubrelle\0";
    SetValue(REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(Read(), 0);
    const DWORD number = 1;
    SetValue(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Read(), 0);
}

TEST_F(InstallFolder, OverLongUnterminatedAndEmptyValuesReadAsNotInstalled) {
    SetString(std::string(MAX_PATH, 'b'));  // 261 bytes with the terminator
    EXPECT_EQ(Read(), 0);

    const std::string full(MAX_PATH, 'c');  // all 260 bytes used, no terminator
    SetValue(REG_SZ, full.data(), MAX_PATH);
    EXPECT_EQ(Read(), 0);

    SetString("");
    EXPECT_EQ(Read(), 0);
    SetValue(REG_SZ, "", 0);
    EXPECT_EQ(Read(), 0);
}

TEST_F(InstallFolder, AKeyPathBeyondItsBufferIsRefused) {
    const std::string hugeTitle(5000, 't');
    EXPECT_EQ(ReadInstallFolder(folder_, PUBLISHER, hugeTitle.c_str()), 0);
}

}  // namespace
