// working_set_probe.dll: loaded into a running program by update_bench. Its
// thread counts the program's resident pages about every millisecond until
// update_bench stops it, and keeps the largest count in the report update_bench created.
// The probe's own pages (its image, stack, buffer and the report) are not counted.
#include <windows.h>

#include <psapi.h>

#include "working_set_probe.h"

namespace {

constexpr DWORD SAMPLE_PAUSE_MS = 1;
constexpr SIZE_T SAMPLER_STACK = 64 * 1024;
constexpr size_t BATCH_PAGES = 65536;

HMODULE probeModule;
SYSTEM_INFO system;  // the page size and the bounds of the address space
bench::WorkingSetReport* report;
HANDLE ready, stop, stopped;
PSAPI_WORKING_SET_EX_INFORMATION* batch;

using bench::WorkingSetCount;

// Asks which of the batch's first `size` pages are resident; `types` holds each page's MEM_ type.
void CountBatch(size_t size, const DWORD* types, WorkingSetCount& count) {
    if (size == 0 || !QueryWorkingSetEx(GetCurrentProcess(), batch, static_cast<DWORD>(size * sizeof batch[0]))) {
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        if (!batch[i].VirtualAttributes.Valid) continue;
        ++count.pages;
        if (types[i] == MEM_IMAGE) ++count.imagePages;
        if (types[i] == MEM_MAPPED) ++count.mappedPages;
    }
}

// The allocations the probe itself made or brought: its image, its thread's stack, its batch and the report.
bool IsTheProbesOwn(const void* allocationBase, const void* stackBase) {
    return allocationBase == probeModule || allocationBase == stackBase || allocationBase == batch ||
           allocationBase == report;
}

WorkingSetCount CountResidentPages(const void* stackBase, DWORD* types) {
    const SIZE_T page = system.dwPageSize;
    WorkingSetCount count = {};
    size_t size = 0;
    MEMORY_BASIC_INFORMATION region;
    for (char* at = static_cast<char*>(system.lpMinimumApplicationAddress);
         at < system.lpMaximumApplicationAddress && VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_COMMIT || IsTheProbesOwn(region.AllocationBase, stackBase)) continue;
        char* const end = static_cast<char*>(region.BaseAddress) + region.RegionSize;
        for (char* p = static_cast<char*>(region.BaseAddress); p < end; p += page) {
            if (size == BATCH_PAGES) {
                CountBatch(size, types, count);
                size = 0;
            }
            batch[size].VirtualAddress = p;
            types[size++] = region.Type;
        }
    }
    CountBatch(size, types, count);
    return count;
}

DWORD WINAPI Sample(void*) {
    MEMORY_BASIC_INFORMATION own = {};
    const int onStack = 0;
    VirtualQuery(&onStack, &own, sizeof own);
    const void* stackBase = own.AllocationBase;
    // The pages' types live in the same allocation as the batch.
    DWORD* types = reinterpret_cast<DWORD*>(batch + BATCH_PAGES);
    for (;;) {
        const WorkingSetCount count = CountResidentPages(stackBase, types);
        if (count.pages > report->slots[report->peak].pages) {
            const LONG next = report->peak ^ 1;
            report->slots[next] = count;
            InterlockedExchange(&report->peak, next);
        }
        if (InterlockedIncrement(&report->samples) == 1) SetEvent(ready);
        if (WaitForSingleObject(stop, SAMPLE_PAUSE_MS) != WAIT_TIMEOUT) break;
    }
    SetEvent(stopped);
    return 0;
}

bool Start() {
    GetSystemInfo(&system);
    bench::WorkingSetProbeNames names;
    if (!bench::NameWorkingSetProbe(GetCurrentProcessId(), names)) return false;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, names.report);
    ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, names.ready);
    stop = OpenEventA(SYNCHRONIZE, FALSE, names.stop);
    stopped = OpenEventA(EVENT_MODIFY_STATE, FALSE, names.stopped);
    if (!mapping || !ready || !stop || !stopped) return false;
    report = static_cast<bench::WorkingSetReport*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    batch = static_cast<PSAPI_WORKING_SET_EX_INFORMATION*>(
        VirtualAlloc(nullptr, BATCH_PAGES * (sizeof *batch + sizeof(DWORD)), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!report || !batch) return false;
    HANDLE thread = CreateThread(nullptr, SAMPLER_STACK, Sample, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    probeModule = module;
    DisableThreadLibraryCalls(module);
    return Start();
}
