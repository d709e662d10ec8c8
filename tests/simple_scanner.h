// A deliberately simple product scanner: the plain rules, one line read
// at a time with fgetnline. The tests compare the real scanner with it
// byte for byte, and the benchmark measures it.
#pragma once

#include <cstdio>
#include <cstring>

#include "src/mess.h"
#include "src/string.h"
#include "src/tools.h"

// Whether the piece of `n` characters just read is a line the feed is
// still writing: the file ends right after it, without its line feed.
inline bool simple_unfinished(FILE* in, int n) {
  int c = std::getc(in);
  if (c == EOF) return n < 80;
  std::ungetc(c, in);
  return false;
}

inline void simple_record(FILE* hfile, long pos, long& ppos, const char* heading, const char* id) {
  MESS_print(M_out3, "Product size: %7ld\n", pos - ppos);
  MESS_print(M_out1, "%7ld %s / %-20.20s\n", pos, heading, id);
  if (hfile != nullptr) std::fprintf(hfile, "%7ld %s / %-20.20s\n", pos, heading, id);
  ppos = pos;
}

// Lines are C strings, so a field ends at its first NUL. Only bytes that
// were read count, a "** " line of seven characters or fewer has an empty
// heading, and a start whose lines run past the end of the file, or whose
// last line has no line feed yet, gives no record. Returns the number of records.
inline int simple_scan(FILE* in, FILE* hfile) {
  std::fseek(in, 0, SEEK_SET);  // keeps ftell from asking the kernel each time
  MESS_print(M_mess, "Processing products...\n");
  int type = 0, count = 0;
  long ppos = std::ftell(in);
  char line[81], line2[81];
  for (;;) {
    long pos = std::ftell(in);
    int n = fgetnline(in, line, 80);
    if (n < 0) break;
    bool soh = (n >= 1 && line[0] == '\x01') || (n >= 2 && line[1] == '\x01');
    if (soh && (type == 0 || type == 2)) {
      type = 2;
      if (fgetnline(in, line, 80) < 0) break;
      pos = std::ftell(in);
      if (fgetnline(in, line, 80) < 0) break;
      int n2 = fgetnline(in, line2, 80);
      if (n2 < 0 || simple_unfinished(in, n2)) break;
      wsstrip_string(line);
      wsstrip_string(line2);
      simple_record(hfile, pos, ppos, line, line2);
      ++count;
    } else if (n >= 3 && std::strncmp(line, "** ", 3) == 0 && (type == 0 || type == 1)) {
      type = 1;
      int n2 = fgetnline(in, line2, 80);
      if (n2 < 0 || simple_unfinished(in, n2)) break;
      size_t len = std::strlen(line);
      const char* heading = "";
      if (len > 7) line[len - 4] = '\0', heading = line + 3;
      simple_record(hfile, pos, ppos, heading, line2);
      ++count;
    }
  }
  return count;
}
