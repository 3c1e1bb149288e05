#include "catalogue/CatalogueSnapshot.h"

#include <cerrno>

#include "catalogue/TextDecoding.h"

namespace {
// A folder or a pipe named by mistake must never block or throw.
int CheckRegularFile(const sysfile::Info& info) {
    if (info.Type == sysfile::Kind::Folder) return EISDIR;
    if (info.Type != sysfile::Kind::Regular) return EINVAL;
    if (static_cast<std::size_t>(info.Size) > MaxCatalogueBytes) return EFBIG;
    return 0;
}

// Reads 'size' bytes; a file that shrinks meanwhile ends early. 0 or the errno of the failure.
int ReadBytes(int fd, std::size_t size, std::string& bytes) {
    bytes.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const long long n = sysfile::ReadSome(fd, bytes.data() + done, size - done);
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

FileStamp FileStamp::Of(const sysfile::Info& info) {
    return {info.Device, info.Number, info.Size, info.ModifiedSeconds, info.ModifiedNanoseconds};
}

bool FileStamp::operator==(const FileStamp& o) const {
    return Device == o.Device && Inode == o.Inode && Size == o.Size &&
           ModifiedSeconds == o.ModifiedSeconds && ModifiedNanoseconds == o.ModifiedNanoseconds;
}

bool StampOfPath(const std::string& path, FileStamp& stamp) {
    sysfile::Info info;
    if (sysfile::InfoAt(path, info) != 0) return false;
    stamp = FileStamp::Of(info);
    return true;
}

CatalogueSnapshot CatalogueSnapshot::Read(const std::string& path) {
    CatalogueSnapshot s;
    const int fd = sysfile::Open(path, sysfile::Read | sysfile::NonBlocking);
    if (fd < 0) {
        s.Error = errno;
        return s;
    }
    sysfile::Info before;
    std::string bytes;
    if (sysfile::InfoOf(fd, before) != 0)
        s.Error = errno;
    else if ((s.Error = CheckRegularFile(before)) == 0)
        s.Error = ReadBytes(fd, static_cast<std::size_t>(before.Size), bytes);
    sysfile::Info after;
    // Written meanwhile: this parse serves the read at hand, the next read parses again.
    s.Stable = s.Error == 0 && sysfile::InfoOf(fd, after) == 0 &&
               FileStamp::Of(after) == FileStamp::Of(before) &&
               bytes.size() == static_cast<std::size_t>(before.Size);
    sysfile::Close(fd);
    if (s.Error != 0) return s;
    s.Stamp = FileStamp::Of(before);
    s.Keys = IniSections::Parse(DecodeCatalogueText(std::move(bytes)));
    return s;
}
