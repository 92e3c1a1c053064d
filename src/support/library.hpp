#pragma once
// Shared libraries loaded while the program runs, for a dependency that few runs need: the
// others start without it and without the libraries it brings in. POSIX systems only; the
// Windows build links every library into the program.
#ifndef _WIN32
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

namespace support {

class Library {
  public:
    // The first of `names` that the system's loader finds; nothing when none is found, and
    // `error` then holds the loader's reason. A loaded library stays for the whole run.
    static std::optional<Library> open(std::initializer_list<const char*> names, std::string& error);

    // Sets `function` to the library's function `name`; false when it has none.
    template <typename Function>
    bool function(const char* name, Function& function) const {
        void* address = symbol(name);
        if (address) std::memcpy(&function, &address, sizeof function);
        return address != nullptr;
    }

  private:
    explicit Library(void* handle) : handle_(handle) {}
    void* symbol(const char* name) const;
    void* handle_;
};

}  // namespace support
#endif
