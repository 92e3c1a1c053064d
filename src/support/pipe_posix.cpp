#include "support/pipe.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace support {

bool open_pipe(int fds[2], bool nonblocking) {
#ifdef __linux__
    return ::pipe2(fds, O_CLOEXEC | (nonblocking ? O_NONBLOCK : 0)) == 0;
#else
    // Nothing else runs in this process at the same time, so no other start can inherit
    // the ends before their flags are set.
    if (::pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        const bool set = ::fcntl(fds[i], F_SETFD, FD_CLOEXEC) == 0 &&
                         (!nonblocking || ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK) == 0);
        if (!set) {
            const int saved = errno;
            ::close(fds[0]);
            ::close(fds[1]);
            errno = saved;
            return false;
        }
    }
    return true;
#endif
}

}  // namespace support
