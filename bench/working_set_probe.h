#pragma once
// The working set of a program as Windows counts it: the pages of its own
// address space that are resident (its image, the system libraries' pages it
// touched, its heaps and stacks). Under Wine a process's figure from
// GetProcessMemoryInfo also holds every Unix library Wine maps, and
// QueryWorkingSetEx answers only for the calling process; so update_bench loads
// working_set_probe.dll into the program, whose thread samples the program's
// pages until it ends and keeps the largest count in a shared report.
#include <windows.h>

#include <cstdio>

namespace bench {

struct WorkingSetCount {
    LONG pages;        // resident pages
    LONG imagePages;   // of them, in images (the program and its libraries)
    LONG mappedPages;  // in mapped files (Wine's locale tables, the theme)
};

// The probe fills the slot `peak` does not name, then names it: a program
// ending at any moment leaves a whole count behind.
struct WorkingSetReport {
    volatile LONG samples;
    volatile LONG peak;  // the slot holding the largest count seen
    WorkingSetCount slots[2];
};

// The names of the report's shared memory and of the probe's events, after
// the program's process id: `ready` is set after the first sample; `stop`
// asks the probe to stop sampling, and `stopped` says it has. The program must
// not end while the probe's thread is inside a query: Wine ends the other
// threads of an exiting process where they stand, and one stopped inside the C
// library's allocator (which Wine's query calls) corrupts its heap for the
// thread that exits.
struct WorkingSetProbeNames {
    char report[64], ready[64], stop[64], stopped[64];
};

// False when a name does not fit.
inline bool NameWorkingSetProbe(DWORD processId, WorkingSetProbeNames& names) {
    const struct {
        char* target;
        const char* kind;
    } each[] = {{names.report, ""}, {names.ready, "ready-"}, {names.stop, "stop-"}, {names.stopped, "stopped-"}};
    for (const auto& name : each) {
        const int n = std::snprintf(name.target, sizeof names.report, "Local\\sundrift-working-set-%s%lu", name.kind,
                                    processId);
        if (n <= 0 || n >= static_cast<int>(sizeof names.report)) return false;
    }
    return true;
}

}  // namespace bench
