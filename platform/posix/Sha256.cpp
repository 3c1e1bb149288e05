#include "ledger/Sha256.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "ledger/LedgerError.h"
#include "ledger/SharedLibrary.h"

namespace {
// libcrypto's digest functions, loaded at first use like the ledger's other libraries.
struct CryptoApi {
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_MD_CTX_new) ctxNew;
    decltype(&EVP_MD_CTX_free) ctxFree;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) finish;
};

CryptoApi LoadCrypto() {
    const SharedLibrary lib("libcrypto.so.3");
    CryptoApi api{};
    lib.Bind("EVP_sha256", api.sha256);
    lib.Bind("EVP_MD_CTX_new", api.ctxNew);
    lib.Bind("EVP_MD_CTX_free", api.ctxFree);
    lib.Bind("EVP_DigestInit_ex", api.init);
    lib.Bind("EVP_DigestUpdate", api.update);
    lib.Bind("EVP_DigestFinal_ex", api.finish);
    return api;
}

const CryptoApi* Crypto() {
    try {
        static const CryptoApi api = LoadCrypto();
        return &api;
    } catch (const LedgerError&) {
        return nullptr;
    }
}

std::string Hex(const unsigned char* digest, unsigned size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0x0F];
    }
    return text;
}

// Feeds the digest from 'read' until it returns 0; empty on any failure.
template <typename Read>
std::string Digest(Read&& read) {
    const CryptoApi* c = Crypto();
    if (!c) return {};
    const std::unique_ptr<EVP_MD_CTX, decltype(c->ctxFree)> context(c->ctxNew(), c->ctxFree);
    if (!context || c->init(context.get(), c->sha256(), nullptr) != 1) return {};
    const void* data = nullptr;
    std::size_t size = 0;
    while (read(data, size))
        if (c->update(context.get(), data, size) != 1) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (c->finish(context.get(), digest, &length) != 1) return {};
    return Hex(digest, length);
}
}  // namespace

std::string Sha256Hex(const void* data, std::size_t size) {
    bool given = false;
    return Digest([&](const void*& d, std::size_t& n) {
        if (given) return false;
        given = true;
        d = data;
        n = size;
        return true;
    });
}

std::string FileSha256Hex(const std::string& path) {
    const std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rbe"),
                                                             &std::fclose);
    if (!file) return {};
    unsigned char buffer[65536];
    bool failed = false;
    std::string digest = Digest([&](const void*& d, std::size_t& n) {
        n = std::fread(buffer, 1, sizeof buffer, file.get());
        d = buffer;
        failed = std::ferror(file.get()) != 0;
        return n > 0;
    });
    if (failed) {
        if (errno == 0) errno = EIO;
        return {};
    }
    return digest;
}
