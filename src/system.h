// Process-level helpers: prompts, the commands "set" and "exit" typed at
// any prompt, process exit, sleeping, and the version text. No state.
#pragma once

#include <string>

// Asks for a word: prints `prompt` (as text, at level print), reads a line
// of at most 79 characters and stores its first word (at most length-1
// characters) in `str`; an empty answer or end of input leaves it as it
// was. "set ..." lines are carried out and asked again; "exit" ends the
// process with status 0. Returns `str`.
std::string& KIV_prompts(const char* prompt, std::string& str, int length);
// Asks for a number as KIV_prompts asks for a word; retries on a
// non-number; 0 for an empty answer or at end of input.
float KIV_promptf(const char* prompt);
// Carries out a line typed at a prompt: "set NAME[ =]VALUE" stores a free
// resource ("set NAME" one without a value; "set" alone lists them all at
// messd) and returns 1; "exit..." ends the process with status 0; anything
// else returns 0.
int KIV_set_command(const char* string);
// Flushes every stream and ends the process with `status`.
[[noreturn]] void KIV_exit(int status);
// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes a standard stream's place. Call it
// before anything is opened. Returns 0, or -1 when one could not be filled.
int KIV_fill_std_streams();
// Sleeps `secs` seconds, also through signals. Returns 0, or -1 for a time
// that is not positive.
int KIV_sleep(float secs);
// The package version text, "5.60.2-LINUX-X11".
const char* KIV_version();
// The package version alone, "5.60.2": the project's version in
// CMakeLists.txt.
const char* KIV_version_number();

// Reads one line of at most `max` characters from standard input, without
// its line feed (the one place that reads the terminal). Returns false at
// end of input.
bool KIV_read_line(std::string& line, int max);
// Reads one character from standard input; -1 at end of input.
int KIV_read_char();
