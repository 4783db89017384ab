#pragma once
// SHA-256 from the system's own library: libcrypto on Unix, CNG on Windows.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

constexpr size_t SHA256_SIZE = 32;
using Sha256Digest = std::array<uint8_t, SHA256_SIZE>;

// A digest being computed; the library's state, released by the deleter.
struct Sha256State;
struct Sha256StateDeleter {
    void operator()(Sha256State* state) const;
};
using Sha256 = std::unique_ptr<Sha256State, Sha256StateDeleter>;

// Null when the library cannot give one (out of memory).
Sha256 StartSha256();
bool AddToSha256(Sha256State& state, const void* data, size_t size);
bool FinishSha256(Sha256State& state, Sha256Digest& digest);
