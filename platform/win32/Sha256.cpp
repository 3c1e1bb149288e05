// SHA-256 from Windows' own cryptography (CNG): every Windows has it, so no libcrypto DLL
// needs to come along with the program.
#include "ledger/Sha256.h"

#include <windows.h>
// After windows.h: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/SystemFiles.h"

namespace {
constexpr ULONG DigestBytes = 32;

std::string Hex(const unsigned char* digest, ULONG size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (ULONG i = 0; i < size; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0x0F];
    }
    return text;
}

// Opened once and kept: the provider serves every thread.
BCRYPT_ALG_HANDLE Algorithm() {
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            return BCRYPT_ALG_HANDLE{nullptr};
        return opened;
    }();
    return algorithm;
}

// Feeds the digest from 'read' until it returns false; empty on any failure.
template <typename Read>
std::string Digest(Read&& read) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Algorithm() ||
        !BCRYPT_SUCCESS(BCryptCreateHash(Algorithm(), &hash, nullptr, 0, nullptr, 0, 0)))
        return {};
    const void* data = nullptr;
    std::size_t size = 0;
    bool ok = true;
    while (ok && read(data, size))
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                           static_cast<ULONG>(size), 0));
    unsigned char digest[DigestBytes];
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, DigestBytes, 0));
    BCryptDestroyHash(hash);
    return ok ? Hex(digest, DigestBytes) : std::string();
}
}  // namespace

std::string Sha256Hex(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    bool first = true;
    return Digest([&](const void*& d, std::size_t& n) {
        // BCryptHashData takes at most 4 GiB a call.
        if (!first && done >= size) return false;
        first = false;
        n = std::min<std::size_t>(size - done, 1U << 30);
        d = bytes + done;
        done += n;
        return true;
    });
}

std::string FileSha256Hex(const std::string& path) {
    const int fd = sysfile::Open(path, sysfile::Read);
    if (fd < 0) return {};
    std::vector<unsigned char> buffer(65536);
    bool failed = false;
    std::string digest = Digest([&](const void*& d, std::size_t& n) {
        const long long got = sysfile::ReadSome(fd, buffer.data(), buffer.size());
        failed = got < 0;
        n = got > 0 ? static_cast<std::size_t>(got) : 0;
        d = buffer.data();
        return n > 0;
    });
    const int err = errno;
    sysfile::Close(fd);
    if (failed) {
        errno = err != 0 ? err : EIO;
        return {};
    }
    return digest;
}
