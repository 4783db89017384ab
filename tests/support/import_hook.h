#pragma once
// Replaces system functions for the calls this program makes through its
// import table. The updater's code is linked into each test program, so its
// calls go through that table too: a test can watch, refuse or stop them there.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace testing_support {

using ImportEntry = decltype(IMAGE_THUNK_DATA::u1.Function);

// Writes one bound entry of the import table; false when its page stays locked.
inline bool WriteImportEntry(IMAGE_THUNK_DATA* entry, ImportEntry value) {
    DWORD protection = 0;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection)) return false;
    entry->u1.Function = value;
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return true;
}

// Calls `visit` with the library, the name and the bound entry of every
// function that this program's own module imports by name. The headers' types
// are those of this build, 32- or 64-bit, as is the module they describe.
template <typename Visit>
bool ForEachImportByName(Visit visit) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (headers->Signature != IMAGE_NT_SIGNATURE || headers->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        headers->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) {
        return false;
    }
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        // Without the lookup table the names are gone: the loader overwrote them.
        if (library->OriginalFirstThunk == 0) continue;
        const char* dll = reinterpret_cast<const char*>(base + library->Name);
        const auto* lookup = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++entry) {
            if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + lookup->u1.AddressOfData);
            visit(dll, reinterpret_cast<const char*>(byName->Name), entry);
        }
    }
    return true;
}

// Points the program's import of `dll`!`function` at `replacement` and gives
// the address it held (to call on with, or to put back); null when the program
// imports no such function by name.
inline void* HookImport(const char* dll, const char* function, void* replacement) {
    void* original = nullptr;
    ForEachImportByName([&](const char* library, const char* name, IMAGE_THUNK_DATA* entry) {
        if (original || _stricmp(library, dll) != 0 || std::strcmp(name, function) != 0) return;
        const ImportEntry held = entry->u1.Function;
        if (WriteImportEntry(entry, reinterpret_cast<ImportEntry>(replacement))) {
            original = reinterpret_cast<void*>(held);
        }
    });
    return original;
}

// The same with the function's own type: `original` receives the address the
// table held before; false when there was none.
template <typename Function>
bool HookImportAs(const char* dll, const char* function, Function replacement, Function& original) {
    original = reinterpret_cast<Function>(HookImport(dll, function, reinterpret_cast<void*>(replacement)));
    return original != nullptr;
}

// Casts between unrelated function types warn, except through this one.
using AnyFunction = void (*)();

// A kernel32 function whose import entries lead to `function` instead; `real`,
// when given, receives the system's own function.
struct ImportReplacement {
    const char* name;
    AnyFunction function;
    AnyFunction* real;
};

// The import entries of this program replaced by one layer of test answers,
// and what they held before.
class ReplacedImports {
public:
    // False, with every entry as it was, when a function that needs its real
    // one is missing from kernel32 or an entry cannot be written. A function
    // this program does not import needs no entry: nothing can call it.
    bool Replace(const ImportReplacement* replacements, size_t count) {
        const HMODULE kernel = GetModuleHandleA("kernel32.dll");
        for (size_t i = 0; i < count; ++i) {
            if (!replacements[i].real) continue;
            *replacements[i].real = reinterpret_cast<AnyFunction>(GetProcAddress(kernel, replacements[i].name));
            if (!*replacements[i].real) return false;
        }
        bool written = true;
        const bool walked = ForEachImportByName([&](const char*, const char* name, IMAGE_THUNK_DATA* entry) {
            for (size_t i = 0; i < count; ++i) {
                if (std::strcmp(name, replacements[i].name) != 0) continue;
                entries_.push_back({entry, entry->u1.Function});
                written = WriteImportEntry(entry, reinterpret_cast<ImportEntry>(replacements[i].function)) && written;
            }
        });
        if (walked && written) return true;
        Restore();
        return false;
    }

    void Restore() {
        for (const Entry& e : entries_) WriteImportEntry(e.entry, e.original);
        entries_.clear();
    }

private:
    struct Entry {
        IMAGE_THUNK_DATA* entry;
        ImportEntry original;
    };
    std::vector<Entry> entries_;
};

}  // namespace testing_support
