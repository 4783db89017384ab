#pragma once
// Unix side of the Wine host for tests that need what Win32 cannot do here:
// symbolic links, FIFOs, small mounted file systems.
#include <windows.h>

#include <string>

#include "support/process_start.h"
#include "support/win_files.h"

namespace testing_support {

// The host path of a Windows path, or "" when not running under Wine.
std::string UnixPathOf(const std::string& windowsPath);

// Runs `script` with /bin/sh on the host and waits for it. Returns its exit
// status, or -1 when it could not be run; `output` receives stdout and stderr.
int RunUnixShell(const std::string& script, std::string* output = nullptr);

// Single quotes for the shell around a host path.
inline std::string Quoted(const std::string& unixPath) { return "'" + unixPath + "'"; }

}  // namespace testing_support
