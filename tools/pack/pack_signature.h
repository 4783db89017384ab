#pragma once
// The Authenticode signature of a patch: the PE certificate table, which a
// signing tool appends at the very end of the file, after the package.
#include <cstdint>
#include <cstdio>

struct CertificateTable {
    bool present = false;
    uint32_t offset = 0;  // a file offset, unlike the other data directories
    uint32_t size = 0;
};

// Reads the certificate table's directory entry from the PE headers at the
// start of `file`. False when the file does not start with PE headers.
bool ReadCertificateTable(FILE* file, CertificateTable& table);

// Signing tools pad the end of the signed content with zero bytes to this alignment.
constexpr uint32_t CERTIFICATE_ALIGNMENT = 8;
