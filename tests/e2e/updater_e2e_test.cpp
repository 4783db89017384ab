// The whole program: real patches built by the packer from the real updater,
// started as a user would start them, their boxes and dialog answered, and the
// exit code and the install folder checked afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "entry/program_names.h"
#include "package/portable/package_format.h"
#include "package/portable/update_result.h"
#include "support/installed_game.h"
#include "support/package_builder.h"
#include "support/process_start.h"
#include "support/unix_shell.h"
#include "support/win_files.h"
#include "support/window_watch.h"
#include "ui/portable/texts.h"

namespace {

using namespace testing_support;
using e2e::Reply;
using e2e::RunRecord;
using e2e::SeenWindow;
using e2e::WindowKind;
using Snapshot = std::map<std::string, Bytes>;

constexpr uint32_t MIB = 1024 * 1024;

// The exit code of `program`, or ~0 with `why` saying what failed: the start or the wait.
DWORD RunAndWait(const std::string& program, const std::string& commandLine, std::string& why) {
    PROCESS_INFORMATION process;
    if (!StartProgram(program, commandLine, process)) {
        why = "it could not be started";
        return ~DWORD{0};
    }
    DWORD code = ~DWORD{0};
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        why = "waiting for the process failed with error " + std::to_string(GetLastError());
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

Bytes GeneratedData(uint32_t size, uint32_t seed) { return GeneratedBytes(size, seed, 1); }

Snapshot FolderContents(const std::string& folder) {
    Snapshot files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        files[found.cFileName] = ReadWholeFile(folder + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

std::vector<std::string> Names(const Snapshot& files) {
    std::vector<std::string> names;
    for (const auto& file : files) names.push_back(file.first);
    return names;
}

struct PatchFile {
    std::string name;  // install name
    Bytes data;
};

class Updater : public ::testing::Test {
protected:
    void SetUp() override {
        // "ソ" and "表" end in the byte 0x5C: no byte of the path may be taken for a separator.
        installFolder_ = root_ / "ソフト";
        ASSERT_TRUE(CreateDirectoryA(installFolder_.c_str(), nullptr));
        installFolder_ += "\\表示";
        ASSERT_TRUE(CreateDirectoryA(installFolder_.c_str(), nullptr));
        staging_ = root_ / "staging";
        ASSERT_TRUE(CreateDirectoryA(staging_.c_str(), nullptr));
        UnregisterGame();
    }

    void TearDown() override { UnregisterGame(); }

    std::string Installed(const std::string& name) const { return installFolder_ + "\\" + name; }

    // An installed game: two archives, the installed hash-value list (with a
    // record for a file that is gone) and the uninstaller's list.
    void InstallGame() {
        oldData1_ = GeneratedData(1000, 1);
        oldData2_ = GeneratedData(2000, 2);
        uninstallText_ = "KVX.hvl\ndata1.arc\ndata2.arc\nuninst.lst\n";
        const std::vector<TestEntry> files = {{"data1.arc", oldData1_}, {"data2.arc", oldData2_}};
        ASSERT_TRUE(testing_support::InstallGame(installFolder_, files, uninstallText_));
    }

#ifdef _WIN64
    // This build's updater is the 64-bit test build, which the packer takes only when told.
    static constexpr const char* TEST_BUILD_STUB = " --test-amd64-stub";
#else
    static constexpr const char* TEST_BUILD_STUB = "";
#endif

    // A patch built by the packer with the real updater as its program image,
    // its list based on the installed one.
    std::string Pack(const std::vector<PatchFile>& files, const char* patchName = "patch.exe") {
        const std::string baseList = staging_ + "\\base.hvl";
        EXPECT_TRUE(WriteWholeFile(baseList, ReadWholeFile(Installed("KVX.hvl"))));
        const std::string bin = BinFolder();
        const std::string patch = staging_ + "\\" + patchName;
        std::string command = "sundrift-pack build --stub \"" + bin + "\\sundrift-updater.exe\" --out \"" + patch +
                              "\" --base-list \"" + baseList + "\"" + TEST_BUILD_STUB;
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string source = staging_ + "\\input" + std::to_string(i) + ".bin";
            EXPECT_TRUE(WriteWholeFile(source, files[i].data));
            command += " \"" + source + "=" + files[i].name + "\"";
        }
        std::string why;
        EXPECT_EQ(RunAndWait(bin + "\\sundrift-pack.exe", command, why), 0u) << command << "\n" << why;
        return patch;
    }

    std::vector<PatchFile> StandardPatch(uint32_t scale = 1) {
        return {{"data1.arc", GeneratedData(3 * MIB * scale + 11, 10)},
                {"data2.arc", GeneratedData(2 * MIB * scale, 20)},
                {"data3.arc", GeneratedData(1 * MIB * scale + 5, 30)}};
    }

    // Answers Yes to the consent question, OK to the outcome, and `onDialog` to the dialog.
    static e2e::Responder Consenting(Reply onDialog = Reply::Wait, Reply onConfirmation = Reply::Yes) {
        return [=](const SeenWindow& w) {
            if (w.kind == WindowKind::ProgressDialog) return onDialog;
            if (w.kind != WindowKind::MessageBox) return Reply::Wait;
            if (w.text == TEXT_CONSENT) return Reply::Yes;
            if (w.text == TEXT_ABORT_CONFIRMATION) return onConfirmation;
            return Reply::Ok;
        };
    }

    static void ExpectWarningBox(const SeenWindow& box, const char* text) {
        EXPECT_EQ(box.title, TEXT_PROGRAM_TITLE);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }

    static void ExpectConsentBox(const SeenWindow& box) {
        EXPECT_EQ(box.title, TEXT_PROGRAM_TITLE);
        EXPECT_EQ(box.text, TEXT_CONSENT);
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(box.defaultButton, IDNO);
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
    }

    // The folder after the standard patch: its files, the list pruned of the
    // missing file's record with the new checksums, one line more in uninst.lst.
    void ExpectStandardPatchInstalled(const std::vector<PatchFile>& patchFiles) const {
        const Snapshot after = FolderContents(installFolder_);
        EXPECT_EQ(Names(after),
                  (std::vector<std::string>{"KVX.hvl", "data1.arc", "data2.arc", "data3.arc", "uninst.lst"}));
        for (const PatchFile& f : patchFiles) EXPECT_TRUE(after.at(f.name) == f.data) << f.name;
        EXPECT_EQ(after.at("KVX.hvl"), HashValueListBytes({{"data1.arc", ChecksumOf(patchFiles[0].data)},
                                                           {"data2.arc", ChecksumOf(patchFiles[1].data)},
                                                           {"data3.arc", ChecksumOf(patchFiles[2].data)}}));
        Bytes expectedList = BytesOf(uninstallText_ + "data3.arc\n");
        expectedList.push_back(0);
        EXPECT_EQ(after.at("uninst.lst"), expectedList);
    }

    TempFolder root_{"e2e"};
    std::string installFolder_;
    std::string staging_;
    Bytes oldData1_, oldData2_;
    std::string uninstallText_;
};

TEST_F(Updater, ReplacesTheFilesPrunesTheListAndExtendsTheUninstallList) {
    InstallGame();
    const std::vector<PatchFile> patchFiles = StandardPatch();
    const std::string patch = Pack(patchFiles);

    const RunRecord run = e2e::RunProgram(patch, Consenting());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_OK);

    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectConsentBox(boxes[0]);
    EXPECT_EQ(boxes[1].title, TEXT_PROGRAM_TITLE);
    EXPECT_EQ(boxes[1].text, TEXT_SUCCESS);
    EXPECT_EQ(boxes[1].text.size(), 52u);  // 13 ideographic spaces fill it to 26 characters
    EXPECT_EQ(boxes[1].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[1].buttons, std::vector<int>{IDOK});

    // The dialog carried the title and stood centred on the 1280 x 1024 desktop.
    ASSERT_TRUE(run.SawProgressDialog());
    for (const SeenWindow& w : run.windows) {
        if (w.kind != WindowKind::ProgressDialog) continue;
        EXPECT_EQ(w.title, TEXT_PROGRAM_TITLE);
        const int width = w.rect.right - w.rect.left, height = w.rect.bottom - w.rect.top;
        EXPECT_EQ(w.rect.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
        EXPECT_EQ(w.rect.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    }

    ExpectStandardPatchInstalled(patchFiles);
}

// Signed by the host packer with a throwaway code-signing certificate: the
// signature covers the package and verifies, the signed patch installs as the
// unsigned one does, and one changed byte of the package breaks the signature.
TEST_F(Updater, ASignedPatchVerifiesAndInstalls) {
    InstallGame();
    const std::vector<PatchFile> patchFiles = StandardPatch();
    const std::string patch = Pack(patchFiles), signedPatch = staging_ + "\\signed.exe",
                      tampered = staging_ + "\\tampered.exe";
    const std::string cert = Quoted(UnixPathOf(staging_ + "\\cert.pem")),
                      key = Quoted(UnixPathOf(staging_ + "\\key.pem"));
    const std::string verify = "osslsigncode verify -CAfile " + cert + " -in ";
    std::string output;
    ASSERT_EQ(RunUnixShell("set -e\nopenssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Sundrift Test' "
                           "-addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning -keyout " +
                               key + " -out " + cert + "\n" + Quoted(HOST_PACKER) + " sign " +
                               Quoted(UnixPathOf(patch)) + " --cert " + cert + " --key " + key + " --out " +
                               Quoted(UnixPathOf(signedPatch)) + "\n" + verify + Quoted(UnixPathOf(signedPatch)),
                           &output),
              0)
        << output << "(the host packer is built by the host preset: " << HOST_PACKER << ")";

    const RunRecord run = e2e::RunProgram(signedPatch, Consenting());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_OK);
    ExpectStandardPatchInstalled(patchFiles);

    Bytes bytes = ReadWholeFile(signedPatch);
    bytes[PACKAGE_OFFSET + MIB] ^= 1;
    ASSERT_TRUE(WriteWholeFile(tampered, bytes));
    EXPECT_NE(RunUnixShell(verify + Quoted(UnixPathOf(tampered)), &output), 0) << output;
}

TEST_F(Updater, ASecondInstanceEndsSilentlyAndTouchesNothing) {
    InstallGame();
    const std::string patch = Pack(StandardPatch());
    const Snapshot before = FolderContents(installFolder_);

    HANDLE held = CreateMutexA(nullptr, TRUE, UPDATER_MUTEX_NAME);
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    const RunRecord run = e2e::RunProgram(patch, Consenting());
    CloseHandle(held);

    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(-5));
    EXPECT_TRUE(run.windows.empty());
    EXPECT_EQ(FolderContents(installFolder_), before);
}

TEST_F(Updater, ARunningGameGetsAWarningAndKeepsItsMutex) {
    InstallGame();
    const std::string patch = Pack(StandardPatch());
    const Snapshot before = FolderContents(installFolder_);

    HANDLE game = CreateMutexA(nullptr, TRUE, GAME_MUTEX_NAME);
    ASSERT_NE(game, nullptr);
    const RunRecord run = e2e::RunProgram(patch, Consenting());

    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(-2));
    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    ExpectWarningBox(boxes[0], TEXT_GAME_RUNNING);
    EXPECT_EQ(FolderContents(installFolder_), before);

    // Still ours: another thread cannot take it, and we can release it.
    DWORD otherThreadWait = 0;
    std::thread other([&] { otherThreadWait = WaitForSingleObject(game, 0); });
    other.join();
    EXPECT_EQ(otherThreadWait, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(game));
    CloseHandle(game);
}

TEST_F(Updater, WithoutAUsableRegistryValueTheGameIsNotInstalled) {
    InstallGame();
    const std::string patch = Pack(StandardPatch());
    const Snapshot before = FolderContents(installFolder_);
    const std::string overLong(MAX_PATH, 'x');
    const DWORD folderSize = static_cast<DWORD>(installFolder_.size() + 1);
    const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
        {"key missing", [] { return true; }},
        {"REG_EXPAND_SZ", [&] { return SetInstallFolderValue(REG_EXPAND_SZ, installFolder_.c_str(), folderSize); }},
        {"261 bytes", [&] { return SetInstallFolderValue(REG_SZ, overLong.c_str(), MAX_PATH + 1); }},
        {"260 bytes without terminator", [&] { return SetInstallFolderValue(REG_SZ, overLong.c_str(), MAX_PATH); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        UnregisterGame();
        ASSERT_TRUE(c.second());
        const RunRecord run = e2e::RunProgram(patch, Consenting());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(-1));
        const std::vector<SeenWindow> boxes = run.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        ExpectWarningBox(boxes[0], TEXT_NOT_INSTALLED);
    }
    EXPECT_EQ(FolderContents(installFolder_), before);
}

TEST_F(Updater, DecliningTheQuestionEndsWithoutFurtherBoxes) {
    InstallGame();
    const std::string patch = Pack(StandardPatch());
    const Snapshot before = FolderContents(installFolder_);
    for (Reply answer : {Reply::No, Reply::Close}) {
        const RunRecord run = e2e::RunProgram(patch, [&](const SeenWindow& w) {
            return w.text == TEXT_CONSENT ? answer : Reply::Ok;
        });
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(-3));
        ASSERT_EQ(run.windows.size(), 1u);
        ExpectConsentBox(run.windows[0]);
    }
    EXPECT_EQ(FolderContents(installFolder_), before);
}

