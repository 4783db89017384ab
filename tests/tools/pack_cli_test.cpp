// The packer's command line as a publisher types it, and the tool installed.
#include <gtest/gtest.h>

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

}  // namespace
