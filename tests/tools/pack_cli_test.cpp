// The packer's command line as a publisher types it: exit codes, the workflow
// commands, signals, a full disk and messages; and the tool installed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

// Each command and the options its help and the reference must name.
const std::vector<std::pair<std::string, std::vector<std::string>>> COMMAND_OPTIONS = {
    {"build", {"--stub", "--out", "--base-list", "--no-base-list", "--list-name", "--short-index", "--quiet"}},
    {"diff", {"--stub", "--out", "--base-list", "--dry-run", "--json", "--list-name", "--short-index", "--quiet"}},
    {"preview", {"--json"}},
    {"sign", {"--cert", "--key", "--out", "--name", "--ca", "--timestamp", "--tool"}},
    {"verify", {"--strict", "--json"}},
    {"inspect", {"--strict", "--json"}},
    {"checksum", {}},
};

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(PackCli, HelpAndVersionMadeFromTheDeclarations) {
    const CliRun tool = Cli("--help");
    EXPECT_EQ(tool.status, 0);
    EXPECT_NE(tool.output.find("usage: sundrift-pack COMMAND"), std::string::npos) << tool.output;
    for (const auto& command : COMMAND_OPTIONS) {
        EXPECT_NE(tool.output.find("\n  " + command.first + " "), std::string::npos) << command.first;
        for (const std::string flag : {" --help", " -h"}) {
            const CliRun help = Cli(command.first + flag);
            EXPECT_EQ(help.status, 0);
            EXPECT_NE(help.output.find("\nusage: sundrift-pack " + command.first + " "), std::string::npos)
                << help.output;
            for (const std::string& option : command.second) {
                EXPECT_NE(help.output.find("\n  " + option + " "), std::string::npos) << command.first << option;
            }
            EXPECT_EQ(help.output.find("--test-amd64-stub"), std::string::npos) << "a test-only option";
            EXPECT_EQ(help.output.find("usage: "), help.output.rfind("usage: ")) << "its own usage only";
        }
    }
    EXPECT_EQ(tool.output.find("--test-amd64-stub"), std::string::npos);
    const SplitRun version = CliApart("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("sundrift-pack ") + SUNDRIFT_PACK_VERSION + "\n");
}

// --opt=value and --opt value alike; after "--" every word an argument.
TEST(PackCli, ValuesEitherWayAndDoubleDashEverywhere) {
    Workbench bench;
    bench.Add("-a.arc", 100);
    const std::string input = bench.options.inputs[0].file;
    const CliRun built = Cli("build --quiet --no-base-list --stub=" + Quote(bench.options.stub) +
                             " --out=" + Quote(bench.options.out) + " -- " + Quote(input));
    EXPECT_EQ(built.status, 0) << built.output;
    for (const std::string& command :
         {"inspect -- " + Quote(bench.options.out), "checksum -- " + Quote(input) + " " + Quote(input)}) {
        const CliRun run = Cli(command);
        EXPECT_EQ(run.status, 0) << command << run.output;
    }
    TwoVersions versions;
    versions.Plan();
    const CliRun planned = Cli("diff --dry-run --stub " + Quote(versions.options.build.stub) + " --out=" +
                               Quote(versions.options.build.out) + " -- " + Quote(versions.options.oldDir) + " " +
                               Quote(versions.options.newDir));
    EXPECT_EQ(planned.status, 0) << planned.output;
    EXPECT_EQ(Cli("verify -- " + Quote(versions.options.oldDir)).status, 0);
    EXPECT_EQ(Cli("build --quiet --no-base-list --stub " + Quote(bench.options.stub) + " --out " +
                  Quote(bench.options.out) + " --test-amd64-stub " + Quote(input))
                  .status,
              0)
        << "the hidden option is still taken";
}

TEST(PackCli, RepeatedValueOptionRefused) {
    for (const std::string& command : {std::string("sign p.exe --cert a.pem --cert b.pem --key k.pem"),
                                       std::string("build --no-base-list --stub s.exe --out a.exe --out=b.exe f.arc"),
                                       std::string("diff --stub s.exe --stub t.exe --dry-run old new")}) {
        const SplitRun run = CliApart(command);
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_NE(run.err.find(" is given 2 times; give it once\n"), std::string::npos) << run.err;
    }
}

// A mistyped command line: what is wrong, that command's usage line, a
// pointer to its help; nothing on standard output, --json or not.
TEST(PackCli, UsageErrorAnswersWithThatCommandsUsageOnly) {
    for (const auto& command : COMMAND_OPTIONS) {
        const SplitRun run = CliApart(command.first + " --bogus --json x");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find("sundrift-pack: " + command.first + ": unknown option --bogus\nusage: sundrift-pack " +
                               command.first + " "),
                  0u)
            << run.err;
        EXPECT_EQ(Lines(run.err), 3u) << run.err;
    }
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"", "sundrift-pack: no command given\n"},
        {"frobnicate", "sundrift-pack: unknown command frobnicate\n"},
        {"inspect a.exe b.exe", "sundrift-pack: inspect: unexpected argument b.exe\n"},
        {"build --out x.exe --no-base-list a.arc", "sundrift-pack: build: --stub is required\n"},
        {"build --stub s.exe --out x.exe a.arc", "sundrift-pack: build: --base-list is required"},
        {"build --stub s.exe --out x.exe --no-base-list --base-list b.hvl a.arc",
         "sundrift-pack: build: --base-list excludes --no-base-list\n"},
        {"diff old new --stub s.exe", "sundrift-pack: diff: --out is required without --dry-run\n"},
        {"sign p.exe --cert c.pem", "sundrift-pack: sign: --key is required\n"},
        {"checksum", "sundrift-pack: checksum: FILE is required\n"},
    };
    for (const auto& answer : answers) {
        const SplitRun run = CliApart(answer.first);
        EXPECT_EQ(run.status, 2) << answer.first;
        EXPECT_EQ(run.err.find(answer.second), 0u) << run.err;
        EXPECT_EQ(Lines(run.err), 3u) << run.err;
    }
}

