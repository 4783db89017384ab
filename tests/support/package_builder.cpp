#include "support/package_builder.h"

#include <algorithm>
#include <cstring>

#include "package/portable/running_checksum.h"

namespace testing_support {

void AppendU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t ReadU32(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void AppendField(Bytes& out, const std::string& text, size_t size) {
    Bytes field(size, 0);
    std::memcpy(field.data(), text.data(), text.size() < size ? text.size() : size);
    out.insert(out.end(), field.begin(), field.end());
}

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes ChecksumOf(const Bytes& data) {
    RunningChecksum state{};
    UpdateReference(state, data.data(), data.size());
    Bytes out(CHECKSUM_SIZE);
    StoreChecksum(state, out.data());
    return out;
}

Bytes HashValueListBytes(const std::vector<TestRecord>& records, uint32_t reserved, const char* magic) {
    Bytes out(magic, magic + HASH_VALUE_MAGIC_SIZE);
    AppendU32(out, reserved);
    AppendU32(out, static_cast<uint32_t>(records.size()));
    for (const TestRecord& r : records) {
        AppendField(out, r.path, RECORD_PATH_SIZE);
        out.insert(out.end(), r.checksum.begin(), r.checksum.end());
    }
    return out;
}

Bytes PackageBytes(const std::vector<TestEntry>& entries, bool longEntries, uint32_t countOverride) {
    Bytes out;
    if (longEntries) {
        out.insert(out.end(), PACKAGE_MAGIC, PACKAGE_MAGIC + PACKAGE_MAGIC_SIZE);
    } else {
        AppendField(out, "SHORT INDEX!", PACKAGE_MAGIC_SIZE);
    }
    AppendU32(out, countOverride != UINT32_MAX ? countOverride : static_cast<uint32_t>(entries.size()));
    uint32_t offset = 0;
    for (const TestEntry& e : entries) {
        AppendField(out, e.name, longEntries ? LONG_NAME_SIZE : SHORT_NAME_SIZE);
        AppendU32(out, offset);
        AppendU32(out, static_cast<uint32_t>(e.data.size()));
        out.resize(out.size() + (longEntries ? 24 : 8), 0);
        offset += static_cast<uint32_t>(e.data.size());
    }
    for (const TestEntry& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

Bytes PatchBytes(const Bytes& package, const Bytes& image) {
    Bytes out(PACKAGE_OFFSET + package.size(), 0);
    std::memcpy(out.data(), image.data(), std::min<size_t>(image.size(), PACKAGE_OFFSET));
    if (!package.empty()) std::memcpy(out.data() + PACKAGE_OFFSET, package.data(), package.size());
    return out;
}

Bytes GeneratedBytes(uint32_t size, uint32_t seed, uint32_t stream) {
    Bytes data(size);
    uint32_t state = seed * 2654435761u + stream;
    for (uint8_t& b : data) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return data;
}

Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace testing_support
