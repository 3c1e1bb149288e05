#include "image/ImageLoader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "link/IspLink.h"

namespace {

[[noreturn]] void FailOpen(const std::string& path, int os) {
    EProgError e(errFileOpen, "(File: " + path + ": " + std::strerror(os) + ")");
    e.OsError = static_cast<uint32_t>(os);
    throw e;
}

// An open file descriptor that is closed on every way out.
class InputFile {
public:
    explicit InputFile(const std::string& path) : Path(path) {
        do {
            Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (Fd < 0 && errno == EINTR);
        if (Fd < 0) FailOpen(path, errno);
        struct stat st {};
        if (::fstat(Fd, &st) != 0) Fail();
        // A folder opens for reading on POSIX; it is no firmware file.
        if (S_ISDIR(st.st_mode)) FailWith(EISDIR);
        if (S_ISREG(st.st_mode)) FileSize = static_cast<std::size_t>(st.st_size);
    }
    ~InputFile() {
        if (Map) ::munmap(Map, FileSize);
        if (Fd >= 0) ::close(Fd);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to 'count' bytes; fewer only at the file's end.
    std::size_t Read(void* dest, std::size_t count) {
        auto* d = static_cast<char*>(dest);
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(Fd, d + done, count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                Fail();
            }
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    // The whole file, valid while this object lives. A regular file is mapped: no copy and no
    // fresh memory to fault in, which is most of a load's time. (A file cut shorter by another
    // program during the load ends the process, as with any mapped file.) Anything else, such
    // as a pipe, is read.
    std::string_view Text() {
        if (FileSize > 0) {
            int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
            flags |= MAP_POPULATE;
#endif
            void* map = ::mmap(nullptr, FileSize, PROT_READ, flags, Fd, 0);
            if (map != MAP_FAILED) {
                Map = map;
                return {static_cast<const char*>(map), FileSize};
            }
        }
        std::array<char, 65536> chunk;
        while (std::size_t n = Read(chunk.data(), chunk.size())) Copy.append(chunk.data(), n);
        return Copy;
    }

private:
    [[noreturn]] void Fail() {
        FailWith(errno);
    }
    [[noreturn]] void FailWith(int os) {
        ::close(Fd);
        Fd = -1;
        FailOpen(Path, os);
    }

    const std::string Path;
    int Fd = -1;
    std::size_t FileSize = 0;  // of a regular file
    void* Map = nullptr;
    std::string Copy;
};

// Value of a hex digit, -1 for any other character.
constexpr std::array<int8_t, 256> MakeHexTable() {
    std::array<int8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        t[c] = -1;
        if (c >= '0' && c <= '9') t[c] = static_cast<int8_t>(c - '0');
        if (c >= 'A' && c <= 'F') t[c] = static_cast<int8_t>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') t[c] = static_cast<int8_t>(c - 'a' + 10);
    }
    return t;
}
constexpr std::array<int8_t, 256> HexValue = MakeHexTable();

constexpr int RecordData = 0;
constexpr int RecordSegment = 2;

class HexParser {
public:
    HexParser(const char* text, std::size_t length, const std::string& name)
        : Begin(text), P(text), End(text + length), Name(name) {}

    int32_t Run(uint8_t* buffer, int32_t limit) {
        int32_t size = 0;
        int32_t segment = 0;
        for (;;) {
            // Everything up to the next ":" is skipped, the rest of ignored records included.
            const void* colon = std::memchr(P, ':', static_cast<std::size_t>(End - P));
            if (!colon) return size;
            RecordStart = static_cast<const char*>(colon);
            P = RecordStart + 1;

            const int count = NextByte();
            const int addressHigh = NextByte();
            const int addressLow = NextByte();
            const int type = NextByte();
            unsigned sum = static_cast<unsigned>(count + addressHigh + addressLow + type);
            int32_t address = segment * 16 + addressHigh * 256 + addressLow;

            if (type == RecordData) {
                for (int i = 0; i < count; ++i) {
                    const int value = NextByte();
                    sum += static_cast<unsigned>(value);
                    if (address >= limit) Fail(errAddressRange, "");
                    buffer[address] = static_cast<uint8_t>(value);
                    ++address;
                    if (address > size) size = address;
                }
            } else if (type == RecordSegment) {
                // Always two bytes, high first, whatever the byte count says.
                const int high = NextByte();
                const int low = NextByte();
                sum += static_cast<unsigned>(high + low);
                segment = high * 256 + low;
            } else {
                continue;
            }
            sum += static_cast<unsigned>(NextByte());
            if ((sum & 0xFF) != 0) Fail(errHexChecksum, "");
        }
    }

private:
    int NextByte() {
        if (End - P < 2) {
            P = RecordStart;  // the record that the file cut off
            Fail(errHexSyntax, ": the file ends inside a record");
        }
        const int high = HexValue[static_cast<uint8_t>(P[0])];
        const int low = HexValue[static_cast<uint8_t>(P[1])];
        if ((high | low) < 0) {
            if (high >= 0) ++P;
            Fail(errHexSyntax, ": not a hexadecimal digit");
        }
        P += 2;
        return high * 16 + low;
    }

    // Names the file and the line: that of the character that is not hex, or of the record
    // that the file cuts off, is out of range or does not add up.
    [[noreturn]] void Fail(int32_t code, const char* what) {
        const char* at = code == errHexSyntax ? P : RecordStart;
        const long line = 1 + std::count(Begin, at, '\n');
        throw EProgError(code, "(File: " + Name + ", line " + std::to_string(line) + what + ")");
    }

    const char* const Begin;
    const char* P;
    const char* const End;
    const char* RecordStart = nullptr;
    const std::string& Name;
};

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

}  // namespace

int32_t ReadIntelHexText(const char* text, std::size_t length, uint8_t* buffer, int32_t limit,
                         const std::string& name) {
    limit = std::max<int32_t>(limit, 0);
    std::memset(buffer, isp::Blank, static_cast<std::size_t>(limit));
    return HexParser(text, length, name).Run(buffer, limit);
}

int32_t ReadIntelHex(const std::string& path, uint8_t* buffer, int32_t limit) {
    InputFile file(path);
    const std::string_view text = file.Text();
    return ReadIntelHexText(text.data(), text.size(), buffer, limit, path);
}

int32_t ReadBinary(const std::string& path, uint8_t* buffer, int32_t limit) {
    InputFile file(path);
    limit = std::max<int32_t>(limit, 0);
    std::memset(buffer, isp::Blank, static_cast<std::size_t>(limit));
    // Bytes beyond the limit are not read at all.
    return static_cast<int32_t>(file.Read(buffer, static_cast<std::size_t>(limit)));
}

bool HasBinaryExtension(const std::string& path) {
    std::size_t nameStart = path.size();
    while (nameStart > 0 && !IsSeparator(path[nameStart - 1])) --nameStart;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) return false;
    const std::string_view ext(path.c_str() + dot, path.size() - dot);
    static constexpr std::string_view bin = ".bin";
    return ext.size() == bin.size() &&
           std::equal(ext.begin(), ext.end(), bin.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

int32_t LoadFlashFile(const std::string& path, uint8_t* flashImage) {
    if (HasBinaryExtension(path)) return ReadBinary(path, flashImage, isp::FlashImageSize);
    return ReadIntelHex(path, flashImage, isp::FlashImageSize);
}

FlashImageBuffer::FlashImageBuffer() {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* map = ::mmap(nullptr, isp::FlashImageSize, PROT_READ | PROT_WRITE, flags, -1, 0);
    Mapped = map != MAP_FAILED;
    Bytes = Mapped ? static_cast<uint8_t*>(map) : new uint8_t[isp::FlashImageSize];
}

FlashImageBuffer::~FlashImageBuffer() {
    if (Mapped) {
        ::munmap(Bytes, isp::FlashImageSize);
    } else {
        delete[] Bytes;
    }
}
