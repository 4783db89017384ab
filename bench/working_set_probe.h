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

// The report's shared memory and the event set after the probe's first sample,
// named after the program's process id; false when the name does not fit.
inline bool WorkingSetProbeNames(DWORD processId, char (&report)[64], char (&ready)[64]) {
    const int a = std::snprintf(report, sizeof report, "Local\\sundrift-working-set-%lu", processId);
    const int b = std::snprintf(ready, sizeof ready, "Local\\sundrift-working-set-ready-%lu", processId);
    return a > 0 && a < static_cast<int>(sizeof report) && b > 0 && b < static_cast<int>(sizeof ready);
}

}  // namespace bench
