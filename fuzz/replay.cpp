// Runs a harness on the inputs named on the command line, one after the other, as a
// libFuzzer build does when it is given files: for builds without libFuzzer, so that the
// tests can put inputs through a harness with the usual compiler.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
        const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    return 0;
}