// The installed tool runs, and its manual page, made from the reference,
// names every command and option the help does.
TEST(PackInstall, ProgramAndManualPage) {
    Folder prefix;
    const CliRun installed = ShellRun(Quote(CMAKE_PROGRAM) + " --install " + Quote(BUILD_FOLDER) + " --prefix " +
                                      Quote(prefix / "usr"));
    ASSERT_EQ(installed.status, 0) << installed.output;
    const CliRun version = ShellRun(Quote(prefix / "usr/bin/sundrift-pack") + " --version");
    EXPECT_EQ(version.output, std::string("sundrift-pack ") + SUNDRIFT_PACK_VERSION + "\n");
    const Bytes manualBytes = ReadFile(prefix / "usr/share/man/man1/sundrift-pack.1");
    const std::string manual(manualBytes.begin(), manualBytes.end());
    EXPECT_NE(manual.find(".TH \"sundrift-pack\" \"1\""), std::string::npos) << manual.substr(0, 400);
    EXPECT_LT(manual.find("\n.SH NAME\n"), manual.find("\nsundrift-pack - build")) << "what apropos reads";
    EXPECT_NE(manual.find(std::string("sundrift-pack ") + SUNDRIFT_PACK_VERSION), std::string::npos);
    const Bytes referenceBytes = ReadFile(REFERENCE_PAGE);
    const std::string reference(referenceBytes.begin(), referenceBytes.end());
    for (const auto& command : COMMAND_OPTIONS) {
        EXPECT_NE(reference.find("\n### " + command.first + "\n"), std::string::npos) << command.first;
        EXPECT_NE(manual.find(".SS " + command.first + "\n"), std::string::npos) << command.first;
        for (const std::string& option : command.second) {
            EXPECT_NE(reference.find("`" + option), std::string::npos) << option;
            EXPECT_NE(manual.find("\\f[V]" + option), std::string::npos) << option;
        }
    }
}


