#include "support/host_links.h"

#include <gtest/gtest.h>

namespace testing_support {

HostLinks::~HostLinks() {
    if (planted_.empty()) return;
    std::string script = "rm -f";
    for (const std::string& path : planted_) script += " " + Quoted(path);
    RunUnixShell(script);
}

bool HostLinks::Make(const std::string& command, const std::string& target, const std::string& at) {
    const std::string unixAt = UnixPathOf(at);
    if (unixAt.empty()) {
        why_ = "not running under Wine";
        return false;
    }
    planted_.push_back(unixAt);
    return RunUnixShell(command + " " + Quoted(UnixPathOf(target)) + " " + Quoted(unixAt), &why_) == 0;
}

bool IsHostLink(const std::string& path) { return RunUnixShell("test -L " + Quoted(UnixPathOf(path))) == 0; }

std::string UnixMode(const std::string& path) {
    std::string output;
    if (RunUnixShell("stat -c %a " + Quoted(UnixPathOf(path)), &output) != 0) return "";
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

bool SetUnixMode(const std::string& path, const std::string& mode) {
    return RunUnixShell("chmod " + mode + " " + Quoted(UnixPathOf(path))) == 0;
}

void WithDeviceAndPipeAt(const std::string& path, const std::function<void(const std::string& made)>& run) {
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
