#include "pack_output.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "pack_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The temporary file's path where a signal handler may read it: written only
// while the signals are blocked, so a handler never sees half a path.
constexpr size_t TEMP_PATH_CAPACITY = 4096;
char pendingTemp[TEMP_PATH_CAPACITY];
volatile std::sig_atomic_t pendingTempSet = 0;

#ifdef _WIN32
// The console's Ctrl+C, Ctrl+Break and closing reach a handler on a thread of
// its own. It takes the lock for good: the path stays as it was while it
// removes the file, and the process ends before the build changes it again.
SRWLOCK pendingLock = SRWLOCK_INIT;
volatile LONG watching = 0;

BOOL WINAPI RemoveAndExit(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&pendingLock);
    if (pendingTempSet) RemoveFile(pendingTemp);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void WatchSignals() {
    if (InterlockedExchange(&watching, 1)) return;
    SetConsoleCtrlHandler(RemoveAndExit, TRUE);
}

template <typename Change>
void Guarded(Change change) {
    AcquireSRWLockExclusive(&pendingLock);
    change();
    ReleaseSRWLockExclusive(&pendingLock);
}
#else
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary file, then ends the process the way the signal would have.
extern "C" void RemoveAndRaise(int signal) {
    if (pendingTempSet) unlink(pendingTemp);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void WatchSignals() {
    for (int signal : CLEANUP_SIGNALS) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveAndRaise;
        sigemptyset(&action.sa_mask);
        for (int other : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, other);
        struct sigaction previous;
        // A signal ignored by whoever started the packer (nohup) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

// Runs `change` with the cleanup signals held back, so no handler sees it half done.
template <typename Change>
void Guarded(Change change) {
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int signal : CLEANUP_SIGNALS) sigaddset(&blocked, signal);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    change();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

#endif

}  // namespace

std::string OutputProblem(const std::string& out, const std::vector<std::string>& sources) {
    FileIdentity target;
    if (!IdentifyFile(out, target)) {
        // Found now rather than when the temporary file cannot be made, and in a dry run too.
        const std::string folder = HostFolderOf(out);
        FileIdentity above;
        if (!IdentifyFile(folder, above)) return "is in \"" + folder + "\", which does not exist";
        return above.folder ? "" : "is in \"" + folder + "\", which is no folder";
    }
    if (target.folder) return "is a folder; name the patch file to write";
    // Moving the finished file into place would replace the device itself.
    if (target.special) return "is a device, a pipe or a socket, not a file; name the patch file to write";
    for (const std::string& source : sources) {
        FileIdentity other;
        if (!source.empty() && IdentifyFile(source, other) && SameFile(other, target)) {
            return "is the same file as \"" + source + "\", which the patch is made from";
        }
    }
    return "";
}

File CreateTemporaryOutput(const std::string& target, std::string& tempPath) {
    WatchSignals();
    File file;
    // Created and registered with the signals held back, so it never exists unregistered.
    Guarded([&] {
        file = CreateTempBeside(target, tempPath);
        if (!file) return;
        std::snprintf(pendingTemp, sizeof pendingTemp, "%s", tempPath.c_str());
        pendingTempSet = tempPath.size() < sizeof pendingTemp;
    });
    return file;
}

void KeepTemporaryOutput() {
    Guarded([] { pendingTempSet = 0; });
}

void DropTemporaryOutput(const std::string& tempPath) {
    KeepTemporaryOutput();
    RemoveFile(tempPath);
}
