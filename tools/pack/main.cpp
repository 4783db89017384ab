// sundrift-pack: builds patch executables, inspects them, prints checksums.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_diff.h"
#include "pack_files.h"
#include "pack_help.h"
#include "pack_inspect.h"
#include "pack_json.h"
#include "pack_preview.h"
#include "pack_sign.h"
#include "pack_verify.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

constexpr char TOOL[] = "sundrift-pack";

constexpr char TOOL_DESCRIPTION[] =
    "The publisher's tool for Sundrift patches: builds patch executables from an updater and the game's files, "
    "and checks them, before and after signing, against what the updater does with them.";

constexpr char TOOL_FOOTER[] =
    "The publisher's workflow: from the game as shipped (OLD_DIR) and as it should be after the patch (NEW_DIR): "
    "diff --dry-run to see the plan, diff to build the patch, preview on a copy of a player's folder, sign, "
    "inspect the signed patch, and verify a test install after running it.\n"
    "Long operations show progress on standard error when it is a terminal. With --json, standard output holds "
    "one JSON object whatever happens; warnings and refusals also go to standard error, as without it.\n"
    "\n"
    "Exit status: 0 success, 1 refused (bad input, a rejected patch, a failed check), 2 bad usage.";

// For the 64-bit test build of the updater, which the tests and benchmarks
// pack where no 32-bit program can run; not in the help, not for patches.
constexpr char TEST_STUB_OPTION[] = "--test-amd64-stub";
// Options in this group are left out of the help.
constexpr char HIDDEN[] = "";

// ---- Messages: standard error, each line naming the tool and the command.

void Say(const std::string& command, const std::string& text) {
    std::fflush(stdout);  // a report and its messages in order where both go to one place
    std::fprintf(stderr, "%s: %s: %s\n", TOOL, command.c_str(), text.c_str());
}

int Refused(const std::string& command, const std::string& message) {
    Say(command, message);
    return EXIT_REFUSED;
}

// With --json a program reading standard output gets an object there too.
int Refused(const std::string& command, const std::string& message, bool json) {
    if (json) PrintJson(ErrorJson(message), stdout);
    return Refused(command, message);
}

void Warn(const std::string& command, const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) Say(command, "warning: " + warning);
}

// A command line the tool cannot take: what is wrong, and the usage of the
// command it names (of the tool when it names none).
int UsageError(const CLI::App& command, const std::string& problem) {
    const bool named = command.get_parent() != nullptr;
    std::fprintf(stderr, "%s: %s%s\n%s", TOOL, named ? (command.get_name() + ": ").c_str() : "", problem.c_str(),
                 UsageAnswer(command).c_str());
    return EXIT_USAGE;
}

// The parser's complaint in the tool's words where they say more.
std::string UsageProblem(const CLI::App& command, const CLI::ParseError& error) {
    const std::vector<std::string> extra = command.remaining();
    if (!extra.empty()) {
        const std::string& first = extra[0];
        if (first.size() > 1 && first[0] == '-') return "unknown option " + first;
        return (command.get_parent() ? "unexpected argument " : "unknown command ") + first;
    }
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_type_size() > 0 && option->get_expected_max() == 1 && option->count() > 1) {
            return option->get_name() + " is given " + std::to_string(option->count()) + " times; give it once";
        }
    }
    return error.what();
}

// ---- The commands: each declared once, its values in a record of its own.

CLI::App* AddCommand(CLI::App& tool, const char* name, const char* description) {
    CLI::App* command = tool.add_subcommand(name, description);
    command->group("Commands");
    command->footer(std::string(TOOL) + " --help: every command, the publisher's workflow, the exit status.");
    return command;
}

CLI::Option* AddFile(CLI::App& command, const char* name, std::string& value, const char* description) {
    return command.add_option(name, value, description)->type_name("FILE");
}

// A required argument (a string, or all the rest as a list), shown by its name alone.
template <typename Value>
void AddArgument(CLI::App& command, const char* name, Value& value, const char* description) {
    command.add_option(name, value, description)->type_name("")->required();
}

void AddJson(CLI::App& command, bool& json) {
    command.add_flag("--json", json, "the same as one JSON object on standard output (fields: see the reference)");
}

// The options of the patch written, shared by build and diff.
void AddStub(CLI::App& command, BuildOptions& options) {
    AddFile(command, "--stub", options.stub,
            "the updater program image: a 32-bit Windows GUI program of at most 0x40000 bytes, unsigned (sign "
            "the finished patch)")
        ->required();
}

