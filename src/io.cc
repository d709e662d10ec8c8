// The system-call seam. Module state: the stand-ins.
#include "io.h"

#include <unistd.h>

#include <cerrno>

namespace {

IO_calls calls;

}  // namespace

void IO_set_calls(IO_calls stand_ins) { calls = std::move(stand_ins); }

void IO_reset() { calls = IO_calls(); }

long IO_pread(int fd, char* to, size_t size, long at) {
  return calls.pread ? calls.pread(fd, to, size, at) : ::pread(fd, to, size, at);
}

int IO_close(int fd) { return calls.close ? calls.close(fd) : ::close(fd); }

int IO_fstat(int fd, struct stat* st) { return calls.fstat ? calls.fstat(fd, st) : ::fstat(fd, st); }

long IO_ftell(FILE* f) { return calls.ftell ? calls.ftell(f) : std::ftell(f); }

int IO_stat(const char* path, struct stat* st) { return calls.stat ? calls.stat(path, st) : ::stat(path, st); }

int IO_read_whole(int fd, char* to, long size, long at) {
  while (size > 0) {
    long n = IO_pread(fd, to, static_cast<size_t>(size), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno != 0 ? errno : EIO;
    if (n == 0) return EIO;
    to += n;
    at += n;
    size -= n;
  }
  return 0;
}
