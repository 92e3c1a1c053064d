#pragma once
// Shared libraries loaded while the program runs, for a dependency that few runs need: the
// others start without it and without the libraries it brings in. POSIX systems only; the
// Windows build links every library into the program.
#ifndef _WIN32
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

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

// The functions `Api` (a struct of function pointers) of the first of `names` that loads,
// loaded at the first call and kept for the run: `bind` fills them from the library and
// says what is wrong ("" for nothing, as when a function is missing). Nothing when they
// cannot be had; `reason` then says why.
template <typename Api, typename Bind>
const Api* load_once(std::initializer_list<const char*> names, Bind bind, std::string& reason) {
    static const auto loaded = [&] {
        std::pair<std::optional<Api>, std::string> out;
        auto library = Library::open(names, out.second);
        if (!library) return out;
        Api api{};
        out.second = bind(*library, api);
        if (out.second.empty()) out.first = api;
        return out;
    }();
    if (!loaded.first) reason = loaded.second;
    return loaded.first ? &*loaded.first : nullptr;
}

}  // namespace support
#endif
