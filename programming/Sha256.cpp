#include "programming/Sha256.h"

#include <openssl/evp.h>

std::string Sha256Hex(const uint8_t* bytes, std::size_t count) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes, count, digest, &length, EVP_sha256(), nullptr) != 1) return {};
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 0xF];
    }
    return hex;
}
