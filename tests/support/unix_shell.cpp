#include "support/unix_shell.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace testing_support {

std::string UnixPathOf(const std::string& windowsPath) {
    using WineGetUnixFileName = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<WineGetUnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (convert == nullptr) return "";
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH) == 0) return "";
    char* unixPath = convert(wide);
    if (unixPath == nullptr) return "";
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Wine starts host programs detached, so completion is seen through a file the
// script renames into place as its last act.
int RunUnixShell(const std::string& script, std::string* output) {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned serial = 0;
    char stem[MAX_PATH];
    std::snprintf(stem, sizeof stem, "%ssundrift-sh-%lu-%u", base, GetCurrentProcessId(), ++serial);
    const std::string scriptPath = std::string(stem) + ".sh", outPath = std::string(stem) + ".out",
                      donePath = std::string(stem) + ".done";
    const std::string unixScript = UnixPathOf(scriptPath), unixOut = UnixPathOf(outPath),
                      unixDone = UnixPathOf(donePath);
    if (unixScript.empty()) {
        if (output) *output = "not running under Wine";
        return -1;
    }
    const std::string wrapped = "( " + script + "\n) >'" + unixOut + "' 2>&1\necho $? >'" + unixDone +
                                ".part'\nmv '" + unixDone + ".part' '" + unixDone + "'\n";
    if (!WriteWholeFile(scriptPath, wrapped)) return -1;

    PROCESS_INFORMATION process;
    if (!StartProgram("Z:\\bin\\sh", "/bin/sh \"" + unixScript + "\"", process)) {
        DeleteFileA(scriptPath.c_str());
        if (output) *output = "cannot start /bin/sh";
        return -1;
    }
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);

    constexpr DWORD POLL_MS = 10, TIMEOUT_MS = 30000;
    int status = -1;
    for (DWORD waited = 0; waited < TIMEOUT_MS; waited += POLL_MS) {
        if (FileExists(donePath)) {
            const std::vector<uint8_t> done = ReadWholeFile(donePath);
            status = std::atoi(std::string(done.begin(), done.end()).c_str());
            break;
        }
        Sleep(POLL_MS);
    }
    if (output) {
        const std::vector<uint8_t> text = ReadWholeFile(outPath);
        *output = std::string(text.begin(), text.end());
    }
    DeleteFileA(scriptPath.c_str());
    DeleteFileA(outPath.c_str());
    DeleteFileA(donePath.c_str());
    return status;
}

}  // namespace testing_support
