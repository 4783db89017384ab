// The update run of a patch, ended abruptly at a chosen step of its commit.
//   sundrift-kill-harness PATCH INSTALL_FOLDER STEP TRACE_FILE
// Once the commit's first rename comes, every call the run makes to create,
// write, flush, rename or delete a file is a step, counted from 0. Before step
// STEP the process terminates itself, as a power cut or the task manager would
// end it: nothing is closed, flushed or cleaned up by the program. Each step
// reached is written to TRACE_FILE as "<call> <last path component>". The exit
// code is the run's result, or KILL_EXIT_CODE when it was ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/update_run.h"
#include "support/import_hook.h"

namespace {

constexpr UINT KILL_EXIT_CODE = 0xDEAD;
constexpr char TEMPORARY_SUFFIX[] = ".tmp";

unsigned long killAt = 0;
unsigned long steps = 0;
bool committing = false;
FILE* trace = nullptr;

decltype(&CreateFileA) realCreate;
decltype(&WriteFile) realWrite;
decltype(&FlushFileBuffers) realFlush;
decltype(&MoveFileExA) realMove;
decltype(&SetFileInformationByHandle) realSetInformation;

std::string Leaf(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

std::string LeafOfHandle(HANDLE file) {
    char path[4 * MAX_PATH] = "";
    GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED);
    return Leaf(path);
}

bool EndsInTemporarySuffix(const char* path) {
    const size_t length = std::strlen(path), suffix = sizeof TEMPORARY_SUFFIX - 1;
    return length >= suffix && _stricmp(path + length - suffix, TEMPORARY_SUFFIX) == 0;
}

// Counts a step of the commit; ends the process before the chosen one.
void Step(const char* call, const std::string& leaf) {
    if (!committing) return;
    if (steps == killAt) TerminateProcess(GetCurrentProcess(), KILL_EXIT_CODE);
    std::fprintf(trace, "%s %s\n", call, leaf.c_str());
    ++steps;
}

HANDLE WINAPI Create(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                     DWORD flags, HANDLE templateFile) {
    Step("create", Leaf(path));
    return realCreate(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI Write(HANDLE file, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped) {
    Step("write", LeafOfHandle(file));
    return realWrite(file, buffer, length, written, overlapped);
}

BOOL WINAPI Flush(HANDLE file) {
    Step("flush", LeafOfHandle(file));
    return realFlush(file);
}

// The run's temporary files end in ".tmp", its placeholders do not: the first
// rename of such a file is the commit's first.
BOOL WINAPI Move(const char* from, const char* to, DWORD flags) {
    committing = committing || EndsInTemporarySuffix(from);
    Step("move", Leaf(from) + ">" + Leaf(to));
    return realMove(from, to, flags);
}

BOOL WINAPI SetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* information, DWORD size) {
    Step(kind == FileDispositionInfo ? "delete" : "set", LeafOfHandle(file));
    return realSetInformation(file, kind, information, size);
}

template <typename Function>
bool Hook(const char* name, Function replacement, Function& original) {
    return testing_support::HookImportAs("kernel32.dll", name, replacement, original);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: sundrift-kill-harness PATCH INSTALL_FOLDER STEP TRACE_FILE\n");
        return 2;
    }
    killAt = std::strtoul(argv[3], nullptr, 0);
    trace = std::fopen(argv[4], "wb");
    if (!trace || !Hook("CreateFileA", &Create, realCreate) || !Hook("WriteFile", &Write, realWrite) ||
        !Hook("FlushFileBuffers", &Flush, realFlush) || !Hook("MoveFileExA", &Move, realMove) ||
        !Hook("SetFileInformationByHandle", &SetInformation, realSetInformation)) {
        std::fprintf(stderr, "sundrift-kill-harness: cannot open the trace or hook the file calls\n");
        return 2;
    }
    const UpdateResult result = UpdateRunFromPackage(argv[1], argv[2]);
    std::fclose(trace);
    return static_cast<int>(result);
}
