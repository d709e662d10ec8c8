// Text helpers: the delimiter tokenizer, ASCII case-insensitive
// comparison and in-place edits. Case folding is plain ASCII; the locale
// is never consulted.
#pragma once

#include <string>
#include <vector>

// Splits `string` at `delim` into one private copy and an array of
// pointers into it. Trailing delimiters give no token; consecutive ones
// give empty tokens. Returns 0, or -1 (count 0, array null) for a null or
// empty text. Release with free_parsed_array.
int parse_string(const char* string, char delim, int* argc, char*** argv);
// Releases what parse_string made (nothing for a count of 0). Returns 0.
int free_parsed_array(int argc, char** argv);

// The same split, as owned texts.
std::vector<std::string> parse_string(const std::string& string, char delim);

// 0 when equal ignoring ASCII case, else the difference of the first
// differing folded bytes; 1 when either is null. strnicmp compares at most
// n characters, an n of 0 or less counting as 1.
int stricmp(const char* s1, const char* s2);
int strnicmp(const char* s1, const char* s2, int n);

// In-place edits of a NUL-terminated text (null is allowed). fill_string
// replaces every `tar` by `fill` (a NUL fill ends the text at the first
// `tar`) and returns 0.
int fill_string(char* string, char tar, char fill);
int wsstrip_string(char* string);  // removes every CR and LF; returns 1
int wstrim_string(char* string);   // as wsstrip_string, then trailing blanks; returns 1
// Upper- or lower-cases ASCII letters. Returns 1, or 0 for a null or empty
// text.
int up_string(char* string);
int low_string(char* string);

// The same edits on owned texts.
void fill_string(std::string& string, char tar, char fill);
void wsstrip_string(std::string& string);
void wstrim_string(std::string& string);
void up_string(std::string& string);
void low_string(std::string& string);
