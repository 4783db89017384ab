#pragma once
// Reading a patch back the way the updater reads it: the shared verdict of
// the update run (JudgePackage), the problems that make the updater refuse
// the patch, and warnings about what it takes but a publisher would not want.
#include <cstdio>
#include <string>
#include <vector>

#include "package/package_verdict.h"

struct Inspection {
    PackageVerdict verdict;
    // Why the updater ends the run as damaged (or with too many entries)
    // before installing anything; empty: it takes the patch.
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
};

// False only when the file cannot be opened or measured.
bool InspectPatch(const std::string& path, Inspection& inspection, std::string& error);

void PrintInspection(const Inspection& inspection, bool json, FILE* out);
