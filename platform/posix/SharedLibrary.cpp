#include "ledger/SharedLibrary.h"

#include <dlfcn.h>

#include "ledger/LedgerError.h"

SharedLibrary::SharedLibrary(const char* soname) : Name(soname) {
    Handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!Handle) {
        const char* why = dlerror();
        throw LedgerError(Name + " cannot be loaded: " + (why ? why : "not found"));
    }
}

void* SharedLibrary::Symbol(const char* name) const {
    void* symbol = dlsym(Handle, name);
    if (!symbol) throw LedgerError(Name + " has no " + name + ": it is not the version needed");
    return symbol;
}
