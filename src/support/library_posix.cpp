#include "support/library.hpp"

#include <dlfcn.h>

namespace support {

std::optional<Library> Library::open(std::initializer_list<const char*> names, std::string& error) {
    std::string first_reason;  // the first name's reason says most
    for (const char* name : names) {
        if (void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) return Library(handle);
        const char* reason = dlerror();
        if (first_reason.empty() && reason) first_reason = reason;
    }
    error = first_reason;
    return std::nullopt;
}

void* Library::symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace support
