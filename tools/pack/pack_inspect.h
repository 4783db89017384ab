#pragma once
// Reading a patch back the way the updater reads it: the shared verdict of
// the update run (JudgePackage), the problems that make the updater refuse
// the patch, and warnings about what it takes but a publisher would not want.
#include <cstdio>
#include <string>
#include <vector>

#include "pack_image.h"
#include "pack_provenance.h"
#include "package/portable/package_verdict.h"

struct Inspection {
    PackageVerdict verdict;
    // Why the updater ends the run before installing anything, whatever the
    // game folder holds (damaged, too many entries, a name no file may have);
    // empty: it takes the patch.
    std::vector<std::string> problems;
    std::vector<std::string> warnings;

    ImageLayout image;     // the program before the package, and a signature's place
    uint64_t dataEnd = 0;  // where the last entry's data end
    Provenance provenance;
};

// A certificate table stands in the program's headers.
inline bool IsSigned(const Inspection& inspection) { return inspection.image.certificateSize > 0; }

// False only when the file cannot be opened, measured or read through.
// With `progress`, the bytes read are shown on a terminal.
bool InspectPatch(const std::string& path, Inspection& inspection, std::string& error, bool progress = false);

void PrintInspection(const Inspection& inspection, bool json, FILE* out);