void AddPatchLayout(CLI::App& command, BuildOptions& options, bool& quiet, bool& testStub) {
    command.add_option("--list-name", options.listName, "name of the list entry")
        ->type_name("NAME")
        ->capture_default_str();
    command.add_flag("--short-index", options.shortIndex, "32-byte index entries (names of at most 15 bytes)");
    command.add_flag("--quiet", quiet, "no progress, and no summary line after a successful build");
    command.add_flag(TEST_STUB_OPTION, testStub)->group(HIDDEN);
}

void TakePatchOptions(BuildOptions& options, bool quiet, bool testStub) {
    options.progress = !quiet;
    if (testStub) options.stubMachine = StubMachine::I386_OR_AMD64;
}

struct BuildValues {
    BuildOptions options;
    std::vector<std::string> files;
    bool noBaseList = false;
    bool quiet = false;
    bool testStub = false;
};

int RunBuild(const CLI::App& command, BuildValues& v) {
    if (v.options.baseList.empty() && !v.noBaseList) {
        return UsageError(command, "--base-list is required: name the game's KVX.hvl, or give --no-base-list for "
                                   "a list of the packed files only");
    }
    TakePatchOptions(v.options, v.quiet, v.testStub);
    for (const std::string& file : v.files) v.options.inputs.push_back(ParseInputArgument(file));
    const BuildOutcome outcome = BuildPatch(v.options);
    Warn("build", outcome.warnings);
    if (!outcome.ok) return Refused("build", outcome.error);
    if (!v.quiet) {
        std::printf("%s: wrote %s: %zu entries (the list and %zu files), %llu bytes\n", TOOL, v.options.out.c_str(),
                    outcome.entries, outcome.entries - 1, static_cast<unsigned long long>(outcome.patchBytes));
    }
    return EXIT_OK;
}

void DeclareBuild(CLI::App& tool, BuildValues& v, int& status) {
    CLI::App* command = AddCommand(
        tool, "build",
        "Writes a patch from a list of files: the updater, zero bytes up to 0x40000, and a package holding a "
        "generated hash-value list (first entry) and each FILE.\n\n"
        "Refuses, writing nothing, what the updater would refuse or mishandle. Exit status: 0 written, "
        "1 refused, 2 bad usage.");
    AddStub(*command, v.options);
    AddFile(*command, "--out", v.options.out,
            "the patch to write; written through a temporary file, and never one of the files the patch is made "
            "from")
        ->required();
    CLI::Option* baseList = AddFile(
        *command, "--base-list", v.options.baseList,
        "the game's installed hash-value list (KVX.hvl): records of packed files are updated in place, the others "
        "kept, new ones appended (or put before a record of another file of that name, which the updater would "
        "take instead). Required, since the updater installs the patch's list over the game's");
    command
        ->add_flag("--no-base-list", v.noBaseList,
                   "a list of the packed files only: installed, it drops the records of every other game file, "
                   "which are then never checked again; for games without a list of their own")
        ->excludes(baseList);
    AddPatchLayout(*command, v.options, v.quiet, v.testStub);
    AddArgument(*command, "FILE[=INSTALL_PATH]", v.files,
                "install FILE under INSTALL_PATH, relative to the game folder, \"/\" or \"\\\" between folders "
                "(default: the base list's path for that name, else FILE's own name); the first \"=\" ends FILE. "
                "Names are UTF-8, stored as Shift-JIS");
    command->callback([command, &v, &status] { status = RunBuild(*command, v); });
}

struct DiffValues {
    DiffOptions options;
    bool json = false;
    bool quiet = false;
    bool testStub = false;
};

int RunDiff(const CLI::App& command, DiffValues& v) {
    DiffOptions& options = v.options;
    if (options.build.out.empty() && !options.dryRun) return UsageError(command, "--out is required without --dry-run");
    TakePatchOptions(options.build, v.quiet, v.testStub);
    DiffPlan plan;
    std::string error;
    if (!PlanDiff(options, plan, error)) return Refused("diff", error, v.json);
    PrintDiffPlan(options, plan, v.json, stdout);
    Warn("diff", plan.warnings);
    for (const std::string& refusal : plan.refusals) Say("diff", refusal);
    return plan.refusals.empty() ? EXIT_OK : EXIT_REFUSED;
}

