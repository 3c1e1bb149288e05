#pragma once
// Firmware files into the flash image: Intel HEX text (with extended segment or extended
// linear address records) or a raw binary, told apart by the file name's own extension.
// Only regular files are read. Failures are thrown as EProgError.

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/ProgError.h"

// Loads the firmware file at 'path' into flashImage (isp::FlashImageSize bytes, the link's
// FlashImage): a name whose extension is ".bin" in any letter case is a raw binary, every
// other name an Intel HEX file. Returns the size: one past the highest address written.
int32_t LoadFlashFile(const std::string& path, uint8_t* flashImage);

// True when the file name's own extension (from the last "." after the last path separator)
// is ".bin", ignoring letter case.
bool HasBinaryExtension(const std::string& path);

// Sets the 'limit' buffer bytes to 0xFF, then stores the data records at
// linear base + segment * 16 + address, the bases set by type 4 and type 2 records. Record
// types 1, 3, 5 (and any other but 0, 2 and 4) are skipped. Returns one past the highest
// address written (0 without data).
// Raises errFileOpen (cannot be read, no regular file, larger than MaxFirmwareFileBytes,
// changed while it was read), errAddressRange (a data byte at or beyond limit),
// errHexChecksum (type 0, 2 or 4 record whose byte sum is not 0), errHexSyntax (a field that
// is not two hex digits, the file ending inside a record). Bytes stored before a failure stay.
int32_t ReadIntelHex(const std::string& path, uint8_t* buffer, int32_t limit);

// The same, reading the file in pieces of about 'pieceBytes' (ReadIntelHex: 64 KiB) cut after
// line ends; the result does not depend on the piece size.
int32_t ReadIntelHexInPieces(const std::string& path, uint8_t* buffer, int32_t limit,
                             std::size_t pieceBytes);

// The same reader on text already in memory; 'name' is the file name the failures carry.
int32_t ReadIntelHexText(const char* text, std::size_t length, uint8_t* buffer, int32_t limit,
                         const std::string& name);

// Sets the 'limit' buffer bytes to 0xFF and copies the file's first 'limit' bytes to the
// buffer's start; returns the number copied. Raises errFileOpen when it cannot be read, is no
// regular file or changed while it was read.
int32_t ReadBinary(const std::string& path, uint8_t* buffer, int32_t limit);

// A flash image of its own, isp::FlashImageSize bytes, for loading outside a link (the
// identifier search, the command line). Its pages are mapped in one call instead of being
// faulted in one by one on the first write, which on some machines costs more than the load.
class FlashImageBuffer {
public:
    FlashImageBuffer();
    ~FlashImageBuffer();
    FlashImageBuffer(const FlashImageBuffer&) = delete;
    FlashImageBuffer& operator=(const FlashImageBuffer&) = delete;

    uint8_t* Data() const { return Bytes; }

private:
    uint8_t* Bytes;
    bool Mapped = false;
};
