#include "catalogue/Catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "catalogue/CatalogueText.h"

namespace {
// Far beyond any catalogue; a larger file is the wrong file, not worth the memory.
constexpr std::size_t MaxCatalogueBytes = 64u << 20;

// The size of a regular file; a folder or a pipe named by mistake must never block or throw.
int RegularFileSize(int fd, std::size_t& size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<std::size_t>(st.st_size) > MaxCatalogueBytes) return EFBIG;
    size = static_cast<std::size_t>(st.st_size);
    return 0;
}

// Reads the whole file into bytes; 0 or the errno of the failure.
int ReadFileBytes(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    std::size_t size = 0;
    int error = RegularFileSize(fd, size);
    bytes.resize(size);
    std::size_t done = 0;
    // A file that shrinks meanwhile ends early; one that grows is read to its size at open.
    while (error == 0 && done < size) {
        const ssize_t n = ::read(fd, bytes.data() + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    bytes.resize(done);
    ::close(fd);
    return error;
}

// The key's value; nothing when the key is missing or the file cannot be read.
std::optional<std::string> Lookup(const std::string& path, const std::string& section,
                                  const std::string& key) {
    std::string bytes;
    if (ReadFileBytes(path, bytes) != 0) return std::nullopt;
    return FindCatalogueValue(bytes, section, key);
}
}  // namespace

std::string Catalogue::ReadValue(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return Lookup(FilePath, section, key).value_or(def);
}

bool Catalogue::HasKey(const std::string& section, const std::string& key) const {
    return Lookup(FilePath, section, key).has_value();
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
        case EFBIG:
            return "catalogue " + FilePath + " is larger than " +
                   std::to_string(MaxCatalogueBytes >> 20) + " MiB; is it the right file?";
        default:
            return "cannot read catalogue " + FilePath + ": " + std::strerror(error);
    }
}
