#pragma once
// A tiny file system that can be filled up, for tests of failing writes: a
// 64 KiB tmpfs mounted on the host over a folder (needs root on the host).
#include <windows.h>

#include <string>
#include <vector>

#include "support/unix_shell.h"

namespace testing_support {

// Mounted for the life of the object; `reason` tells why when it is not.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder) : unixPath(UnixPathOf(folder)) {
        CreateDirectoryA(folder.c_str(), nullptr);
        if (unixPath.empty()) {
            reason = "not running under Wine";
            return;
        }
        mounted = RunUnixShell("mount -t tmpfs -o size=64k sundrift-small " + Quoted(unixPath), &reason) == 0;
    }
    ~SmallDisk() {
        if (mounted) RunUnixShell("umount -l " + Quoted(unixPath));
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted = false;
    std::string reason;

private:
    std::string unixPath;
};

// Fills the disk holding `folder` with "<folder>\filler"; true when not one
// more byte can be written to a new file there.
inline bool FillDisk(const std::string& folder) {
    HANDLE h = CreateFileA((folder + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    constexpr DWORD BLOCK = 4096, MAX_BLOCKS = 1024;
    const std::vector<char> block(BLOCK, 'f');
    DWORD written = 0;
    for (DWORD i = 0; i < MAX_BLOCKS && WriteFile(h, block.data(), BLOCK, &written, nullptr) && written == BLOCK;
         ++i) {
    }
    while (WriteFile(h, "f", 1, &written, nullptr) && written == 1) {
    }
    CloseHandle(h);
    const std::string probePath = folder + "\\probe";
    HANDLE probe = CreateFileA(probePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return true;
    const bool full = !WriteFile(probe, "p", 1, &written, nullptr) || written != 1;
    CloseHandle(probe);
    DeleteFileA(probePath.c_str());
    return full;
}

}  // namespace testing_support
