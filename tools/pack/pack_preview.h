#pragma once
// What running a patch on a game folder would do, worked out before any
// player runs it: the package read as the update run reads it, the folder as
// the run would meet it, and the lists as its commit would leave them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/portable/update_result.h"

struct PreviewEntry {
    std::string storedName;   // Shift-JIS, as in the index
    std::string installName;  // Shift-JIS: the record's path, else the stored name
    int record = -1;          // the record that verifies it, -1: installed unverified
    bool replaces = false;    // a file of that name stands in the folder
    bool reached = false;     // the run gets to this entry
    bool installed = false;   // its file is in place when the run ends
};

struct Preview {
    UpdateResult result = UPDATE_E_CORRUPT;
    int failedEntry = -1;  // the entry the run stops at, -1 for the header or the lists
    std::string failure;   // why the run ends there; empty on success
    std::vector<PreviewEntry> entries;

    bool committed = false;  // every entry was moved into place
    bool listRewritten = false;
    std::string listNote;  // why the installed list is left as it is
    std::vector<std::string> keptRecords, droppedRecords;  // Shift-JIS paths
    std::vector<uint8_t> listAfter;

    bool uninstallRewritten = false;
    std::string uninstallNote;  // why the uninstaller's list cannot be extended
    std::vector<std::string> appendedLines;  // Shift-JIS
    std::vector<uint8_t> uninstallAfter;
};

// False, with the reason, only when the patch or the folder cannot be read.
// With `progress`, reading the patch is shown on a terminal.
bool PreviewPatch(const std::string& patch, const std::string& gameDir, Preview& preview, std::string& error,
                  bool progress = false);

// The exit code the program ends with for the run's result.
uint32_t PreviewExitCode(const Preview& preview);

void PrintPreview(const Preview& preview, bool json, FILE* out);
