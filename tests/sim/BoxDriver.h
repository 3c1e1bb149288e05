#pragma once
// Drives the in-process box with raw command bytes, as the link would put them on the line.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/BoxModel.h"

using Bytes = std::vector<uint8_t>;

// Feeds the bytes and returns everything the box answered.
inline Bytes Exchange(BoxModel& box, const Bytes& bytes) {
    box.Receive(bytes.data(), bytes.size());
    Bytes answer;
    for (const OutByte& b : box.Output) answer.push_back(b.Value);
    box.Output.clear();
    return answer;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline Bytes Entry() {
    return {'H', 'L', 'E', 'H', 'L'};
}
inline Bytes ProgrammingEnable() {
    return {'I', 0xAC, 0x53, 0x00, 0x00, 0};
}

// The box's H, L, E, H, L entry and one Programming Enable; true when it answered 0x53.
inline bool EnterProgMode(BoxModel& box) {
    Exchange(box, Entry());
    const Bytes a = Exchange(box, ProgrammingEnable());
    return a.size() == 5 && a[3] == 0x53;
}

inline Bytes Address24(uint32_t a) {
    return {static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
}

// 'W' with 32 data bytes; page mode (0, 0) or byte mode (4, 127).
inline Bytes FlashWrite(uint32_t address, const Bytes& data, bool pageMode) {
    Bytes f = Cat({{'W'}, Address24(address), {static_cast<uint8_t>(data.size())}});
    f.push_back(pageMode ? 0 : 4);
    f.push_back(pageMode ? 0 : 127);
    return Cat({f, data});
}

inline Bytes StorePage(uint32_t address, uint8_t firstByte) {
    return Cat({{'S'}, Address24(address), {20, 255, firstByte}});
}

inline Bytes FlashRead(uint32_t address) {
    return Cat({{'R'}, Address24(address), {32}});
}

inline Bytes EepromWrite(uint32_t address, const Bytes& data) {
    return Cat({{'w', static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                 static_cast<uint8_t>(data.size()), 7},
                data});
}

inline Bytes EepromRead(uint32_t address) {
    return {'r', static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 32};
}

inline Bytes LoadExtendedAddress(uint8_t e) {
    return {'I', 0x4D, 0x00, e, 0x00, 0};
}

inline Bytes Filled(std::size_t count, uint8_t value) {
    return Bytes(count, value);
}

inline Bytes Counting(std::size_t count, uint8_t from) {
    Bytes b(count);
    for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(from + i);
    return b;
}

// The answer to a read: the echo, then the data.
inline Bytes WithEcho(uint8_t letter, const Bytes& data) {
    return Cat({{letter}, data});
}
