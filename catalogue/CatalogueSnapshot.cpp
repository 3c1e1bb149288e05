#include "catalogue/CatalogueSnapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "catalogue/TextDecoding.h"

namespace {
// A folder or a pipe named by mistake must never block or throw.
int CheckRegularFile(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<std::size_t>(st.st_size) > MaxCatalogueBytes) return EFBIG;
    return 0;
}

// Reads 'size' bytes; a file that shrinks meanwhile ends early. 0 or the errno of the failure.
int ReadBytes(int fd, std::size_t size, std::string& bytes) {
    bytes.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes.data() + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    bytes.resize(done);
    return 0;
}
}  // namespace

FileStamp FileStamp::Of(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
            static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

bool FileStamp::operator==(const FileStamp& o) const {
    return Device == o.Device && Inode == o.Inode && Size == o.Size &&
           ModifiedSeconds == o.ModifiedSeconds && ModifiedNanoseconds == o.ModifiedNanoseconds;
}

bool StampOfPath(const std::string& path, FileStamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    stamp = FileStamp::Of(st);
    return true;
}

CatalogueSnapshot CatalogueSnapshot::Read(const std::string& path) {
    CatalogueSnapshot s;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        s.Error = errno;
        return s;
    }
    struct stat before {};
    std::string bytes;
    if (::fstat(fd, &before) != 0)
        s.Error = errno;
    else if ((s.Error = CheckRegularFile(before)) == 0)
        s.Error = ReadBytes(fd, static_cast<std::size_t>(before.st_size), bytes);
    struct stat after {};
    // Written meanwhile: this parse serves the read at hand, the next read parses again.
    s.Stable = s.Error == 0 && ::fstat(fd, &after) == 0 &&
               FileStamp::Of(after) == FileStamp::Of(before) &&
               bytes.size() == static_cast<std::size_t>(before.st_size);
    ::close(fd);
    if (s.Error != 0) return s;
    s.Stamp = FileStamp::Of(before);
    s.Keys = IniSections::Parse(DecodeCatalogueText(std::move(bytes)));
    return s;
}
