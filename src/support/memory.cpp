#include "support/memory.hpp"

#include <cstdlib>  // names the C library (__GLIBC__)

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace support {

void tune_allocator() {
#if defined(__GLIBC__)
    // glibc gives the top of the heap back once 128 KB of it is free and maps apart every
    // buffer above 128 KB (raising that as buffers are freed): each member that zlib packs
    // would fault its 256 KB of state in anew.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
}

}  // namespace support
