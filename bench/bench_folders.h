#pragma once
// Folders and clocks shared by the Windows benchmarks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// Width of the "what" column of every benchmark's rows.
constexpr int WHAT_WIDTH = 44;

// The repetitions given as argv[2], else `fallback`; 0, after the usage line
// "usage: <usage>", when BENCH_FOLDER is missing or the count is not positive.
inline int RepetitionsArgument(int argc, char** argv, int fallback, const char* usage) {
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : fallback;
    if (argc >= 2 && repetitions >= 1) return repetitions;
    std::fprintf(stderr, "usage: %s\n", usage);
    return 0;
}

inline double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Removes every file of `folder` (it holds no subfolders), creating the folder if needed.
inline bool EmptyFolder(const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string path = folder + "\\" + found.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = DeleteFileA(path.c_str()) && ok;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ok;
}

// A freshly installed game's uninstaller list, which the update extends.
inline bool WriteUninstallList(const std::string& folder) {
    static const char text[] = "KVX.hvl\nuninst.lst\n";  // the array's NUL ends the list
    FILE* out = std::fopen((folder + "\\uninst.lst").c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(text, 1, sizeof text, out) == sizeof text;
    return std::fclose(out) == 0 && written;
}

inline bool FreshInstallFolder(const std::string& folder) {
    return EmptyFolder(folder) && WriteUninstallList(folder);
}

}  // namespace bench