TEST_F(Updater, ADamagedPackageIsReportedAndNothingChanges) {
    InstallGame();
    const std::string patch = Pack(StandardPatch());
    const Snapshot before = FolderContents(installFolder_);

    Bytes bytes = ReadWholeFile(patch);
    ASSERT_GT(bytes.size(), size_t{PACKAGE_OFFSET} + 1000);
    const std::string truncated = staging_ + "\\truncated.exe";
    ASSERT_TRUE(WriteWholeFile(truncated, Bytes(bytes.begin(), bytes.end() - 1000)));
    const std::string tooMany = staging_ + "\\too-many.exe";
    bytes[PACKAGE_OFFSET + PACKAGE_MAGIC_SIZE] = PACKAGE_MAX_ENTRIES + 1;
    ASSERT_TRUE(WriteWholeFile(tooMany, bytes));

    const std::pair<std::string, DWORD> cases[] = {{truncated, UPDATE_E_CORRUPT}, {tooMany, UPDATE_E_TOO_MANY_ENTRIES}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const RunRecord run = e2e::RunProgram(c.first, Consenting());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, c.second);
        const std::vector<SeenWindow> boxes = run.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        ExpectWarningBox(boxes[1], TEXT_DAMAGED_PACKAGE);
        EXPECT_EQ(FolderContents(installFolder_), before);
    }
}

