#pragma once
// Small helpers the tests share: repeatable random bytes, and the code a call fails with.

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "link/ProgError.h"

// The same bytes for the same key on every run.
inline std::vector<uint8_t> RandomBytes(std::size_t count, unsigned key) {
    std::mt19937 gen(key);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

constexpr int32_t NoFailure = -100;

// The EProgError code the call throws, NoFailure when it returns.
inline int32_t CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EProgError& e) {
        return e.Code;
    }
    return NoFailure;
}
