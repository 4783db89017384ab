#pragma once
// Building a patch: the updater, zero bytes up to PACKAGE_OFFSET, the header,
// the index and the entries, the generated hash-value list first.
#include <string>
#include <vector>

#include "io/portable/seek_limit.h"
#include "pack_stub.h"
#include "package/portable/package_format.h"

// Written when the short index is asked for: any magic but PACKAGE_MAGIC
// selects the 32-byte entries.
constexpr char SHORT_INDEX_MAGIC[] = "VORMEL ARC10";
static_assert(sizeof SHORT_INDEX_MAGIC - 1 == PACKAGE_MAGIC_SIZE, "magic fills its field");

constexpr const char* DEFAULT_LIST_NAME = INSTALLED_LIST_NAME;
// The largest patch the updater can seek through.
constexpr unsigned long long PATCH_SIZE_LIMIT = SEEK_LIMIT;
constexpr size_t INSTALL_PATH_MAX = RECORD_PATH_SIZE - 1;

struct PackInput {
    std::string file;         // UTF-8 path of the file to pack
    std::string installPath;  // UTF-8, when given
    bool pathGiven = false;   // otherwise: the base list's path for it, else the file's own name
};

struct BuildOptions {
    std::string stub;
    std::string out;
    std::string baseList;  // empty: the list holds only the packed files
    StubMachine stubMachine = StubMachine::I386;
    std::string listName = DEFAULT_LIST_NAME;
    bool shortIndex = false;
    bool progress = false;
    bool planOnly = false;  // every check, nothing written
    std::vector<PackInput> inputs;
};

struct BuildOutcome {
    bool ok = false;
    std::string error;  // one line naming the offending input
    std::vector<std::string> warnings;
    size_t entries = 0;        // of the patch written, the list included
    uint64_t patchBytes = 0;
};

// Writes the patch through a temporary file beside `out`; a refusal or
// failure leaves neither the output nor the temporary file behind.
BuildOutcome BuildPatch(const BuildOptions& options);

// "FILE" or "FILE=INSTALL_PATH", split at the first "=". A FILE that cannot be
// read is reported with a hint about the "=" when the argument holds one.
PackInput ParseInputArgument(const std::string& argument);
