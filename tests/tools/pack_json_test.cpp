// Every --json report parsed as a program reads it: its fields in their
// order, for success and each kind of failure, with the warnings and
// refusals also on standard error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using Json = nlohmann::ordered_json;
using Keys = std::vector<std::string>;

const Keys INSPECT_KEYS = {"fileSize", "magic", "count", "layout", "dataBase", "entries", "list",
                           "signature", "sha256", "problems", "warnings", "result", "accepted"};
const Keys DIFF_KEYS = {"old", "new", "dryRun", "files", "missing", "skipped", "warnings", "refusals", "totals", "written"};
const Keys PREVIEW_KEYS = {"result", "exitCode", "message", "failedEntry", "failure", "entries", "list", "uninstallList"};
const Keys VERIFY_KEYS = {"list", "records", "matching", "differing", "missing", "unreadable", "strict", "passed"};

Keys KeysOf(const Json& object) {
    Keys keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

// The report of a run that ended with `status`, its fields `keys` in that order.
Json Report(const SplitRun& run, int status, const Keys& keys) {
    EXPECT_EQ(run.status, status) << run.out << run.err;
    Json report;
    try {
        report = Json::parse(run.out);
    } catch (const Json::exception& error) {
        ADD_FAILURE() << error.what() << "\n" << run.out;
    }
    EXPECT_EQ(KeysOf(report), keys);
    return report;
}

// A command that failed before judging: an error object, and its message on standard error.
void ExpectError(const std::string& command, const std::string& arguments) {
    const SplitRun run = CliApart(command + " --json " + arguments);
    const Json report = Report(run, 1, {"error"});
    EXPECT_TRUE(report["error"].is_string() && !report["error"].empty()) << report;
    EXPECT_EQ(run.err.find("sundrift-pack: " + command + ": "), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(PackJson, Inspect) {
    Workbench bench;
    WriteFile(bench.options.stub, MinimalProgram());
    bench.Add("a.arc", 1000);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const std::string patch = Quote(bench.options.out);
    SplitRun run = CliApart("inspect --json " + patch);
    Json report = Report(run, 0, INSPECT_KEYS);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(report["accepted"], true);
    EXPECT_EQ(report["result"], "0x00000000");
    EXPECT_EQ(report["signature"], nullptr);
    ASSERT_EQ(report["entries"].size(), 2u);
    EXPECT_EQ(KeysOf(report["entries"][1]),
              (Keys{"name", "installName", "offset", "size", "position", "record", "computed", "expected"}));
    EXPECT_EQ(report["entries"][1]["name"], "a.arc");
    EXPECT_EQ(report["entries"][1]["computed"], report["entries"][1]["expected"]);
    EXPECT_EQ(KeysOf(report["list"]), (Keys{"entry", "loaded", "note", "reserved", "records"}));
    EXPECT_EQ(KeysOf(report["list"]["records"][0]), (Keys{"path", "terminated", "checksum"}));
    const Inspection inspection = bench.Inspect();
    EXPECT_EQ(report["sha256"], (Json{{"program", HexBytes(inspection.provenance.program->data(), SHA256_SIZE)},
                                      {"package", HexBytes(inspection.provenance.package->data(), SHA256_SIZE)},
                                      {"authenticode", HexBytes(inspection.provenance.authenticode->data(), SHA256_SIZE)}}));

    Bytes patchBytes = ReadFile(bench.options.out);
    patchBytes.push_back(0);
    WriteFile(bench.options.out, patchBytes);
    const std::string warning = "1 bytes after the last entry are no signature";
    for (const std::string strict : {"", " --strict"}) {
        run = CliApart("inspect --json" + strict + " " + patch);
        report = Report(run, strict.empty() ? 0 : 1, INSPECT_KEYS);
        EXPECT_EQ(report["warnings"], Json::array({warning}));
        EXPECT_EQ(report["accepted"], true);
        EXPECT_EQ(run.err.find("sundrift-pack: inspect: warning: " + warning + "\n"), 0u) << run.err;
        EXPECT_EQ(CliApart("inspect" + strict + " " + patch).err, run.err) << "the same without --json";
    }

    patchBytes.resize(patchBytes.size() - 2);
    WriteFile(bench.options.out, patchBytes);
    report = Report(CliApart("inspect --json " + patch), 1, INSPECT_KEYS);
    EXPECT_EQ(report["accepted"], false);
    EXPECT_EQ(report["result"], "0x80000001");
    EXPECT_EQ(report["problems"].size(), 1u);
    EXPECT_EQ(report["entries"][1]["computed"], nullptr) << "its data are not all in the file";

    ExpectError("inspect", Quote(bench.folder / "nowhere\xff.exe"));
}

TEST(PackJson, Diff) {
    TwoVersions versions;
    versions.Plan();
    const DiffOptions& o = versions.options;
    const std::string folders = Quote(o.oldDir) + " " + Quote(o.newDir) + " --stub " + Quote(o.build.stub);
    SplitRun run = CliApart("diff --json --dry-run " + folders);
    Json report = Report(run, 0, DIFF_KEYS);
    ASSERT_EQ(report["files"].size(), 3u);
    EXPECT_EQ(KeysOf(report["files"][1]), (Keys{"path", "status", "size", "oldChecksum", "newChecksum", "record"}));
    EXPECT_EQ(report["files"][1]["path"], "data/n.arc");
    EXPECT_EQ(report["files"][1]["oldChecksum"], nullptr);
    EXPECT_EQ(KeysOf(report["totals"]), (Keys{"packed", "updated", "added", "unchanged", "missing", "bytes", "entries"}));
    EXPECT_EQ(report["totals"]["entries"], 3);
    EXPECT_EQ(report["written"], false);
    ASSERT_EQ(report["warnings"].size(), 1u);
    EXPECT_EQ(run.err, "sundrift-pack: diff: warning: " + report["warnings"][0].get<std::string>() + "\n");

    std::remove((o.oldDir + "/KVX.hvl").c_str());
    run = CliApart("diff --json --out " + Quote(o.build.out) + " " + folders);
    report = Report(run, 1, DIFF_KEYS);
    ASSERT_EQ(report["refusals"].size(), 1u);
    EXPECT_EQ(report["written"], false);
    EXPECT_NE(run.err.find("sundrift-pack: diff: " + report["refusals"][0].get<std::string>() + "\n"),
              std::string::npos)
        << run.err;

    ExpectError("diff", "--dry-run --stub " + Quote(o.build.stub) + " " + Quote(versions.folder / "old\xff") + " " +
                            Quote(o.newDir));
}

TEST(PackJson, PreviewAndVerify) {
    TwoVersions versions;
    versions.Plan();
    const DiffOptions& o = versions.options;
    ASSERT_EQ(Cli("diff --quiet " + Quote(o.oldDir) + " " + Quote(o.newDir) + " --stub " + Quote(o.build.stub) +
                  " --out " + Quote(o.build.out))
                  .status,
              0);
    const std::string preview = "preview --json " + Quote(o.build.out) + " ";
    Json report = Report(CliApart(preview + Quote(o.oldDir)), 0, PREVIEW_KEYS);
    EXPECT_EQ(report["result"], "UPDATE_OK");
    EXPECT_EQ(report["exitCode"], 0);
    EXPECT_EQ(KeysOf(report["entries"][0]),
              (Keys{"name", "installName", "replaces", "verified", "record", "reached", "installed"}));
    EXPECT_EQ(KeysOf(report["list"]), (Keys{"rewritten", "note", "kept", "dropped"}));
    EXPECT_EQ(KeysOf(report["uninstallList"]), (Keys{"rewritten", "note", "appended"}));
    EXPECT_EQ(report["uninstallList"]["appended"], Json::array({"data\\n.arc"}));

    std::remove((o.oldDir + "/gone.txt").c_str());
    const std::string verify = "verify --json ";
    report = Report(CliApart(verify + Quote(o.oldDir)), 0, VERIFY_KEYS);
    EXPECT_EQ(report["passed"], true);
    EXPECT_EQ(KeysOf(report["records"][0]), (Keys{"path", "state", "expected", "actual", "note"}));
    EXPECT_EQ(report["records"][2]["state"], "missing");
    EXPECT_EQ(report["records"][2]["actual"], nullptr);
    report = Report(CliApart(verify + "--strict " + Quote(o.oldDir)), 1, VERIFY_KEYS);
    EXPECT_EQ(report["passed"], false);

    std::remove((o.oldDir + "/uninst.lst").c_str());
    WriteFile(o.oldDir + "/a.arc", BytesOf("changed"));
    report = Report(CliApart(preview + Quote(o.oldDir)), 1, PREVIEW_KEYS);
    EXPECT_EQ(report["result"], "UPDATE_E_UNINSTALL_LIST");
    EXPECT_EQ(report["exitCode"], 0x80000005u);
    EXPECT_TRUE(report["message"].is_string());
    report = Report(CliApart(verify + Quote(o.oldDir)), 1, VERIFY_KEYS);
    EXPECT_EQ(report["differing"], 1);

    // A game folder whose name is not UTF-8 is shown, not passed on as bytes.
    const std::string odd = versions.folder / "game\xff";
    ASSERT_EQ(rename(o.oldDir.c_str(), odd.c_str()), 0);
    report = Report(CliApart(verify + Quote(odd)), 1, VERIFY_KEYS);
    EXPECT_NE(report["list"].get<std::string>().find("game\xEF\xBF\xBD/"), std::string::npos) << report["list"];
    ExpectError("preview", Quote(o.build.out) + " " + Quote(versions.folder / "nowhere"));
    ExpectError("verify", Quote(o.newDir));
}

}  // namespace
