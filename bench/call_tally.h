#pragma once
// Counts and times the file calls that a piece of work makes through this
// program's import table (the engine's code is linked in, so its calls go
// through it too), to show where a run's time goes call by call.
#include <windows.h>

#include <cstddef>

#include "bench_folders.h"
#include "support/import_hook.h"

namespace bench {

struct CallTally {
    const char* name;
    void* original;
    double calls;
    double seconds;
};

// The calls tallied: every kernel32 file call the engine and the plain copy make.
#define BENCH_TALLIED_CALLS(X)                                                                   \
    X(CreateFileA) X(CloseHandle) X(ReadFile) X(WriteFile) X(SetFilePointer) X(SetFilePointerEx) \
    X(GetFileSizeEx) X(GetFileType) X(GetFileInformationByHandle) X(GetFileInformationByHandleEx) \
    X(GetFinalPathNameByHandleA) X(SetFileInformationByHandle) X(FlushFileBuffers) X(MoveFileExA) \
    X(DeleteFileA) X(GetFileAttributesA) X(SetFileAttributesA) X(CreateDirectoryA)

enum TalliedCall {
#define BENCH_CALL_ID(name) TALLY_##name,
    BENCH_TALLIED_CALLS(BENCH_CALL_ID)
#undef BENCH_CALL_ID
    TALLIED_CALL_COUNT
};

inline CallTally callTallies[TALLIED_CALL_COUNT] = {
#define BENCH_CALL_ROW(name) {#name, nullptr, 0, 0},
    BENCH_TALLIED_CALLS(BENCH_CALL_ROW)
#undef BENCH_CALL_ROW
};

template <size_t Id, typename R, typename... A>
R WINAPI TimedCall(A... args) {
    CallTally& tally = callTallies[Id];
    const double start = Now();
    const R result = reinterpret_cast<R(WINAPI*)(A...)>(tally.original)(args...);
    tally.seconds += Now() - start;
    tally.calls += 1;
    return result;
}

template <size_t Id, typename R, typename... A>
void* TimedCallFor(R(WINAPI*)(A...)) {
    return reinterpret_cast<void*>(&TimedCall<Id, R, A...>);
}

// Runs `work` with every tallied call timed; the tallies start from zero.
// False when `work` failed.
template <typename Work>
bool TallyCalls(Work work) {
    for (CallTally& tally : callTallies) tally.calls = tally.seconds = 0;
#define BENCH_HOOK(name) \
    callTallies[TALLY_##name].original = testing_support::HookImport("kernel32.dll", #name, TimedCallFor<TALLY_##name>(&name));
    BENCH_TALLIED_CALLS(BENCH_HOOK)
#undef BENCH_HOOK
    const bool done = work();
    for (const CallTally& tally : callTallies) {
        if (tally.original) testing_support::HookImport("kernel32.dll", tally.name, tally.original);
    }
    return done;
}

#undef BENCH_TALLIED_CALLS

}  // namespace bench
