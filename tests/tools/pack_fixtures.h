#pragma once
// What the packer's tests share: scratch folders, files, a workbench for
// builds, two versions of a game, and the built tool run through the shell.
#include <gtest/gtest.h>

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_diff.h"
#include "pack_inspect.h"
#include "pack_list.h"
#include "package/portable/running_checksum.h"
#include "support/package_builder.h"
#include "support/pe_stub.h"

namespace pack_fixtures {

using Bytes = std::vector<uint8_t>;
using testing_support::BytesOf;
using testing_support::ChecksumOf;
using testing_support::GeneratedBytes;
using testing_support::PutU32;
using testing_support::StubImage;

// "ソフト" in UTF-8 and in Shift-JIS; the trail byte of "ソ" is 0x5C.
const std::string SOFUTO_UTF8 = u8"ソフト";
const std::string SOFUTO_SJIS = "\x83\x5C\x83\x74\x83\x67";

class Folder {
public:
    Folder() {
        char name[] = "/tmp/sundrift-pack-XXXXXX";
        path_ = mkdtemp(name) ? name : "";
    }
    ~Folder() {
        nftw(path_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return std::remove(path); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    std::set<std::string> Names() const {
        std::set<std::string> names;
        if (DIR* dir = opendir(path_.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names.insert(name);
            }
            closedir(dir);
        }
        return names;
    }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes ChecksumBytes(const uint8_t* checksum) { return Bytes(checksum, checksum + CHECKSUM_SIZE); }

inline Bytes ListFile(const std::vector<std::pair<std::string, Bytes>>& records, uint32_t reserved = 0) {
    std::vector<HashValueRecord> stored;
    for (const auto& r : records) {
        HashValueRecord record = MakeRecord(r.first);
        std::memcpy(record.checksum, r.second.data(), CHECKSUM_SIZE);
        stored.push_back(record);
    }
    return ListBytes(reserved, stored);
}

// A stub, some files and an output name in one folder.
struct Workbench {
    Folder folder;
    Bytes stub = StubImage();
    BuildOptions options;

    Workbench() {
        WriteFile(folder / "stub.exe", stub);
        options.stub = folder / "stub.exe";
        options.out = folder / "patch.exe";
    }

    // Adds a file of `size` bytes; the install path is given unless empty.
    Bytes Add(const std::string& name, size_t size, const std::string& installPath = "") {
        Bytes data = GeneratedBytes(size, static_cast<uint32_t>(options.inputs.size() + 1));
        WriteFile(folder / name, data);
        options.inputs.push_back({folder / name, installPath, !installPath.empty()});
        return data;
    }

    Inspection Inspect(const std::string& path = "") {
        Inspection inspection;
        std::string error;
        EXPECT_TRUE(InspectPatch(path.empty() ? options.out : path, inspection, error)) << error;
        return inspection;
    }

    // Inspects `bytes`, a patch altered, written beside the patch built.
    Inspection InspectAltered(const Bytes& bytes) {
        WriteFile(Altered(), bytes);
        return Inspect(Altered());
    }

    std::string Altered() const { return folder / "altered.exe"; }
};

inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct CliRun {
    int status;
    std::string output;
};

// Runs a shell command, its standard error with its output.
inline CliRun ShellRun(const std::string& shellCommand) {
    const std::string command = shellCommand + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    CliRun run{-1, ""};
    if (!pipe) return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline CliRun Cli(const std::string& arguments) { return ShellRun(Quote(PACKER_PATH) + " " + arguments); }

// Settings under which the tool must write the same bytes: another time zone,
// and the heap filled with other bytes before each allocation (glibc's perturb).
const std::string FIRST_SETTING = "TZ=UTC MALLOC_PERTURB_=165";
const std::string SECOND_SETTING = "TZ=Asia/Tokyo MALLOC_PERTURB_=90";

inline CliRun CliIn(const std::string& setting, const std::string& arguments) {
    return ShellRun(setting + " " + Quote(PACKER_PATH) + " " + arguments);
}

// A run of the tool with its standard output and standard error apart.
struct SplitRun {
    int status;
    std::string out, err;
};

inline SplitRun CliApart(const std::string& arguments) {
    char errors[] = "/tmp/sundrift-pack-stderr-XXXXXX";
    const int fd = mkstemp(errors);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    const CliRun run = ShellRun("{ " + Quote(PACKER_PATH) + " " + arguments + " 2>" + Quote(errors) + "; }");
    const Bytes err = ReadFile(errors);
    std::remove(errors);
    return {run.status, run.output, std::string(err.begin(), err.end())};
}

// The headers of a 32-bit Windows program with one section, zero bytes after it.
inline Bytes MinimalProgram() {
    Bytes image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, 0x3C, 0x40);
    std::memcpy(&image[0x40], "PE\0\0", 4);
    image[0x44] = 0x4C;  // i386
    image[0x45] = 0x01;
    image[0x46] = 1;     // one section
    image[0x54] = 0xE0;  // size of the optional header
    image[0x58] = 0x0B;  // PE32
    image[0x59] = 0x01;
    PutU32(image, 0x58 + 60, 0x200);  // size of the headers
    image[0x58 + 68] = 2;             // GUI subsystem
    PutU32(image, 0x58 + 92, 16);     // data directories
    const size_t section = 0x58 + 0xE0;
    PutU32(image, section + 16, 0x200);  // raw size
    PutU32(image, section + 20, 0x200);  // raw pointer
    return image;
}

using GameFiles = std::map<std::string, Bytes>;  // relative path ("/" between folders) -> content

// A game folder under `root`: its files, and when `records` are given its list of them.
inline void WriteGame(const std::string& root, const GameFiles& files, const std::vector<std::string>& records) {
    mkdir(root.c_str(), 0777);
    std::vector<std::pair<std::string, Bytes>> listed;
    for (const auto& file : files) WriteFile(root + "/" + file.first, file.second);
    const auto key = [](std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        std::transform(path.begin(), path.end(), path.begin(), ::tolower);
        return path;
    };
    for (const std::string& path : records) {
        Bytes checksum(CHECKSUM_SIZE, 0x11);  // a file that is not there
        for (const auto& file : files) {
            if (key(file.first) == key(path)) checksum = ChecksumOf(file.second);
        }
        listed.push_back({path, checksum});
    }
    if (!records.empty()) WriteFile(root + "/KVX.hvl", ListFile(listed));
}

// A second copy of `files` under `root`, written last first and dated
// `seconds`: a folder listing and the files' times tell it from the first.
inline void WriteReversed(const std::string& root, const GameFiles& files, time_t seconds) {
    mkdir(root.c_str(), 0777);
    for (auto file = files.rbegin(); file != files.rend(); ++file) {
        const std::string path = root + "/" + file->first;
        WriteFile(path, file->second);
        const timeval times[2] = {{seconds, 0}, {seconds, 0}};
        utimes(path.c_str(), times);
    }
}

struct TwoVersions {
    Folder folder;
    DiffOptions options;
    GameFiles old = {{"a.arc", GeneratedBytes(3000, 1)}, {"data/s.arc", GeneratedBytes(2000, 2)}, {"gone.txt", GeneratedBytes(10, 3)},
                     {"uninst.lst", BytesOf("KVX.hvl\na.arc\n")}};
    GameFiles fresh = {{"a.arc", GeneratedBytes(3100, 4)}, {"data/s.arc", GeneratedBytes(2000, 2)}, {"data/n.arc", GeneratedBytes(500, 5)},
                       {"uninst.lst", BytesOf("other\n")}, {"KVX.hvl", GeneratedBytes(80, 6)}};

    TwoVersions() {
        WriteFile(folder / "stub.exe", StubImage());
        options.oldDir = folder / "old";
        options.newDir = folder / "new";
        options.build.stub = folder / "stub.exe";
        options.build.out = folder / "patch.exe";
    }

    DiffPlan Plan(bool withList = true) {
        WriteGame(options.oldDir, old, withList ? std::vector<std::string>{"a.arc", "data\\s.arc", "gone.txt"}
                                                : std::vector<std::string>{});
        WriteGame(options.newDir, fresh, {});
        DiffPlan plan;
        std::string error;
        EXPECT_TRUE(PlanDiff(options, plan, error)) << error;
        return plan;
    }
};

}  // namespace pack_fixtures
