// The packer compiled for Windows, checked against the updater's own readers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_files.h"
#include "pack_output.h"
#include "pack_text.h"
#include "package/hash_value_list.h"
#include "package/lower_case.h"
#include "package/package_index.h"
#include "package/portable/multibyte_walk.h"
#include "support/folder_snapshot.h"
#include "support/host_links.h"
#include "support/import_hook.h"
#include "support/package_builder.h"
#include "support/pe_stub.h"
#include "support/process_start.h"
#include "support/unix_shell.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

struct PackedFile {
    std::string source;       // file name in the temp folder
    std::string installPath;  // UTF-8 as given, empty for the default
    std::string storedPath;   // Shift-JIS as the record must hold it
    Bytes data;
};

std::string LastComponentOf(const std::string& sjis) {
    const char* name;
    const char* extension;
    SplitLastComponent(sjis.c_str(), IsAnsiLeadByte, &name, &extension);
    return name;
}

Bytes EntryChecksum(FileHandle& image, const PackageIndex& index, uint32_t j) {
    Bytes data(EntrySize(index, j));
    EXPECT_TRUE(image.Seek(EntryPosition(index, j)));
    EXPECT_EQ(image.Read(data.data(), static_cast<uint32_t>(data.size())), data.size());
    return ChecksumOf(data);
}

// Build options with a stub written into `folder` and the patch beside it.
BuildOptions StubAndPatchIn(const TempFolder& folder) {
    BuildOptions options;
    options.stub = folder / "stub.exe";
    options.out = folder / "patch.exe";
    EXPECT_TRUE(WriteWholeFile(options.stub, StubImage()));
    return options;
}

void BuildAndReadBack(bool shortIndex) {
    TempFolder folder("pack");
    const std::vector<PackedFile> files = {
        {"data.arc", "", "data.arc", GeneratedBytes(1500000, 1)},
        {"voice.arc", u8"sub/Voice.ARC", "sub\\Voice.ARC", GeneratedBytes(4000, 2)},
        {"sofuto.txt", u8"ソフト\\ソフト.txt", "\x83\x5C\x83\x74\x83\x67\\\x83\x5C\x83\x74\x83\x67.txt", GeneratedBytes(77, 3)},
        {"empty.bin", "", "empty.bin", Bytes()},
    };
    BuildOptions options = StubAndPatchIn(folder);
    options.shortIndex = shortIndex;
    for (const PackedFile& file : files) {
        ASSERT_TRUE(WriteWholeFile(folder / file.source, file.data));
        options.inputs.push_back({folder / file.source, file.installPath, !file.installPath.empty()});
    }
    const BuildOutcome outcome = BuildPatch(options);
    ASSERT_TRUE(outcome.ok) << outcome.error;

    FileHandle image;
    PackageIndex index;
    ASSERT_EQ(LoadPackageIndexFromFile(options.out.c_str(), image, index), UPDATE_OK);
    EXPECT_EQ(index.longEntries, !shortIndex);
    ASSERT_EQ(index.count, files.size() + 1);
    EXPECT_STREQ(EntryName(index, 0), "KVX.hvl");
    HashValueList list;
    ASSERT_EQ(LoadHashValueList(index, image, list), UPDATE_OK);
    ASSERT_EQ(list.count, files.size());

    const RecordMatch own = LookUpRecord(list, EntryName(index, 0));
    EXPECT_STREQ(own.installName, "KVX.hvl");
    EXPECT_EQ(own.checksum, nullptr);
    for (uint32_t i = 0; i < files.size(); ++i) {
        const PackedFile& file = files[i];
        const uint32_t j = i + 1;
        EXPECT_EQ(std::string(list.records[i].path), file.storedPath) << i;
        EXPECT_EQ(std::string(EntryName(index, j)), LastComponentOf(file.storedPath)) << i;
        EXPECT_EQ(EntrySize(index, j), file.data.size()) << i;
        const RecordMatch match = LookUpRecord(list, EntryName(index, j));
        ASSERT_NE(match.checksum, nullptr) << i;
        EXPECT_EQ(match.installName, list.records[i].path) << i;
        const Bytes expected(match.checksum, match.checksum + CHECKSUM_SIZE);
        EXPECT_EQ(expected, ChecksumOf(file.data)) << i;
        EXPECT_EQ(EntryChecksum(image, index, j), expected) << i;
    }
    const uint32_t last = index.count - 1;
    EXPECT_EQ(image.Size(), EntryPosition(index, last) + EntrySize(index, last)) << "nothing after the last entry";
}

TEST(PackerUnderWine, LongIndexReadsBackThroughTheUpdater) { BuildAndReadBack(false); }
TEST(PackerUnderWine, ShortIndexReadsBackThroughTheUpdater) { BuildAndReadBack(true); }

