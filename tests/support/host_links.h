#pragma once
// Links planted in a test's folders from the host side, where Wine sees them as
// links, and removed there again when the test ends, however it ends: removing
// a host link through Win32 would remove what it points to.
#include <functional>
#include <string>
#include <vector>

#include "support/unix_shell.h"

namespace testing_support {

class HostLinks {
public:
    HostLinks() = default;
    ~HostLinks();
    HostLinks(const HostLinks&) = delete;
    HostLinks& operator=(const HostLinks&) = delete;

    // A symbolic link at `at` to `target` (Windows paths); false when the host
    // cannot make one, with the reason in Why().
    bool Symbolic(const std::string& target, const std::string& at) { return Make("ln -s", target, at); }
    // A further name `at` for the file `target`.
    bool Hard(const std::string& target, const std::string& at) { return Make("ln", target, at); }

    const std::string& Why() const { return why_; }

private:
    bool Make(const std::string& command, const std::string& target, const std::string& at);

    std::vector<std::string> planted_;
    std::string why_;
};

// True when `path` is a symbolic link on the host.
bool IsHostLink(const std::string& path);

// The host's permission bits of `path` ("444"), or "" when it cannot be read.
std::string UnixMode(const std::string& path);

bool SetUnixMode(const std::string& path, const std::string& mode);

// Plants at `path` a host link to /dev/zero, then a named pipe, and calls `run`
// with the command that made each; afterwards that special file must still stand
// there. Skips the test where the host cannot make them.
void WithDeviceAndPipeAt(const std::string& path, const std::function<void(const std::string& made)>& run);

}  // namespace testing_support
