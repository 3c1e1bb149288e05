#include "catalogue/Catalogue.h"

#include <cerrno>
#include <cstring>

#include "catalogue/CatalogueSnapshot.h"

Catalogue::Catalogue(std::string path) : FilePath(std::move(path)) {}
Catalogue::~Catalogue() = default;
Catalogue::Catalogue(const Catalogue&) = default;
Catalogue& Catalogue::operator=(const Catalogue&) = default;

std::shared_ptr<const CatalogueSnapshot> Catalogue::Current() const {
    if (Holding) return Kept;
    FileStamp now;
    if (Kept && StampOfPath(FilePath, now) && now == Kept->Stamp) return Kept;
    auto fresh = std::make_shared<const CatalogueSnapshot>(CatalogueSnapshot::Read(FilePath));
    Kept = fresh->Stable ? fresh : nullptr;
    return fresh;
}

std::string Catalogue::ReadValue(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    const std::string* value = Current()->Keys.Find(section, key);
    return value ? *value : def;
}

bool Catalogue::HasKey(const std::string& section, const std::string& key) const {
    return Current()->Keys.Find(section, key) != nullptr;
}

std::string Catalogue::Problem() const {
    switch (const int error = Current()->Error) {
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

Catalogue Catalogue::Held() const {
    Catalogue held(*this);
    held.Kept = Current();
    held.Holding = true;
    return held;
}

bool Catalogue::ChangedSince(const Catalogue& held) const {
    const std::shared_ptr<const CatalogueSnapshot> now = Current(), then = held.Current();
    if (now == then) return false;
    // A file that could not be read and still cannot, for the same reason, reads the same.
    if (now->Error != 0 || then->Error != 0) return now->Error != then->Error;
    // A parse of a file written while it was read may not be what the file holds.
    return !(now->Stable && then->Stable && now->Stamp == then->Stamp);
}
