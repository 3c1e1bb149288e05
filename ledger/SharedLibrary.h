#pragma once
// The ledger's libraries (SQLite, libpq, libcrypto) are loaded when a ledger is first used,
// not when a program starts: together they bring some thirty shared objects, which would
// multiply the start-up time of every short q40prog-cli command. Each is loaded once per
// process, by its soname, and stays loaded.

#include <string>

class SharedLibrary {
public:
    // Loads the library; throws LedgerError ("libpq.so.5 cannot be loaded: ...") when it is
    // not installed.
    explicit SharedLibrary(const char* soname);

    // Sets 'function' to the library's symbol of that name; throws LedgerError when missing.
    template <typename Function>
    void Bind(const char* name, Function& function) const {
        function = reinterpret_cast<Function>(Symbol(name));
    }

private:
    void* Symbol(const char* name) const;
    std::string Name;
    void* Handle = nullptr;
};
