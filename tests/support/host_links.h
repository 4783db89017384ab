#pragma once
// Links planted in a test's folders from the host side, where Wine sees them as
// links, and removed there again when the test ends, however it ends: removing
// a host link through Win32 would remove what it points to.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/unix_shell.h"

namespace testing_support {

class HostLinks {
public:
    HostLinks() = default;
    ~HostLinks() {
        if (planted_.empty()) return;
        std::string script = "rm -f";
        for (const std::string& path : planted_) script += " " + Quoted(path);
        RunUnixShell(script);
    }
    HostLinks(const HostLinks&) = delete;
    HostLinks& operator=(const HostLinks&) = delete;

    // A symbolic link at `at` to `target` (Windows paths); false when the host
    // cannot make one, with the reason in Why().
    bool Symbolic(const std::string& target, const std::string& at) { return Make("ln -s", target, at); }
    // A further name `at` for the file `target`.
    bool Hard(const std::string& target, const std::string& at) { return Make("ln", target, at); }

    const std::string& Why() const { return why_; }

private:
    bool Make(const std::string& command, const std::string& target, const std::string& at) {
        const std::string unixAt = UnixPathOf(at);
        if (unixAt.empty()) {
            why_ = "not running under Wine";
            return false;
        }
        planted_.push_back(unixAt);
        return RunUnixShell(command + " " + Quoted(UnixPathOf(target)) + " " + Quoted(unixAt), &why_) == 0;
    }

    std::vector<std::string> planted_;
    std::string why_;
};

// True when `path` is a symbolic link on the host.
inline bool IsHostLink(const std::string& path) { return RunUnixShell("test -L " + Quoted(UnixPathOf(path))) == 0; }

// The host's permission bits of `path` ("444"), or "" when it cannot be read.
inline std::string UnixMode(const std::string& path) {
    std::string output;
    if (RunUnixShell("stat -c %a " + Quoted(UnixPathOf(path)), &output) != 0) return "";
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

inline bool SetUnixMode(const std::string& path, const std::string& mode) {
    return RunUnixShell("chmod " + mode + " " + Quoted(UnixPathOf(path))) == 0;
}

// Plants at `path` a host link to /dev/zero, then a named pipe, and calls `run`
// with the command that made each; afterwards that special file must still stand
// there. Skips the test where the host cannot make them.
inline void WithDeviceAndPipeAt(const std::string& path, const std::function<void(const std::string& made)>& run) {
    const std::string at = Quoted(UnixPathOf(path));
    for (const std::string& make : {"ln -s /dev/zero " + at, "mkfifo " + at}) {
        std::string output;
        if (RunUnixShell(make, &output) != 0) GTEST_SKIP() << "cannot set up " << make << ": " << output;
        run(make);
        EXPECT_EQ(RunUnixShell("test -p " + at + " || test -L " + at), 0) << make;
        ASSERT_EQ(RunUnixShell("rm " + at), 0);
    }
}

}  // namespace testing_support
