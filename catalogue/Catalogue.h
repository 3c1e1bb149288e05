#pragma once
// The catalogue file: which firmware items exist and how each is programmed. Every read
// goes to the file again, so an edit made while the program runs is seen by the next read.
// A missing or unreadable file reads as empty; Problem() tells why, for those who report it.

#include <string>
#include <utility>

class Catalogue {
public:
    explicit Catalogue(std::string path) : FilePath(std::move(path)) {}

    const std::string& Path() const { return FilePath; }

    // The value of key in section, or def when the key is missing.
    std::string ReadValue(const std::string& section, const std::string& key,
                          const std::string& def) const;
    // True when the key occurs in the section, also with an empty value.
    bool HasKey(const std::string& section, const std::string& key) const;

    // Why the file cannot be read (missing, a folder, no permission); empty when it can.
    std::string Problem() const;

private:
    std::string FilePath;
};