TEST_F(Updater, AFileThatCannotBeWrittenIsAnOtherFailure) {
    InstallGame();
    // The record's folder does not exist in the install folder.
    const std::string patch = Pack({{"data1.arc", GeneratedData(MIB, 3)}, {"missing\\data4.arc", GeneratedData(99, 4)}});
    const Snapshot before = FolderContents(installFolder_);
    const RunRecord run = e2e::RunProgram(patch, Consenting());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_E_IO);
    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectWarningBox(boxes[1], TEXT_OTHER_FAILURE);
    EXPECT_EQ(FolderContents(installFolder_), before);
}

TEST_F(Updater, AMissingUninstallListIsReportedAfterTheFilesAreInPlace) {
    InstallGame();
    const std::vector<PatchFile> patchFiles = StandardPatch();
    const std::string patch = Pack(patchFiles);
    ASSERT_TRUE(DeleteFileA(Installed("uninst.lst").c_str()));

    const RunRecord run = e2e::RunProgram(patch, Consenting());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_E_UNINSTALL_LIST);
    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectWarningBox(boxes[1], TEXT_UNINSTALL_LIST_FAILURE);

    const Snapshot after = FolderContents(installFolder_);
    EXPECT_EQ(Names(after), (std::vector<std::string>{"KVX.hvl", "data1.arc", "data2.arc", "data3.arc"}));
    for (const PatchFile& f : patchFiles) EXPECT_TRUE(after.at(f.name) == f.data) << f.name;
}

