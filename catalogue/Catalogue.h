#pragma once
// The catalogue file: which firmware items exist and how each is programmed. Every read
// looks at the file again, so an edit made while the program runs is seen by the next read;
// the file is parsed anew only when it has changed (CatalogueSnapshot).
// A missing or unreadable file reads as empty; Problem() tells why, for those who report it.

#include <memory>
#include <string>
#include <utility>

struct CatalogueSnapshot;

class Catalogue {
public:
    explicit Catalogue(std::string path);
    ~Catalogue();
    Catalogue(const Catalogue&);
    Catalogue& operator=(const Catalogue&);

    const std::string& Path() const { return FilePath; }

    // The value of key in section, or def when the key is missing.
    std::string ReadValue(const std::string& section, const std::string& key,
                          const std::string& def) const;
    // True when the key occurs in the section, also with an empty value.
    bool HasKey(const std::string& section, const std::string& key) const;

    // Why the file cannot be read (missing, a folder, no permission); empty when it can.
    std::string Problem() const;

    // This reader held to the file's content as it is now: its reads go on giving that
    // content after the file has changed. A window that shows the catalogue reads what it
    // shows from one of these, so what it shows and what it does cannot part.
    Catalogue Held() const;
    // True when the file may no longer hold what 'held' gives: edited, replaced, removed or
    // created since. False for a reader compared with itself or with an unchanged file.
    bool ChangedSince(const Catalogue& held) const;

private:
    // The file as it is now: the kept parse while the file is unchanged, else a fresh one.
    std::shared_ptr<const CatalogueSnapshot> Current() const;

    std::string FilePath;
    mutable std::shared_ptr<const CatalogueSnapshot> Kept;
    bool Holding = false;  // Kept is what every read gives, whatever the file is now
};
