#pragma once
// An installed game checked against its hash-value list: each record's file
// present and matching, present but different, or missing.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/portable/package_format.h"

enum class RecordState { MATCHES, DIFFERS, MISSING, UNREADABLE };

struct VerifiedRecord {
    std::string path;  // for display: UTF-8, or the bytes escaped
    RecordState state = RecordState::MISSING;
    std::string note;  // why it differs or cannot be checked
    uint8_t expected[CHECKSUM_SIZE] = {};
    bool checksummed = false;  // `actual` holds the file's checksum
    uint8_t actual[CHECKSUM_SIZE] = {};
};

struct Verification {
    std::string listPath;
    std::vector<VerifiedRecord> records;
    size_t matching = 0, differing = 0, missing = 0, unreadable = 0;
};

// False, with the reason, when the game folder has no readable list.
bool VerifyGame(const std::string& gameDir, bool progress, Verification& verification, std::string& error);

// Only when every present file matches its record, and with `strict` none is missing.
bool VerificationPassed(const Verification& verification, bool strict);

void PrintVerification(const Verification& verification, bool json, bool strict, FILE* out);
