#pragma once
// The patch being written: checked against the files it is made of, written
// under a temporary name, and removed when the build fails or is interrupted.
#include <string>
#include <vector>

#include "pack_files.h"

// The reason `out` cannot be written as the patch, or empty: its folder is
// none, it is a folder, a device, a pipe or a socket, or it is the same file (device and file number)
// as one of `sources`, under whatever name. `sources` are paths as given;
// missing ones are skipped.
std::string OutputProblem(const std::string& out, const std::vector<std::string>& sources);

// Creates the temporary file beside `target` and arranges that an interrupt,
// termination or hang-up signal removes it before the process ends.
File CreateTemporaryOutput(const std::string& target, std::string& tempPath);

// The temporary file was moved onto its final name: nothing to remove any more.
void KeepTemporaryOutput();

// Removes the temporary file after a failure.
void DropTemporaryOutput(const std::string& tempPath);
