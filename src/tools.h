// Line input. The readers never consume the line feed that ends the line
// they return: it is consumed by the next call, so the stream position
// between calls is the position of that line feed.
#pragma once

#include <cstdio>
#include <string>

// Reads the next line or piece of at most `len` characters into `string`
// (room for len+1 bytes). Returns the count stored (0 for an empty line)
// or -1 at end of input, leaving `string` unchanged.
int fgetnline(FILE* ifile, char* string, int len);
// Same reading rules; returns 1 for text, 0 for an empty line, -1 at end.
int fgetstring(FILE* ifile, char* string, int len);

// The same readers into a growable text (at most `len` characters, a
// negative `len` counting as 0).
int fgetnline(FILE* ifile, std::string& string, int len);
int fgetstring(FILE* ifile, std::string& string, int len);
