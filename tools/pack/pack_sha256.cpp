#include "pack_sha256.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#ifdef _WIN32
// The algorithm's provider is opened per digest: a handful per command.
struct Sha256State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

void Sha256StateDeleter::operator()(Sha256State* state) const {
    if (state->hash) BCryptDestroyHash(state->hash);
    if (state->algorithm) BCryptCloseAlgorithmProvider(state->algorithm, 0);
    delete state;
}

Sha256 StartSha256() {
    Sha256 state(new Sha256State);
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        return nullptr;
    }
    return state;
}

bool AddToSha256(Sha256State& state, const void* data, size_t size) {
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    // CNG takes at most 4 GiB less one byte per call.
    while (size > 0) {
        const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptHashData(state.hash, const_cast<UCHAR*>(bytes), part, 0))) return false;
        bytes += part;
        size -= part;
    }
    return true;
}

bool FinishSha256(Sha256State& state, Sha256Digest& digest) {
    return BCRYPT_SUCCESS(BCryptFinishHash(state.hash, digest.data(), SHA256_SIZE, 0));
}
#else
struct Sha256State {
    EVP_MD_CTX* context = nullptr;
};

void Sha256StateDeleter::operator()(Sha256State* state) const {
    EVP_MD_CTX_free(state->context);
    delete state;
}

Sha256 StartSha256() {
    Sha256 state(new Sha256State);
    state->context = EVP_MD_CTX_new();
    if (!state->context || EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) != 1) return nullptr;
    return state;
}

bool AddToSha256(Sha256State& state, const void* data, size_t size) {
    return EVP_DigestUpdate(state.context, data, size) == 1;
}

bool FinishSha256(Sha256State& state, Sha256Digest& digest) {
    unsigned int length = 0;
    return EVP_DigestFinal_ex(state.context, digest.data(), &length) == 1 && length == SHA256_SIZE;
}
#endif
