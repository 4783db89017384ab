#include "pack_sign.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "pack_files.h"
#include "pack_inspect.h"
#include "pack_output.h"
#include "pack_paths.h"
#include "pack_text.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t TOOL_WORDS_SHOWN = 300;

// What a tool said, on one line: its lines joined, its bare "Failed" left out.
std::string ToolWords(const std::string& output) {
    std::string words, line;
    for (size_t i = 0; i <= output.size(); ++i) {
        if (i < output.size() && output[i] != '\n' && output[i] != '\r') {
            line += output[i];
            continue;
        }
        if (!line.empty() && line != "Failed") words += (words.empty() ? "" : "; ") + line;
        line.clear();
    }
    return words.size() > TOOL_WORDS_SHOWN ? words.substr(0, TOOL_WORDS_SHOWN) + "..." : words;
}

#ifdef _WIN32
// Output is not captured here: the tool writes to the console itself.
int RunTool(const std::vector<std::string>& args, std::string& output) {
    output.clear();
    std::vector<std::string> quoted;
    for (const std::string& arg : args) quoted.push_back(arg.find(' ') == std::string::npos ? arg : Quoted(arg));
    std::vector<const char*> argv;
    for (const std::string& arg : quoted) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const intptr_t status = _spawnvp(_P_WAIT, argv[0], argv.data());
    return status < 0 ? -1 : static_cast<int>(status);
}
#else
// Runs the tool with its output captured; its exit status, or -1 when it
// could not be started.
int RunTool(const std::vector<std::string>& args, std::string& output) {
    output.clear();
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

// What makes `inspection` unfit for signing, or empty.
std::string UnsignableBecause(const Inspection& inspection) {
    if (!inspection.problems.empty()) return "is not a patch the updater accepts: " + inspection.problems[0];
    if (!inspection.image.isProgram) return "is not a Windows program";
    if (IsSigned(inspection)) return "is signed already: sign the patch as built, once";
    const uint64_t fileSize = inspection.verdict.fileSize;
    if (fileSize != inspection.dataEnd) {
        return "holds " + std::to_string(fileSize - inspection.dataEnd) +
               " bytes after its last entry: sign the patch as built";
    }
    return "";
}

// The signed file must be the patch with only the signature added: what the
// signature covers is the patch's own bytes, so a rebuild can be compared.
std::string SignedBadlyBecause(const Inspection& inspection, const Inspection& patch) {
    if (!inspection.problems.empty()) return "the signed file is no longer accepted: " + inspection.problems[0];
    if (!IsSigned(inspection)) return "the signed file carries no certificate table";
    if (!inspection.warnings.empty()) return "the signed file: " + inspection.warnings[0];
    if (inspection.image.certificateOffset < patch.verdict.fileSize) return "the signature does not follow the package";
    if (inspection.provenance.authenticode != patch.provenance.authenticode) {
        return "the signature covers other bytes than the patch's: the signing tool changed more than it may";
    }
    return "";
}

bool Inspect(const std::string& path, Inspection& inspection, std::string& error) {
    std::string why;
    if (!InspectPatch(path, inspection, why)) {
        error = why;
        return false;
    }
    return true;
}

bool RunStep(const std::vector<std::string>& args, const std::string& what, std::string& error) {
    std::string output;
    const int status = RunTool(args, output);
    if (status == 0) return true;
    error = what + " failed" + (status < 0 ? ": " + args[0] + " could not be run" : "");
    const std::string said = ToolWords(output);
    if (!said.empty()) error += " (" + args[0] + ": " + said + ")";
    if (status == 127 || status < 0) error += "; install osslsigncode (scripts/setup does) or name it with --tool";
    return false;
}

bool SignAndCheck(const SignOptions& options, const std::string& out, const std::string& temp,
                  const Inspection& patch, std::string& error) {
    std::vector<std::string> sign = {options.tool, "sign", "-certs", options.cert, "-key", options.key, "-n",
                                     options.name.empty() ? BaseName(out) : options.name, "-h", "sha256"};
    if (!options.timestamp.empty()) sign.insert(sign.end(), {"-ts", options.timestamp});
    sign.insert(sign.end(), {"-in", options.patch, "-out", temp});
    if (!RunStep(sign, "signing " + Quoted(options.patch), error)) return false;
    const std::string ca = options.caFile.empty() ? options.cert : options.caFile;
    if (!RunStep({options.tool, "verify", "-CAfile", ca, "-in", temp}, "verifying the signed patch", error)) {
        return false;
    }
    Inspection signedPatch;
    if (!Inspect(temp, signedPatch, error)) return false;
    error = SignedBadlyBecause(signedPatch, patch);
    return error.empty();
}

}  // namespace

bool SignPatch(const SignOptions& options, std::string& error) {
    Inspection patch;
    if (!Inspect(options.patch, patch, error)) return false;
    const std::string refusal = UnsignableBecause(patch);
    if (!refusal.empty()) {
        error = Quoted(options.patch) + " " + refusal;
        return false;
    }
    const std::string out = options.out.empty() ? options.patch : options.out;
    // The patch itself may be replaced: it is read whole before the move.
    const std::string problem = OutputProblem(out, {options.cert, options.key, options.caFile});
    if (!problem.empty()) {
        error = "output " + Quoted(out) + " " + problem;
        return false;
    }
    std::string temp;
    // Registered like a build's output, so an interrupt removes what the tool wrote.
    File placeholder = CreateTemporaryOutput(out, temp);
    if (!placeholder) {
        error = "output " + Quoted(out) + ": cannot create a file beside it: " + std::strerror(errno);
        return false;
    }
    // The tool writes only a file that does not exist yet; the name stays ours.
    placeholder.reset();
    RemoveFile(temp);
    const bool signedWell = SignAndCheck(options, out, temp, patch, error);
    if (signedWell && MoveOnto(temp, out)) {
        KeepTemporaryOutput();
        return true;
    }
    if (signedWell) error = "output " + Quoted(out) + ": cannot move the signed patch into place";
    DropTemporaryOutput(temp);
    return false;
}
