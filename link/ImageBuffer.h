#pragma once
// The image areas of the link: what the loaders fill and the transfers send. Kept apart from
// the driver, so that whatever works on images alone needs nothing of the serial link.

#include <cstdint>

namespace isp {
constexpr int32_t FlashImageSize = 0x40000;  // the largest flash of the chip table
constexpr int32_t EepromImageSize = 0x10000;
constexpr uint8_t Blank = 0xFF;  // erased memory, and what a firmware file leaves unset
}  // namespace isp