void DeclareDiff(CLI::App& tool, DiffValues& v, int& status) {
    CLI::App* command = AddCommand(
        tool, "diff",
        "Packs every file of NEW_DIR that is new or differs from OLD_DIR, under its path in NEW_DIR.\n\n"
        "The list is based on OLD_DIR's KVX.hvl (or --base-list); KVX.hvl and uninst.lst are the updater's own "
        "and never packed. Refuses more files than the index holds, files in folders OLD_DIR lacks (the updater "
        "creates none), names that differ only in letter case, and an --out that is a file of either version; "
        "files only in OLD_DIR are a warning (the updater never deletes). Exit status: 0 planned or written, "
        "1 refused, 2 bad usage.");
    AddArgument(*command, "OLD_DIR", v.options.oldDir, "the game as players have it");
    AddArgument(*command, "NEW_DIR", v.options.newDir, "the game as the patch should leave it");
    AddStub(*command, v.options.build);
    AddFile(*command, "--out", v.options.build.out,
            "the patch to write (required unless --dry-run); never a file of either version");
    AddFile(*command, "--base-list", v.options.baseList, "the list to start from (default: OLD_DIR's KVX.hvl)");
    AddPatchLayout(*command, v.options.build, v.quiet, v.testStub);
    command->add_flag("--dry-run", v.options.dryRun,
                      "prints the plan and writes nothing: per file its path, size, old and new checksum, and "
                      "whether its record is kept, updated or added; then the totals");
    AddJson(*command, v.json);
    command->callback([command, &v, &status] { status = RunDiff(*command, v); });
}

struct PreviewValues {
    std::string patch, gameDir;
    bool json = false;
};

int RunPreview(PreviewValues& v) {
    Preview preview;
    std::string error;
    if (!PreviewPatch(v.patch, v.gameDir, preview, error, true)) return Refused("preview", error, v.json);
    PrintPreview(preview, v.json, stdout);
    return preview.result == UPDATE_OK ? EXIT_OK : EXIT_REFUSED;
}

void DeclarePreview(CLI::App& tool, PreviewValues& v, int& status) {
    CLI::App* command = AddCommand(
        tool, "preview",
        "Says what running PATCH on GAME_DIR would do, before any player runs it.\n\n"
        "Each entry's install name, whether it replaces or adds a file and is verified; the records the "
        "installed list keeps and drops; the lines added to uninst.lst; the result, its exit code and the "
        "player's message. Exit status: 0 when the run would succeed, 1 when it would fail or PATCH or GAME_DIR "
        "cannot be read, 2 bad usage.");
    AddArgument(*command, "PATCH", v.patch, "the patch");
    AddArgument(*command, "GAME_DIR", v.gameDir, "a copy of a player's game folder");
    AddJson(*command, v.json);
    command->callback([&v, &status] { status = RunPreview(v); });
}

int RunSign(SignOptions& options) {
    std::string error;
    if (!SignPatch(options, error)) return Refused("sign", error);
    return EXIT_OK;
}

void DeclareSign(CLI::App& tool, SignOptions& options, int& status) {
    CLI::App* command = AddCommand(
        tool, "sign",
        "Signs a finished patch with osslsigncode (Authenticode, SHA-256), so the elevation prompt names the "
        "publisher, then verifies it and that it covers the patch's own bytes.\n\n"
        "Refuses a file that is no patch or is signed already. Nothing may be appended to a signed patch. "
        "Exit status: 0 signed, 1 refused or failed (nothing written), 2 bad usage.");
    AddArgument(*command, "PATCH", options.patch, "the patch");
    AddFile(*command, "--cert", options.cert, "the publisher's certificate (PEM or DER), with its chain")->required();
    AddFile(*command, "--key", options.key, "its private key")->required();
    AddFile(*command, "--out", options.out,
            "the signed patch (default: PATCH is replaced); never CERT, KEY or the --ca file");
    command->add_option("--name", options.name, "the description shown (default: the output's name)")
        ->type_name("TEXT");
    AddFile(*command, "--ca", options.caFile, "roots trusted for the check (default: CERT itself)");
    command
        ->add_option("--timestamp", options.timestamp,
                     "an RFC 3161 time-stamping server, so the signature outlives the certificate")
        ->type_name("URL");
    command->add_option("--tool", options.tool, "the osslsigncode to run (default: found on PATH)")
        ->type_name("PROGRAM");
    command->callback([&options, &status] { status = RunSign(options); });
}

struct CheckValues {
    std::string path;
    bool json = false;
    bool strict = false;
};

int RunVerify(CheckValues& v) {
    Verification verification;
    std::string error;
    if (!VerifyGame(v.path, true, verification, error)) return Refused("verify", error, v.json);
    PrintVerification(verification, v.json, v.strict, stdout);
    return VerificationPassed(verification, v.strict) ? EXIT_OK : EXIT_REFUSED;
}

void DeclareVerify(CLI::App& tool, CheckValues& v, int& status) {
    CLI::App* command = AddCommand(
        tool, "verify",
        "Checks every record of GAME_DIR's KVX.hvl against the files: a line per file that differs or is "
        "missing, then a summary.\n\n"
        "A record leaving GAME_DIR and a file that cannot be examined are unreadable. Exit status: 0 when every "
        "present file matches (with --strict: and none is missing), 1 when one differs or is unreadable or "
        "GAME_DIR has no readable list, 2 bad usage.");
    AddArgument(*command, "GAME_DIR", v.path, "the installed game");
    command->add_flag("--strict", v.strict, "missing files fail too");
    AddJson(*command, v.json);
    command->callback([&v, &status] { status = RunVerify(v); });
}

