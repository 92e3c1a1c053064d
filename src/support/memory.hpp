#pragma once

namespace support {

// Sets the system allocator up for a program that makes and frees the same buffers file
// after file (zlib's state for each member of an archive, the texts of each page): freed
// memory stays in the process for the next file instead of going back to the kernel and
// being faulted in again, page by page. Only a buffer of several MB is mapped apart, and
// given back as soon as it is freed, so that one large file does not hold its memory for
// the rest of the run. Called once at start-up; a no-op where the allocator has no such
// settings.
void tune_allocator();

}  // namespace support
