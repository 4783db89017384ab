#pragma once
// Telling the install folder's own files from links, junctions and further
// names planted in it, so that no change made there reaches anything outside.
#include <windows.h>

#include "io/file_handle.h"

// Which file an open handle refers to, whatever name it was opened by.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

bool IdentifyFile(const FileHandle& file, FileIdentity& identity);

// Between RememberFolderPaths(true) and (false), as during one update run, a
// folder's final path is looked up once and then taken from memory; the checks
// only grow stricter by it (a folder swapped for a link since no longer matches).
void RememberFolderPaths(bool on);

// True when `file` is a regular disk file with no other name, opened at `path`
// itself, not through a link standing at that name. A reparse point that leads
// no name elsewhere (a compressed, cloud or deduplicated file) is no link.
// Folders on the way are PassesThroughLinkedFolder's to check.
bool IsPlainFileAt(const FileHandle& file, const char* path);

// Deletes the file at `path` only when it is the identified one. Anything else
// standing there, a link and what it points to included, is left alone.
bool DeleteOwnFile(const char* path, const FileIdentity& identity);

// Gives the file at `path` FILE_ATTRIBUTE_NORMAL when it is a plain file; a
// link, a folder, a device or a file with further names is left as it is.
bool ClearAttributesOfPlainFile(const char* path);

// True when a folder part of the relative `name` ("sub" of "sub\x.arc") under
// `folder` is a link or a junction, is no folder, or cannot be looked at.
// A folder whose reparse point leads no name elsewhere (a cloud or compressed
// folder) is passed through when it stands where its name says.
bool PassesThroughLinkedFolder(const char* folder, const char* name);

// Removes whatever stands at the temporary name `path` ("<x>.tmp") as a name: a
// file, even read-only or hidden, or a link, never what a link points to.
// Folders are left alone. Its placeholder names are no longer than `path`.
bool RemoveName(const char* path);

// Opens a new, empty file at `path` for writing and identifies it, so that only
// this file is ever deleted by that name. Whatever stood there before (a stale
// file of an earlier run, even read-only or hidden, or a planted link) is
// removed as a name first (see RemoveName), and the file is created only if
// nothing appeared there in between. A file that is not plain where it was
// asked for (see IsPlainFileAt), or cannot be identified, is deleted again
// through the handle that created it; false then.
bool CreateFreshFile(FileHandle& file, const char* path, FileIdentity& identity);
