// The system calls that read data and header files, in one place: tests
// put stand-ins there to fail them one at a time, as a bad sector or a
// flaky network mount does. Every read of a data or header file, the
// look at a data file's status and position, the stat that tells a
// missing data file, and the close of a header file written go through
// here.
//
// Module state: the stand-ins (none at start-up).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <functional>

// Stand-ins for the calls; an empty member calls the system.
struct IO_calls {
  std::function<long(int fd, char* to, size_t size, long at)> pread;
  std::function<int(int fd)> close;
  std::function<int(int fd, struct stat* st)> fstat;
  std::function<long(FILE* f)> ftell;
  std::function<int(const char* path, struct stat* st)> stat;
};
// Puts `calls` in place of the system's (tests).
void IO_set_calls(IO_calls calls);
// Back to the system's calls.
void IO_reset();

// The calls, as their namesakes: the result, with errno set on failure;
// an interrupted call is not retried here.
long IO_pread(int fd, char* to, size_t size, long at);
int IO_close(int fd);
int IO_fstat(int fd, struct stat* st);
long IO_ftell(FILE* f);
int IO_stat(const char* path, struct stat* st);

// Reads the `size` bytes at `at` of `fd` whole, again after a signal.
// Returns 0, or the errno of the failure (EIO when the file ends first:
// it shrank while read).
int IO_read_whole(int fd, char* to, long size, long at);