TEST(PackerUnderWine, RefusalLeavesNoFiles) {
    TempFolder folder("packno");
    BuildOptions options = StubAndPatchIn(folder);
    ASSERT_TRUE(WriteWholeFile(folder / "a.arc", GeneratedBytes(100, 2)));
    options.inputs.push_back({folder / "a.arc", "..\\a.arc", true});
    EXPECT_FALSE(BuildPatch(options).ok);
    // The output named as an input in another spelling: Windows' file numbers tell.
    options.inputs[0] = {folder / "a.arc", "", false};
    options.out = folder / ".\\A.ARC";
    EXPECT_NE(BuildPatch(options).error.find("is the same file as"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(folder / "a.arc"), GeneratedBytes(100, 2));
    options.out = folder / "patch.exe";
    options.inputs[0] = {folder / "a.arc", "A.arc", true};
    options.inputs.push_back({folder / "a.arc", "sub/a.ARC", true});
    EXPECT_FALSE(BuildPatch(options).ok);
    EXPECT_FALSE(FileExists(options.out));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder / "*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// Ctrl+C while the patch is written: the console's handler removes the
// temporary file and ends the packer as Ctrl+C ends a console program. The
// writer runs as a death-test child with a console of its own, named the
// target through its environment since the child makes no folder of its own.
TEST(PackerUnderWine, CtrlCRemovesTheTemporaryFile) {
    TempFolder folder("packctrl");
    const std::string target = folder / "patch.exe";
    ASSERT_TRUE(SetEnvironmentVariableA("SUNDRIFT_CTRL_C_TARGET", target.c_str()));
    EXPECT_EXIT(
        {
            char path[MAX_PATH];
            if (!GetEnvironmentVariableA("SUNDRIFT_CTRL_C_TARGET", path, sizeof path)) std::exit(1);
            FreeConsole();
            if (!AllocConsole()) std::exit(2);
            std::string temp;
            const File written = CreateTemporaryOutput(path, temp);
            if (!written || std::fputs("partial", written.get()) < 0 || std::fflush(written.get()) != 0) std::exit(3);
            // Windows lets the handler delete it only if the writer shares deletion; Wine never asks.
            const HANDLE other = CreateFileA(temp.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr);
            if (other == INVALID_HANDLE_VALUE) std::exit(5);
            CloseHandle(other);
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            // The handler's thread ends the process; this wait is only its bound.
            WaitForSingleObject(GetCurrentProcess(), 60000);
            std::exit(4);
        },
        ::testing::ExitedWithCode(static_cast<int>(STATUS_CONTROL_C_EXIT)), "");
    SetEnvironmentVariableA("SUNDRIFT_CTRL_C_TARGET", nullptr);
    std::string left;
    for (const auto& item : TakeFolderSnapshot(folder.Path())) left += " " + item.first;
    EXPECT_EQ(left, "") << "left beside the target";
}

// The packer's case folding must agree with the updater's lower-casing on
// every character of code page 932, or it would let through names the
// updater confuses (or refuse names it tells apart), and its lowered bytes,
// in which the shared name rules compare, must be the updater's.
TEST(PackerUnderWine, CaseFoldingAgreesWithTheUpdater) {
    ASSERT_EQ(GetACP(), 932u);
    std::vector<std::string> characters;
    for (int b = 0x01; b <= 0xFF; ++b) {
        if (!IsCp932LeadByte(static_cast<unsigned char>(b))) characters.push_back(std::string(1, static_cast<char>(b)));
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsCp932LeadByte(static_cast<unsigned char>(lead))) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            characters.push_back({static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
    int compared = 0;
    for (const std::string& character : characters) {
        char lowered[8] = {};
        std::memcpy(lowered, character.data(), character.size());
        LowerCaseMultibyte(lowered);
        // The packer's lowered bytes are the updater's, for what is no character too.
        char packer[8];
        ASSERT_TRUE(Cp932LoweredCopy(character.c_str(), packer, sizeof packer));
        EXPECT_STREQ(packer, lowered) << "bytes of " << std::hex << int(uint8_t(character[0]));
        std::u32string folded;
        if (!FoldedKey(character, folded)) continue;
        std::u32string updater;
        ASSERT_TRUE(Cp932CodePoints(lowered, updater)) << std::hex << int(uint8_t(character[0]));
        EXPECT_EQ(folded, updater) << "character " << std::hex << int(uint8_t(character[0])) << " "
                                   << (character.size() > 1 ? int(uint8_t(character[1])) : 0);
        ++compared;
    }
    EXPECT_GT(compared, 7000);
}

// The Windows build of the tool: its exit code, and what it wrote on standard
// output and error (each through a file, as a script's redirection does).
struct ToolRun {
    DWORD status = ~DWORD{0};
    std::string out, err;
};

HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

std::string TextOf(const std::string& path) {
    std::string text;
    for (uint8_t b : ReadWholeFile(path)) {
        if (b != '\r') text += static_cast<char>(b);
    }
    return text;
}

ToolRun RunTool(const TempFolder& folder, const std::string& arguments) {
    const HANDLE output = InheritableFile(folder / "output.txt");
    const HANDLE errors = InheritableFile(folder / "errors.txt");
    ToolRun run;
    PROCESS_INFORMATION process;
    if (output != INVALID_HANDLE_VALUE && errors != INVALID_HANDLE_VALUE &&
        StartProgram(BinFolder() + "\\sundrift-pack.exe", "sundrift-pack " + arguments, process, output, errors)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (const HANDLE handle : {output, errors}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    run.out = TextOf(folder / "output.txt");
    run.err = TextOf(folder / "errors.txt");
    return run;
}

TEST(PackerUnderWine, CommandLineAndJson) {
    TempFolder folder("packcli");
    BuildOptions options = StubAndPatchIn(folder);
    ASSERT_TRUE(WriteWholeFile(folder / "a.bin", GeneratedBytes(300, 4)));
    options.inputs.push_back({folder / "a.bin", u8"ソフト\\ソフト.txt", true});
    ASSERT_TRUE(BuildPatch(options).ok);

    EXPECT_EQ(RunTool(folder, "--version").out, std::string("sundrift-pack ") + SUNDRIFT_PACK_VERSION + "\n");
    const ToolRun inspected = RunTool(folder, "inspect --json -- \"" + options.out + "\"");
    EXPECT_EQ(inspected.status, 0u) << inspected.out << inspected.err;
    nlohmann::ordered_json report;
    ASSERT_NO_THROW(report = nlohmann::ordered_json::parse(inspected.out)) << inspected.out;
    EXPECT_EQ(report.begin().key(), "fileSize");
    EXPECT_EQ(report["accepted"], true);
    EXPECT_EQ(inspected.err, "sundrift-pack: inspect: warning: " + report["warnings"][0].get<std::string>() + "\n");
    ASSERT_EQ(report["entries"].size(), 2u);
    EXPECT_EQ(report["entries"][1]["installName"], u8"ソフト\\ソフト.txt") << "Shift-JIS shown as UTF-8";
    std::string summed;
    ASSERT_EQ(RunUnixShell("tail -c +262145 " + testing_support::Quoted(UnixPathOf(options.out)) + " | sha256sum", &summed), 0);
    EXPECT_EQ(report["sha256"]["package"], summed.substr(0, 64)) << "Windows' own SHA-256, as sha256sum gives it";
    const ToolRun twice = RunTool(folder, "sign patch.exe --cert=a.pem --cert b.pem --key k.pem");
    EXPECT_EQ(twice.status, 2u);
    EXPECT_EQ(twice.out, "");
    EXPECT_EQ(twice.err.find("sundrift-pack: sign: --cert is given 2 times; give it once\nusage: sundrift-pack sign "),
              0u)
        << twice.err;
}

// Windows marks compressed, cloud and deduplicated files as reparse points
// too; like the updater, the preview takes only those whose tag leads
// elsewhere for links. Wine makes none of them, so the tag is answered here,
// as Windows gives it; Wine's own host links carry none and stay links.
DWORD answeredTag = 0;
decltype(&GetFileAttributesW) realAttributes = nullptr;
decltype(&FindFirstFileW) realFindFirst = nullptr;

DWORD WINAPI TaggedAttributes(LPCWSTR path) {
    const DWORD attributes = realAttributes(path);
    return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes | FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI TaggedFindFirst(LPCWSTR path, LPWIN32_FIND_DATAW found) {
    const HANDLE search = realFindFirst(path, found);
    if (search != INVALID_HANDLE_VALUE) {
        found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        found->dwReserved0 = answeredTag;
    }
    return search;
}

TEST(PackerUnderWine, OnlyReparsePointsThatLeadElsewhereAreLinks) {
    TempFolder folder("links");
    HostLinks links;
    ASSERT_TRUE(WriteWholeFile(folder / "file", std::string("f")));
    ASSERT_TRUE(CreateDirectoryA((folder / "dir").c_str(), nullptr));
    if (!links.Symbolic(folder / "dir", folder / "linked")) GTEST_SKIP() << links.Why();
    EXPECT_TRUE(IsLink(folder / "linked"));
    EXPECT_FALSE(IsLink(folder / "file"));

    // Whichever of the two the packer asks answers as Windows does.
    const bool findAnswered = HookImportAs("kernel32.dll", "FindFirstFileW", &TaggedFindFirst, realFindFirst);
    const bool attributesAnswered =
        HookImportAs("kernel32.dll", "GetFileAttributesW", &TaggedAttributes, realAttributes);
    ASSERT_TRUE(findAnswered || attributesAnswered);
    for (const DWORD tag : {DWORD{IO_REPARSE_TAG_WOF}, DWORD{IO_REPARSE_TAG_CLOUD_6}, DWORD{IO_REPARSE_TAG_DEDUP},
                            DWORD{IO_REPARSE_TAG_SYMLINK}, DWORD{IO_REPARSE_TAG_MOUNT_POINT}}) {
        answeredTag = tag;
        EXPECT_EQ(IsLink(folder / "file"), IsReparseTagNameSurrogate(tag) != 0) << tag;
    }
    if (findAnswered) HookImport("kernel32.dll", "FindFirstFileW", reinterpret_cast<void*>(realFindFirst));
    if (attributesAnswered) HookImport("kernel32.dll", "GetFileAttributesW", reinterpret_cast<void*>(realAttributes));
}

}  // namespace