int RunInspect(CheckValues& v) {
    Inspection inspection;
    std::string error;
    if (!InspectPatch(v.path, inspection, error, true)) return Refused("inspect", error, v.json);
    PrintInspection(inspection, v.json, stdout);
    Warn("inspect", inspection.warnings);
    if (!inspection.problems.empty()) return EXIT_REFUSED;
    if (v.strict && !inspection.warnings.empty()) return Refused("inspect", "accepted with warnings: --strict fails it");
    return EXIT_OK;
}

void DeclareInspect(CLI::App& tool, CheckValues& v, int& status) {
    CLI::App* command = AddCommand(
        tool, "inspect",
        "Prints the layout, entries, list records and checksums of a patch, judged by the updater's own rules.\n\n"
        "\"REJECTED\" and exit 1 exactly when the updater would end before installing anything, whatever the "
        "game folder holds (a damaged package, too many entries, a name no file may have); warnings for what it "
        "takes but a publisher would not want (no list, stray bytes, ...). Reports the signature (certificate table): its offset and size, and warns when it is "
        "not last in the file or bytes follow the last entry. Prints the SHA-256 of the program image, of the "
        "package, and of what an Authenticode signature covers (the same for a signed patch and its unsigned "
        "rebuild). Exit status: 0 accepted, 1 rejected, unreadable, "
        "or accepted with warnings under --strict, 2 bad usage.");
    AddArgument(*command, "PATCH", v.path, "the patch");
    AddJson(*command, v.json);
    command->add_flag("--strict", v.strict, "warnings fail too (exit 1)");
    command->callback([&v, &status] { status = RunInspect(v); });
}

int RunChecksum(const std::vector<std::string>& files) {
    int status = EXIT_OK;
    for (const std::string& file : files) {
        uint8_t checksum[CHECKSUM_SIZE];
        std::string error;
        if (!ChecksumFile(file, checksum, error)) {
            status = Refused("checksum", error);
            continue;
        }
        std::printf("%s  %s\n", ChecksumHex(checksum).c_str(), file.c_str());
    }
    return status;
}

void DeclareChecksum(CLI::App& tool, std::vector<std::string>& files, int& status) {
    CLI::App* command = AddCommand(
        tool, "checksum",
        "Prints each FILE's checksum: 16 hex digits, stored byte order, as the hash-value list holds it.\n\n"
        "Exit status: 0 all read, 1 when one cannot be read (the others are still printed), 2 bad usage.");
    AddArgument(*command, "FILE", files, "a file");
    command->callback([&files, &status] { status = RunChecksum(files); });
}

// Every command's values, filled in by the parser.
struct Values {
    BuildValues build;
    DiffValues diff;
    PreviewValues preview;
    SignOptions sign;
    CheckValues verify, inspect;
    std::vector<std::string> checksumFiles;
};

int Run(const std::vector<std::string>& args) {
    CLI::App tool(TOOL_DESCRIPTION, TOOL);
    tool.formatter(std::make_shared<PackHelp>());  // before the commands, which take it over
    tool.footer(TOOL_FOOTER);
    tool.set_help_flag("-h,--help", "prints this help");
    tool.set_version_flag("--version", std::string(TOOL) + " " + SUNDRIFT_PACK_VERSION, "prints the version");
    tool.require_subcommand(1);
    Values values;
    int status = EXIT_OK;  // the chosen command's, which runs once its command line is read
    DeclareBuild(tool, values.build, status);
    DeclareDiff(tool, values.diff, status);
    DeclarePreview(tool, values.preview, status);
    DeclareSign(tool, values.sign, status);
    DeclareVerify(tool, values.verify, status);
    DeclareInspect(tool, values.inspect, status);
    DeclareChecksum(tool, values.checksumFiles, status);
    if (args.empty()) return UsageError(tool, "no command given");
    try {
        tool.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // the parser takes them last first
    } catch (const CLI::CallForHelp&) {
        std::fputs(tool.help().c_str(), stdout);
        return EXIT_OK;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return EXIT_OK;
    } catch (const CLI::ParseError& error) {
        const std::vector<CLI::App*> chosen = tool.get_subcommands();
        const CLI::App& command = chosen.empty() ? tool : *chosen[0];
        return UsageError(command, UsageProblem(command, error));
    }
    return status;
}

#ifdef _WIN32
// The command line as UTF-8, whatever the ANSI code page.
std::vector<std::string> Utf8Arguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(length > 0 ? length : 1), '\0');
        if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], length, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    return Run(Utf8Arguments());
#else
    return Run(std::vector<std::string>(argv + 1, argv + argc));
#endif
}
