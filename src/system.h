// Process-level helpers: prompts, the commands "set" and "exit" typed at
// any prompt, process exit, sleeping, and the version text.
#pragma once

#include <string>

// Asks for a word: stores the first word of the answer (at most length-1
// characters) in `str`; an empty answer or end of input leaves it as it
// was. Returns `str`.
std::string& KIV_prompts(const char* prompt, std::string& str, int length);
// Asks for a number; retries on a non-number; 0 for an empty answer or at
// end of input.
float KIV_promptf(const char* prompt);
int KIV_set_command(const char* string);
[[noreturn]] void KIV_exit(int status);
// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes a standard stream's place. Call it
// before anything is opened. Returns 0, or -1 when one could not be filled.
int KIV_fill_std_streams();
int KIV_sleep(float secs);
const char* KIV_version();

// Reads one line of at most `max` characters from standard input, without
// its line feed (the one place that reads the terminal). Returns false at
// end of input.
bool KIV_read_line(std::string& line, int max);
// Reads one character from standard input; -1 at end of input.
int KIV_read_char();
