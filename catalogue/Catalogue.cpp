#include "catalogue/Catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "catalogue/IniText.h"
#include "catalogue/TextDecoding.h"

namespace {
constexpr std::size_t ReadChunkBytes = 64 * 1024;

// 0 for a regular file; a folder or a pipe named by mistake must never block or throw.
int NotRegularError(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

// Reads the whole file into bytes; 0 or the errno of the failure.
int ReadFileBytes(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    int error = NotRegularError(fd);
    char chunk[ReadChunkBytes];
    while (error == 0) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    ::close(fd);
    return error;
}

// The decoded text of the file; empty when it cannot be read.
std::string LoadText(const std::string& path) {
    std::string bytes;
    if (ReadFileBytes(path, bytes) != 0) return {};
    return DecodeCatalogueText(bytes);
}
}  // namespace

std::string Catalogue::ReadValue(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return FindIniValue(LoadText(FilePath), section, key).value_or(def);
}

bool Catalogue::HasKey(const std::string& section, const std::string& key) const {
    return FindIniValue(LoadText(FilePath), section, key).has_value();
}

std::string Catalogue::Problem() const {
    std::string bytes;
    switch (const int error = ReadFileBytes(FilePath, bytes)) {
        case 0:
            return {};
        case ENOENT:
            return "catalogue " + FilePath + " not found";
        case EISDIR:
            return "catalogue " + FilePath + " is a folder, not a file";
        case EINVAL:
            return "catalogue " + FilePath + " is not a regular file";
        default:
            return "cannot read catalogue " + FilePath + ": " + std::strerror(error);
    }
}
