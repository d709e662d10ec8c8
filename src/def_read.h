// Resource files: finding and reading them line by line, conditional
// sections and tags, and qualified resource names.
//
// Module state: the open resource file, the program and instance names
// that qualify resource names, the defined tags (at most 10) and the stack
// of open IF sections. Tags and sections survive DEF_close, so a section
// left open in one file still governs the next.
#pragma once

#include <string>

// Opens the resource file `filename` (null or empty: ".kivdef"); for a
// directory, the first of "kiv.cfg", ".kivdef" and "Kiv.res" in it that
// exists. Closes the file open before. Returns 0, or -1 when it does not
// open.
int DEF_open(const char* filename);
// Closes the open resource file, if any. Returns 0.
int DEF_close();
// Next resource line that applies: lower-case name (a trailing ':'
// dropped) and value (a value opening with '"' runs to the next '"',
// blanks included). Lines are read in pieces of 249 characters; '#' lines,
// lines without a value and lines in inactive sections are passed over;
// DEF, UNDEF, IF, ELIF, ELSE and END lines are carried out (warning
// "DEF_get: ... without an if" or "DEF_get: if nesting too deep"). 1, or
// -1 at the end of the file or when no file is open.
int DEF_get(std::string& resrc, std::string& value);
// Takes the program name from the argument vector RES_setCL remembered
// (kept as it was when there is none). Returns 0.
int DEF_prog();
// Sets the instance name (-name): "NAME" qualifies as NAME.resource,
// "+NAME" as PROGRAM.NAME.resource; null clears it. Returns 0.
int DEF_name(const char* name);
// Undefines every tag. Returns 0.
int DEF_clr_tag();
// Defines the tag `str` (a copy is kept). Returns 0, or -1 when ten tags
// are defined already.
int DEF_tag(const char* str);
// 1 when the pattern `string` (from a resource file or variable; '*' skips
// to the next occurrence of the text after it) matches the qualified name
// of `resrc`, else 0.
int DEF_cmp(const char* resrc, const char* string);
// 1 when `string` is a qualified name or pattern (holds '.' or '*') that
// matches its own last component for this program, else 0.
int DEF_valid(const char* string);
// The last component of a qualified name or pattern (after its last '.'
// or '*') in `ostr`. Returns 1.
int DEF_parse_name(const char* str, std::string& ostr);
// The value of the first of these environment variables that is set:
// "kiv" + the qualified name, `env` (may be null), "kiv" + `resrc`.
// Returns 1 with `value` filled, or 0.
int DEF_env(const char* resrc, const char* env, std::string& value);

// The qualified name of a resource for the running program.
std::string DEF_qualified(const char* resrc);
// Back to the start-up state: program "Kiv", no instance, no tags, empty
// IF stack, no open file (tests).
void DEF_reset();
