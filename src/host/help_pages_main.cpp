// `vemtora-help-pages FILE`, run by the build: writes the C++ source of the program's help
// pages at the usual width (host::help::compiled_pages), which is compiled into the program.
#include <cstdio>
#include <exception>

#include "host/help.hpp"
#include "host/registry.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: vemtora-help-pages FILE\n", stderr);
        return 2;
    }
    try {
        support::write_file_atomic(support::path_from_utf8(argv[1]), host::help::compiled_pages_source(host::commands()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vemtora-help-pages: %s\n", e.what());
        return 1;
    }
    return 0;
}
