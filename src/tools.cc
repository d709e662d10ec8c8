// Line input. A read stops before the line feed that ends a line and
// leaves it in the stream; the next read consumes it first. Callers take
// ftell between calls as the offset of that line feed, so this rule is
// what the header records rely on.
#include "tools.h"

namespace {

// Appends at most `len` non-line-feed characters; returns the count.
// The character that stopped the read stays in the stream.
int read_piece(FILE* ifile, std::string& out, int len) {
  int n = 0;
  while (n < len) {
    int c = getc(ifile);
    if (c == EOF) break;
    if (c == '\n') {
      ungetc(c, ifile);
      break;
    }
    out.push_back(static_cast<char>(c));
    ++n;
  }
  return n;
}

}  // namespace

int fgetnline(FILE* ifile, std::string& string, int len) {
  std::string piece;
  if (len < 0) len = 0;
  if (read_piece(ifile, piece, len) > 0) {
    string = piece;
    return static_cast<int>(piece.size());
  }
  int c = getc(ifile);
  if (c == EOF) return -1;  // at end of input: `string` unchanged
  // c is the line feed that ended the previous line.
  if (read_piece(ifile, piece, len) > 0) {
    string = piece;
    return static_cast<int>(piece.size());
  }
  c = getc(ifile);
  if (c == EOF) return -1;
  ungetc(c, ifile);  // another line feed: an empty line
  string.clear();
  return 0;
}

int fgetstring(FILE* ifile, std::string& string, int len) {
  int n = fgetnline(ifile, string, len);
  return n > 0 ? 1 : n;
}

int fgetnline(FILE* ifile, char* string, int len) {
  std::string line;
  int n = fgetnline(ifile, line, len);
  if (n >= 0) line.copy(string, line.size()), string[line.size()] = '\0';
  return n;
}

int fgetstring(FILE* ifile, char* string, int len) {
  int n = fgetnline(ifile, string, len);
  return n > 0 ? 1 : n;
}
