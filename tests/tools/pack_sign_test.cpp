// The packer's signing of a built patch, with a throwaway certificate, and its
// time stamp from a local server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_files.h"
#include "pack_inspect.h"
#include "pack_sign.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

// A throwaway self-signed certificate for an extended key usage ("codeSigning").
bool MakeCertificate(const std::string& name, const std::string& usage, const std::string& cert,
                     const std::string& key) {
    return ShellRun("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + name +
                    "' -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=" + usage +
                    " -keyout " + Quote(key) + " -out " + Quote(cert))
               .status == 0;
}

// A built patch of one file and a publisher's certificate, to be signed into signed.exe.
struct SigningBench {
    Workbench bench;
    SignOptions options;
    bool ready = false;

    explicit SigningBench(size_t size) {
        WriteFile(bench.options.stub, MinimalProgram());
        bench.Add("a.arc", size);
        options.patch = bench.options.out;
        options.cert = bench.folder / "cert.pem";
        options.key = bench.folder / "key.pem";
        options.out = bench.folder / "signed.exe";
        ready = BuildPatch(bench.options).ok &&
                MakeCertificate("Sundrift Test Publisher", "codeSigning", options.cert, options.key);
    }
};

TEST(PackSign, SignsTheWholePatchAndInspectFindsTheSignature) {
    SigningBench signing(300000);
    ASSERT_TRUE(signing.ready);
    Workbench& bench = signing.bench;
    SignOptions& options = signing.options;
    const std::string cert = options.cert;
    std::string error;
    ASSERT_TRUE(SignPatch(options, error)) << error;
    EXPECT_EQ(ShellRun("osslsigncode verify -CAfile " + Quote(cert) + " -in " + Quote(options.out)).status, 0);

    Inspection before, after;
    ASSERT_TRUE(InspectPatch(bench.options.out, before, error));
    ASSERT_TRUE(InspectPatch(options.out, after, error));
    EXPECT_FALSE(IsSigned(before));
    ASSERT_TRUE(IsSigned(after));
    EXPECT_GE(after.image.certificateOffset, after.dataEnd);
    EXPECT_LT(after.image.certificateOffset - after.dataEnd, CERTIFICATE_ALIGNMENT);
    EXPECT_EQ(after.image.certificateOffset + after.image.certificateSize, after.verdict.fileSize);
    EXPECT_TRUE(after.problems.empty() && after.warnings.empty());

    SignOptions again = options;
    again.patch = options.out;
    again.out = bench.folder / "twice.exe";
    EXPECT_FALSE(SignPatch(again, error));
    EXPECT_NE(error.find("signed already"), std::string::npos) << error;
    again.patch = bench.options.stub;
    EXPECT_FALSE(SignPatch(again, error)) << "not a patch";
    again.patch = bench.options.out;
    again.out = options.key;
    const Bytes key = ReadFile(options.key);
    EXPECT_FALSE(SignPatch(again, error));
    EXPECT_NE(error.find("is the same file as"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(options.key), key);
    again.out = bench.folder / "twice.exe";
    again.key = cert;
    EXPECT_FALSE(SignPatch(again, error)) << "no key";
    EXPECT_EQ(bench.folder.Names(),
              (std::set<std::string>{"a.arc", "cert.pem", "key.pem", "patch.exe", "signed.exe", "stub.exe"}))
        << "a refused or failed signing leaves nothing behind";

    // One byte of the package changed: the signature no longer holds.
    Bytes tampered = ReadFile(options.out);
    tampered[after.verdict.entries[1].position + 1000] ^= 1;
    WriteFile(bench.folder / "tampered.exe", tampered);
    EXPECT_NE(ShellRun("osslsigncode verify -CAfile " + Quote(cert) + " -in " + Quote(bench.folder / "tampered.exe")).status, 0);

    Bytes extended = ReadFile(options.out);
    extended.resize(extended.size() + 16, 0);
    WriteFile(bench.folder / "extended.exe", extended);
    Inspection inspection;
    ASSERT_TRUE(InspectPatch(bench.folder / "extended.exe", inspection, error));
    ASSERT_EQ(inspection.warnings.size(), 1u);
    EXPECT_NE(inspection.warnings[0].find(" bytes after the last entry are no signature"), std::string::npos);
    Bytes padded = ReadFile(bench.options.out);
    padded.push_back(0);
    WriteFile(bench.options.out, padded);
    ASSERT_TRUE(InspectPatch(bench.options.out, inspection, error));
    EXPECT_EQ(inspection.warnings, std::vector<std::string>{"1 bytes after the last entry are no signature"});
    EXPECT_FALSE(SignPatch(options, error));
    EXPECT_NE(error.find("after its last entry"), std::string::npos) << error;
}

std::string Hex(const std::optional<Sha256Digest>& digest) {
    return digest ? HexBytes(digest->data(), SHA256_SIZE) : "none";
}

// The digest sha256sum prints for what `shellCommand` writes.
std::string Sha256Sum(const std::string& shellCommand) {
    const CliRun run = ShellRun(shellCommand + " | sha256sum");
    return run.output.substr(0, 2 * SHA256_SIZE);
}

// What a rebuild is compared by: the program image as sha256sum gives the
// stub, the package, and the digest the signature covers, the same before
// signing (when the file is padded as the signing tool pads it) and after.
TEST(PackSign, SigningKeepsTheDigestsARebuildIsComparedBy) {
    SigningBench signing(70001);
    ASSERT_TRUE(signing.ready);
    Workbench& bench = signing.bench;
    SignOptions& options = signing.options;
    std::string error;
    ASSERT_TRUE(SignPatch(options, error)) << error;
    const Inspection before = bench.Inspect(), after = bench.Inspect(options.out);
    ASSERT_NE(before.verdict.fileSize % CERTIFICATE_ALIGNMENT, 0u) << "the signing tool pads this patch";
    EXPECT_EQ(Hex(before.provenance.program), Sha256Sum("cat " + Quote(bench.options.stub)));
    EXPECT_EQ(Hex(before.provenance.package), Sha256Sum("tail -c +262145 " + Quote(bench.options.out)));
    EXPECT_EQ(Hex(after.provenance.package), Hex(before.provenance.package));
    EXPECT_EQ(Hex(after.provenance.authenticode), Hex(before.provenance.authenticode));
    std::string told = ShellRun("osslsigncode verify -CAfile " + Quote(options.cert) + " -in " + Quote(options.out)).output;
    std::transform(told.begin(), told.end(), told.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(told.find("current message digest    : " + Hex(before.provenance.authenticode)), std::string::npos) << told;

    // A tool that signs other bytes than the patch's (here: its PE time stamp
    // changed) makes a valid signature of another file: refused, nothing left.
    Folder elsewhere;
    const std::string copy = elsewhere / "copy.exe", tool = bench.folder / "tool.sh";
    WriteFile(tool, BytesOf("#!/bin/bash\nargs=(\"$@\")\nfor i in \"${!args[@]}\"; do\n"
                            "  if [ \"$1\" = sign ] && [ \"${args[$i]}\" = -in ]; then\n"
                            "    cp \"${args[$((i + 1))]}\" " + Quote(copy) + " || exit 1\n"
                            "    printf '\\001' | dd of=" + Quote(copy) + " bs=1 seek=72 conv=notrunc status=none\n"
                            "    args[$((i + 1))]=" + Quote(copy) + "\n  fi\ndone\nexec osslsigncode \"${args[@]}\"\n"));
    chmod(tool.c_str(), 0755);
    options.tool = tool;
    options.out = bench.folder / "other.exe";
    const std::set<std::string> names = bench.folder.Names();
    EXPECT_FALSE(SignPatch(options, error));
    EXPECT_NE(error.find("the signature covers other bytes than the patch's"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(copy).size(), before.verdict.fileSize) << "the tool signed the changed copy";
    EXPECT_EQ(bench.folder.Names(), names);
}

// A time-stamping server named with --timestamp countersigns the signature, so
// it stays valid after the certificate expires; one that cannot be reached
// fails the signing and leaves nothing behind.
TEST(PackSign, TimestampFromTheNamedServer) {
    SigningBench signing(1000);
    ASSERT_TRUE(signing.ready);
    const Workbench& bench = signing.bench;
    SignOptions& options = signing.options;
    const std::string tsaCert = bench.folder / "tsa.pem", tsaKey = bench.folder / "tsa-key.pem";
    ASSERT_TRUE(MakeCertificate("Sundrift Test Time Stamps", "critical,timeStamping", tsaCert, tsaKey));
    const std::string config = bench.folder / "tsa.cnf";
    WriteFile(config, BytesOf("[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\nserial = " + bench.folder / "serial" +
                              "\nsigner_cert = " + tsaCert + "\nsigner_key = " + tsaKey +
                              "\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                              "ess_cert_id_alg = sha256\n"));
    WriteFile(bench.folder / "serial", BytesOf("01\n"));
    const CliRun started = ShellRun(Quote(TIMESTAMP_SERVER) + " " + Quote(config));
    int port = 0, server = 0;
    ASSERT_EQ(std::sscanf(started.output.c_str(), "%d %d", &port, &server), 2) << started.output;
    struct Server {
        pid_t pid;
        void Stop() {
            if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
            pid = 0;
        }
        ~Server() { Stop(); }
    } running{server};

    options.timestamp = "http://127.0.0.1:" + std::to_string(port);
    std::string error;
    ASSERT_TRUE(SignPatch(options, error)) << error;
    const CliRun verified = ShellRun("osslsigncode verify -CAfile " + Quote(options.cert) + " -TSA-CAfile " + Quote(tsaCert) +
                                     " -in " + Quote(options.out));
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_NE(verified.output.find("Timestamp Server Signature verification: ok"), std::string::npos)
        << verified.output;

    running.Stop();
    options.out = bench.folder / "unstamped.exe";
    EXPECT_FALSE(SignPatch(options, error));
    EXPECT_NE(error.find("signing"), std::string::npos) << error;
    for (const std::string& name : bench.folder.Names()) EXPECT_EQ(name.find("unstamped"), std::string::npos) << name;
}

}  // namespace