TEST_F(Updater, AConfirmedAbortEndsWithoutAMessage) {
    InstallGame();
    const std::string patch = Pack(StandardPatch(12));
    const Snapshot before = FolderContents(installFolder_);

    const RunRecord run = e2e::RunProgram(patch, Consenting(Reply::Abort, Reply::Yes));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_E_CANCELLED);
    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);  // the question and the confirmation, no outcome
    ExpectConsentBox(boxes[0]);
    EXPECT_EQ(boxes[1].text, TEXT_ABORT_CONFIRMATION);
    EXPECT_TRUE(boxes[1].owned);
    EXPECT_EQ(boxes[1].defaultButton, IDNO);
    EXPECT_EQ(FolderContents(installFolder_), before);
}

TEST_F(Updater, ClosingTheDialogEndsWithoutAMessage) {
    InstallGame();
    const std::string patch = Pack(StandardPatch(12));
    const Snapshot before = FolderContents(installFolder_);

    const RunRecord run = e2e::RunProgram(patch, Consenting(Reply::Close));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, UPDATE_E_ABORTED);
    const std::vector<SeenWindow> boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    ExpectConsentBox(boxes[0]);
    EXPECT_TRUE(run.SawProgressDialog());
    EXPECT_EQ(FolderContents(installFolder_), before);
}

}  // namespace

