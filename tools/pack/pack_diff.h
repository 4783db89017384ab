#pragma once
// A patch made from two versions of the game folder: every file of the new
// version that is new or changed, under its path in the folder.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pack_build.h"

struct DiffOptions {
    std::string oldDir;
    std::string newDir;
    std::string baseList;  // empty: the old folder's list
    bool dryRun = false;
    BuildOptions build;    // stub, out, list name, index layout; inputs are filled in
};

enum class FileStatus { UNCHANGED, CHANGED, NEW };
enum class RecordFate { NONE, KEPT, UPDATED, ADDED };

struct DiffFile {
    std::string path;  // relative, UTF-8, "/" between folders
    FileStatus status = FileStatus::UNCHANGED;
    uint64_t size = 0;  // in the new folder
    bool hasOld = false;
    uint8_t oldChecksum[CHECKSUM_SIZE] = {};
    uint8_t newChecksum[CHECKSUM_SIZE] = {};
    RecordFate record = RecordFate::NONE;
};

struct DiffPlan {
    std::vector<DiffFile> files;
    std::vector<std::string> missing;  // in the old folder only
    std::vector<std::string> skipped;  // the lists the updater maintains itself
    std::vector<std::string> refusals;
    std::vector<std::string> warnings;
    bool written = false;
};

// Compares the folders, checks what the updater cannot do, and unless it is a
// dry run builds the patch. False only when a folder or file cannot be read;
// refusals are in the plan.
bool PlanDiff(const DiffOptions& options, DiffPlan& plan, std::string& error);

void PrintDiffPlan(const DiffOptions& options, const DiffPlan& plan, bool json, FILE* out);
