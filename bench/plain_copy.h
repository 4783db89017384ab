#pragma once
// The baseline the update is measured against: the same bytes of a patch copied
// in 1 MiB ReadFile/WriteFile chunks to temporary files and moved into place,
// with no checksum, no list and no uninstaller's list.
#include "ui/progress_controls.h"

struct CopyOptions {
    // Every chunk also goes through the running checksum, whose result is not
    // used: the copy's share of the update's extra work.
    bool checksum = false;
    // Each temporary file is flushed before it is closed, as the update run
    // flushes them before its commit.
    bool flush = false;
    // Each temporary file is made with CREATE_NEW, as the update run makes
    // them, instead of CREATE_ALWAYS. Under Wine on ext4 a file made with
    // CREATE_ALWAYS has its writeback started when it is closed, one made with
    // CREATE_NEW when it is renamed over the installed file.
    bool createNew = false;
};

// Copies every entry of the package in `packagePath` to "<folder>\<name>.tmp",
// then renames each onto "<folder>\<name>". The controls get the updates the
// update run makes: the status line per entry, the file bar after every chunk,
// the total bar per entry, and a message pump after every chunk and entry.
bool PlainCopy(const char* packagePath, const char* folder, const ProgressControls& controls,
               const CopyOptions& options = CopyOptions{});
