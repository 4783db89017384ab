#pragma once
// The rules the update run applies to an install name before it writes
// anything; a name that breaks one makes the package damaged.
#include "package/portable/name_rules.h"

// What the run's temporary names end in; no install name does.
constexpr char TEMPORARY_SUFFIX[] = ".tmp";

enum InstallNameFault {
    NAME_ACCEPTED,
    // Empty, rooted, UNC, with a drive, an empty, "." or ".." component, or a ':'.
    NAME_LEAVES_FOLDER,
    // A component is CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9 (any
    // case, with or without an extension), which opens a device, not a file.
    NAME_DEVICE,
    // Ends in ".tmp", the run's own temporary files.
    NAME_TEMPORARY,
    // A component ends in "." or " ", which the file system drops ("a.arc." is "a.arc").
    NAME_ALTERED,
    // No text in the code page: a pair that is no character, or a lead byte cut
    // short by the end; the file would get another name than the one recorded.
    NAME_NOT_TEXT,
    // An earlier entry is installed under the same name (see SameInstallName).
    NAME_DUPLICATE,
};

// True when `name` is a relative path that stays inside the folder: not
// empty, not rooted or UNC, no drive, no empty, "." or ".." component, no ':'.
bool IsContainedName(const char* name, LeadByteTest isLeadByte);

InstallNameFault CheckInstallName(const char* name, LeadByteTest isLeadByte);

// True when `name` holds < > " | ? * or a control character, which Windows
// refuses in every file name. No rule of the package: such a name is taken,
// and its temporary file is then refused as the file system would refuse it.
bool HoldsUnusableCharacter(const char* name, LeadByteTest isLeadByte);

// Why the name is refused, in a few words ("leaves the game folder").
const char* InstallNameFaultText(InstallNameFault fault);

// True when both name one file: equal once lower-cased, with "/" and "\" alike.
bool SameInstallName(const char* name, const char* other, const NameRules& rules);

// The run's rules for an entry's install name, given the install names of the
// entries before it (earlier names that break a rule themselves are passed
// over): a rule of CheckInstallName, NAME_NOT_TEXT, or NAME_DUPLICATE with `sameNameAs` the
// earlier entry (-1 otherwise). The run calls it for every entry, a builder of
// a package before writing anything.
InstallNameFault JudgeInstallName(const char* name, const char* const* earlier, size_t earlierCount,
                                  const NameRules& rules, int& sameNameAs);
