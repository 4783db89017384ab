#pragma once
// Builds package images in memory for tests: header, index, data, and hash-value lists.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/portable/package_format.h"
#include "package/portable/running_checksum.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

struct TestEntry {
    std::string name;  // stored bytes of the name (Shift-JIS where it matters)
    Bytes data;
};

void AppendU32(Bytes& out, uint32_t v);

uint32_t ReadU32(const Bytes& bytes, size_t at);

// Overwrites the four bytes at `at`, little-endian.
void PutU32(Bytes& bytes, size_t at, uint32_t value);

void AppendField(Bytes& out, const std::string& text, size_t size);

// The checksum by the reference code, which the fast kernels are checked against.
Bytes ChecksumOf(const Bytes& data);

struct TestRecord {
    std::string path;
    Bytes checksum;  // 8 bytes
};

Bytes HashValueListBytes(const std::vector<TestRecord>& records, uint32_t reserved = 0,
                         const char* magic = HASH_VALUE_MAGIC);

// The package part alone (what follows PACKAGE_OFFSET), entries back to back.
Bytes PackageBytes(const std::vector<TestEntry>& entries, bool longEntries = true, uint32_t countOverride = UINT32_MAX);

// A whole patch file image: a program image (by default a fake one) padded to
// PACKAGE_OFFSET, then the package.
Bytes PatchBytes(const Bytes& package, const Bytes& image = {'M', 'Z'});

// Deterministic varied content: the same size, seed and stream always give the same bytes;
// tests that need unrelated data pass different streams.
Bytes GeneratedBytes(uint32_t size, uint32_t seed, uint32_t stream = 1);

Bytes BytesOf(const std::string& s);

}  // namespace testing_support
