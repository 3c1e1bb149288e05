#pragma once
// The Intel HEX reader: data records (type 0) into a flash image at their addresses, with
// extended segment (type 2) and extended linear (type 4) address records setting the base.
// Text may arrive in pieces as a file is read, so a large file never has to be in memory whole.

#include <cstddef>
#include <cstdint>
#include <string>

class IntelHexReader {
public:
    // Sets the 'limit' buffer bytes to 0xFF. 'name' is the file name that failures carry.
    IntelHexReader(uint8_t* buffer, int32_t limit, std::string name);

    // Reads the records of the next piece of the text. Every piece but the last must end with
    // a line end (LF or CR): a record never spans a line end, so none is split between pieces
    // and the result is that of the whole text at once. Raises EProgError errAddressRange,
    // errHexChecksum or errHexSyntax, naming the file and the line; bytes stored before a
    // failure stay.
    void Feed(const char* text, std::size_t length, bool last);

    // One past the highest address written so far (0 without data).
    int32_t Size() const { return Highest; }

private:
    int NextByte();
    [[noreturn]] void Fail(int32_t code, const char* what) const;
    long LineOf(const char* at) const;
    long LineEndsBefore(const char* at) const;

    uint8_t* const Buffer;
    const int32_t Limit;
    const std::string Name;
    int32_t Highest = 0;
    // The two bases add, as the GNU binary tools read files that use both kinds; 64 bits hold
    // their sum, so a far address fails the range check instead of wrapping round.
    int64_t SegmentBase = 0;
    int64_t LinearBase = 0;

    // The piece being read.
    const char* Begin = nullptr;
    const char* P = nullptr;
    const char* End = nullptr;
    const char* RecordStart = nullptr;
    // Line ends of the pieces before, and whether the last of them ended in a CR whose LF may
    // open this piece (CR LF is one line end).
    long LinesBefore = 0;
    bool PendingCr = false;
};
