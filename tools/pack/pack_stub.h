#pragma once
// The updater image given as the stub: it must be a Windows GUI program of the
// product's machine type, and carry no signature of its own.
#include <cstdint>
#include <string>

enum class StubMachine {
    I386,          // the product: a 32-bit image
    I386_OR_AMD64  // also the 64-bit test build of the updater
};

// Checks the image's headers; an empty result accepts it, otherwise the reason
// (a phrase that follows the stub's name).
std::string StubProblem(const uint8_t* image, size_t size, StubMachine accepted);

// Checks the stub file: a readable file of at most PACKAGE_OFFSET bytes whose
// image passes StubProblem. An empty result accepts it and gives its size.
std::string CheckStub(const std::string& stub, StubMachine accepted, uint64_t& size);
