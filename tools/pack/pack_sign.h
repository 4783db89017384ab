#pragma once
// Signing a finished patch with osslsigncode and checking the result, so that
// the elevation prompt names the publisher. The signature covers the whole
// file, the package included, and is appended after the last entry.
#include <string>

struct SignOptions {
    std::string patch;
    std::string cert;       // the publisher's certificate (PEM or DER), with its chain
    std::string key;        // its private key
    std::string out;        // empty: the patch is replaced by its signed form
    std::string name;       // shown as the program's description; empty: the output's file name
    std::string caFile;     // trusted roots for the check; empty: the certificate itself
    std::string timestamp;  // an RFC 3161 time-stamping server; empty: none
    std::string tool = "osslsigncode";
};

// Refuses a file that is no patch the updater accepts, one signed already, and
// one with bytes after its last entry. The signed file is written beside the
// output, verified, and only then moved into place; on failure nothing is
// left behind. The reason, with the tool's own words, goes to `error`.
bool SignPatch(const SignOptions& options, std::string& error);
