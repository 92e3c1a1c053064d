// Preloaded into the program to stand for a system without libcurl, libzip and ICU:
// opening one asks the loader for a file that is not there, so that the program sees the
// loader's own refusal and reason.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>

void* dlopen(const char* name, int flags) {
    static void* (*real_dlopen)(const char*, int);
    if (!real_dlopen) *(void**)&real_dlopen = dlsym(RTLD_NEXT, "dlopen");
    if (name && (strstr(name, "libcurl") || strstr(name, "libzip") || strstr(name, "libicu"))) return real_dlopen("/nonexistent/libhidden.so", flags);
    return real_dlopen(name, flags);
}