namespace {

// The updater image itself: size and resources, read as a data file.
class UpdaterImage : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << path_;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    std::string Resource(LPCSTR type, LPCSTR name) const {
        HRSRC found = FindResourceA(module_, name, type);
        if (!found) return "";
        const char* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    const std::string path_ = BinFolder() + "\\sundrift-updater.exe";
    HMODULE module_ = nullptr;
};

TEST_F(UpdaterImage, EndsBeforeThePackage) {
    EXPECT_LE(ReadWholeFile(path_).size(), PACKAGE_OFFSET);
}

TEST_F(UpdaterImage, AsksForAdministratorRightsWithoutCommonControls) {
    const std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Setup\""), std::string::npos);
    for (const char* os : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"})
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

TEST_F(UpdaterImage, CarriesItsIconDialogAndVersion) {
    // GRPICONDIR: reserved, type, count, then 14-byte entries.
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
    ASSERT_GE(group.size(), 6u);
    const int count = static_cast<uint8_t>(group[4]) | static_cast<uint8_t>(group[5]) << 8;
    ASSERT_EQ(count, 4);
    std::vector<int> widths;
    for (int i = 0; i < count; ++i) {
        const int width = static_cast<uint8_t>(group[6 + 14 * i]);
        widths.push_back(width == 0 ? 256 : width);
    }
    EXPECT_EQ(widths, (std::vector<int>{16, 32, 48, 256}));

    EXPECT_FALSE(Resource(RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS)).empty());

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, info.data()));
    char* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\041103a4\\FileVersion", reinterpret_cast<void**>(&value),
                               &length));
    EXPECT_STREQ(value, "1, 0, 0, 0");
}

}  // namespace