TEST(PackCli, ExitCodes) {
    EXPECT_EQ(Cli("").status, 2);
    EXPECT_EQ(Cli("frobnicate").status, 2);
    EXPECT_EQ(Cli("build --out x.exe a.arc").status, 2) << "no --stub";
    EXPECT_EQ(Cli("build --stub s.exe --out x.exe --bogus a.arc").status, 2);
    EXPECT_EQ(Cli("build --stub s.exe --out").status, 2);
    EXPECT_EQ(Cli("inspect").status, 2);

    Workbench bench;
    const Bytes data = bench.Add("a.arc", 5000);
    const std::string build = "build --stub " + Quote(bench.options.stub) + " --out " + Quote(bench.options.out);
    const std::string input = Quote(bench.options.inputs[0].file + "=dir/A.arc");
    EXPECT_EQ(Cli(build + " " + input).status, 2) << "neither --base-list nor --no-base-list";
    EXPECT_EQ(Cli(build + " --no-base-list --base-list b.hvl " + input).status, 2);
    const CliRun built = Cli(build + " --no-base-list " + input);
    EXPECT_EQ(built.status, 0) << built.output;
    EXPECT_EQ(built.output, "sundrift-pack: wrote " + bench.options.out + ": 2 entries (the list and 1 files), " +
                                std::to_string(ReadFile(bench.options.out).size()) + " bytes\n");
    const CliRun quiet = Cli(build + " --no-base-list --quiet " + input);
    EXPECT_EQ(quiet.status, 0) << quiet.output;
    EXPECT_EQ(quiet.output, "");

    const CliRun inspected = Cli("inspect " + Quote(bench.options.out));
    EXPECT_EQ(inspected.status, 0) << inspected.output;
    EXPECT_NE(inspected.output.find("dir\\A.arc"), std::string::npos) << inspected.output;
    const CliRun json = Cli("inspect --json " + Quote(bench.options.out));
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.output.find("\"accepted\": true"), std::string::npos) << json.output;

    const CliRun checksum = Cli("checksum " + Quote(bench.options.inputs[0].file));
    EXPECT_EQ(checksum.status, 0);
    char expected[17];
    const Bytes sum = ChecksumOf(data);
    for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02x", sum[i]);
    EXPECT_EQ(checksum.output, std::string(expected) + "  " + bench.options.inputs[0].file + "\n");
    EXPECT_EQ(Cli("checksum -- " + Quote(bench.options.inputs[0].file)).output, checksum.output);
    EXPECT_EQ(Cli("checksum -x").status, 2);
    // With --json a failure is an object on standard output as well.
    const std::string nowhere = Quote(bench.folder / "nowhere");
    for (const std::string& command :
         {"verify --json " + nowhere, "inspect --json " + nowhere, "diff --json --stub x --out x " + nowhere + " ."}) {
        const CliRun failed = Cli(command);
        EXPECT_EQ(failed.status, 1) << command;
        EXPECT_NE(failed.output.find("{\n  \"error\": \""), std::string::npos) << command << failed.output;
    }

    const CliRun refused = Cli(build + " --no-base-list " + Quote(bench.options.inputs[0].file + "=../A.arc"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1) << refused.output;
    EXPECT_NE(refused.output.find("../A.arc"), std::string::npos) << refused.output;

    Bytes patch = ReadFile(bench.options.out);
    patch.pop_back();
    WriteFile(bench.options.out, patch);
    EXPECT_EQ(Cli("inspect " + Quote(bench.options.out)).status, 1) << "data past the end";
    EXPECT_EQ(Cli("checksum " + Quote(bench.folder / "missing")).status, 1);
}

TEST(PackCli, WorkflowCommands) {
    EXPECT_EQ(Cli("diff onlyone --stub s.exe --out p.exe").status, 2);
    EXPECT_EQ(Cli("diff old new --out p.exe").status, 2) << "no --stub";
    EXPECT_EQ(Cli("verify").status, 2);
    EXPECT_EQ(Cli("preview patch.exe").status, 2);
    EXPECT_EQ(Cli("sign patch.exe --cert c.pem").status, 2) << "no --key";

    TwoVersions versions;
    versions.Plan();
    const std::string diff = "diff " + Quote(versions.options.oldDir) + " " + Quote(versions.options.newDir) +
                             " --stub " + Quote(versions.options.build.stub) + " --out " +
                             Quote(versions.options.build.out);
    const CliRun planned = Cli(diff + " --dry-run");
    EXPECT_EQ(planned.status, 0) << planned.output;
    EXPECT_NE(planned.output.find("\nnew        data/n.arc "), std::string::npos) << planned.output;
    EXPECT_EQ(Cli(diff).status, 0);

    const CliRun previewed = Cli("preview " + Quote(versions.options.build.out) + " " + Quote(versions.options.oldDir));
    EXPECT_EQ(previewed.status, 0) << previewed.output;
    EXPECT_NE(previewed.output.find("uninst.lst appends \"data\\n.arc\""), std::string::npos) << previewed.output;
    EXPECT_NE(previewed.output.find("4 records kept, 0 dropped"), std::string::npos) << previewed.output;
    std::remove((versions.options.oldDir + "/uninst.lst").c_str());
    const CliRun failing = Cli("preview " + Quote(versions.options.build.out) + " " + Quote(versions.options.oldDir));
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.output.find("UPDATE_E_UNINSTALL_LIST (exit code 0x80000005)"), std::string::npos) << failing.output;

    const CliRun verified = Cli("verify " + Quote(versions.options.oldDir));
    EXPECT_EQ(verified.status, 0);
    EXPECT_EQ(verified.output.find('%'), std::string::npos) << "progress only on a terminal: " << verified.output;
    // script(1) gives the packer a terminal.
    const CliRun onTerminal = ShellRun("script -qec \"" + Quote(PACKER_PATH) + " verify " +
                                       Quote(versions.options.oldDir) + "\" /dev/null");
    EXPECT_NE(onTerminal.output.find("100%"), std::string::npos) << onTerminal.output;
    EXPECT_EQ(Cli("verify --strict " + Quote(versions.options.newDir)).status, 1) << "no list in the new folder";
}

