#pragma once
// The installed hash-value list "KVX.hvl" of the install folder, pruned after a
// commit to the records of the files present.

// The new installed list is written here first and then renamed over the list.
// Install names never end in ".tmp", so no game file can stand at this name, and
// one left by a killed run is known as ours and replaced by the next. It is no
// longer than the list's own name, so its path fits wherever the list's does.
constexpr char INSTALLED_LIST_SCRATCH_NAME[] = "KVX.tmp";

// Rewrites "<folder>\KVX.hvl" keeping the records whose paths exist. Silent: a
// list that cannot be read as a whole, or not be replaced (read-only, hidden or
// system included), stays as it was. A record whose path cannot be probed inside the folder (no
// terminator, not a contained name, too long) is kept, since it cannot be found
// missing.
void PruneHashValueList(const char* installFolder);
