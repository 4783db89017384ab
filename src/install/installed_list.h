#pragma once
// The installed hash-value list "KVX.hvl" of the install folder, pruned after a
// commit to the records of the files present.

// Rewrites "<folder>\KVX.hvl" keeping the records whose paths exist. Silent: a
// list that cannot be read as a whole, or not be replaced (read-only, hidden or
// system included), stays as it was. A record whose path cannot be probed inside the folder (no
// terminator, not a contained name, too long) is kept, since it cannot be found
// missing.
void PruneHashValueList(const char* installFolder);