// A build interrupted by a signal removes its temporary file and leaves the
// earlier patch as it was. The packer is held inside its build, after the
// temporary file exists, by a lease on its input: its open waits until the
// lease is given up, and the lease's break tells the test when it is there.
TEST(PackCli, SignalRemovesTheTemporaryFile) {
    Workbench bench;
    bench.Add("a.arc", 5000);
    const Bytes earlier = GeneratedBytes(300, 3);
    WriteFile(bench.options.out, earlier);
    std::signal(SIGIO, SIG_IGN);  // the break's own notice; the lease state is read instead
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int held = open(bench.options.inputs[0].file.c_str(), O_RDWR);
        ASSERT_GE(held, 0);
        ASSERT_EQ(fcntl(held, F_SETLEASE, F_WRLCK), 0) << std::strerror(errno);
        const pid_t packer = fork();
        ASSERT_GE(packer, 0);
        if (packer == 0) {
            for (const int reset : {SIGINT, SIGTERM, SIGHUP}) std::signal(reset, SIG_DFL);
            execl(PACKER_PATH, PACKER_PATH, "build", "--quiet", "--no-base-list", "--stub", bench.options.stub.c_str(),
                  "--out", bench.options.out.c_str(), bench.options.inputs[0].file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        while (fcntl(held, F_GETLEASE) == F_WRLCK) usleep(1000);  // until the packer opens the input
        EXPECT_EQ(bench.folder.Names().size(), 4u) << "the temporary file stands beside the patch";
        kill(packer, signal);
        int status = 0;
        ASSERT_EQ(waitpid(packer, &status, 0), packer);
        close(held);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(bench.folder.Names(), (std::set<std::string>{"stub.exe", "a.arc", "patch.exe"})) << signal;
        EXPECT_EQ(ReadFile(bench.options.out), earlier);
    }
    std::signal(SIGIO, SIG_DFL);
}

// A full disk: the message says so, and nothing is left on it.
TEST(PackCli, FullDiskNamedAsSuch) {
    Workbench bench;
    bench.Add("a.arc", 10);
    const std::string disk = bench.folder / "disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    if (mount("sundrift-pack-full", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        rmdir(disk.c_str());
        GTEST_SKIP() << "no small file system to fill: " << std::strerror(errno);
    }
    const CliRun run = Cli("build --no-base-list --stub " + Quote(bench.options.stub) + " --out " +
                           Quote(disk + "/patch.exe") + " " + Quote(bench.options.inputs[0].file));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    DIR* left = opendir(disk.c_str());
    int names = 0;
    while (left && readdir(left)) ++names;
    if (left) closedir(left);
    EXPECT_EQ(names, 2) << "only . and .. on the full disk";
    umount(disk.c_str());
    rmdir(disk.c_str());
}

// Refusals that name their cause in words a publisher can act on.
TEST(PackCli, MessagesNameTheCause) {
    Workbench bench;
    bench.Add("a.arc", 10);
    const std::string build = "build --no-base-list --stub " + Quote(bench.options.stub) + " --out " +
                              Quote(bench.options.out) + " ";
    const auto refusal = [](const CliRun& run) {
        EXPECT_EQ(run.status, 1) << run.output;
        return run.output;
    };
    EXPECT_NE(refusal(Cli("checksum " + Quote(bench.folder / "."))).find(": is a folder"), std::string::npos);
    EXPECT_NE(refusal(Cli(build + Quote(bench.folder / "a=b.arc"))).find("the first \"=\" in"), std::string::npos);
    const std::string tilde = refusal(Cli(build + Quote(bench.options.inputs[0].file + u8"=a\u301Cb\u2212.arc")));
    EXPECT_NE(tilde.find(u8"write \"\uFF5E\" (U+FF5E) for \"\u301C\" (U+301C)"), std::string::npos) << tilde;
    EXPECT_NE(tilde.find(u8"write \"\uFF0D\" (U+FF0D) for \"\u2212\" (U+2212)"), std::string::npos) << tilde;

    // A pipe no one writes to is refused at once, not waited on.
    const std::string pipe = bench.folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& command : {"inspect " + Quote(pipe), "preview " + Quote(pipe) + " " + Quote(bench.folder / "."),
                                       build + Quote(pipe)}) {
        EXPECT_NE(refusal(Cli(command)).find(": is a device, a pipe or a socket"), std::string::npos) << command;
    }
    unlink(pipe.c_str());
}

}  // namespace
