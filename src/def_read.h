// Resource files: finding and reading them line by line, conditional
// sections and tags, and qualified resource names.
#pragma once

#include <string>

int DEF_open(const char* filename);
int DEF_close();
// Next resource line that applies: lower-case name and value. 1, or -1 at
// the end of the file or when no file is open.
int DEF_get(std::string& resrc, std::string& value);
int DEF_prog();
int DEF_name(const char* name);
int DEF_clr_tag();
int DEF_tag(const char* str);
int DEF_cmp(const char* resrc, const char* string);
int DEF_valid(const char* string);
int DEF_parse_name(const char* str, std::string& ostr);
int DEF_env(const char* resrc, const char* env, std::string& value);

// The qualified name of a resource for the running program.
std::string DEF_qualified(const char* resrc);
// Back to the start-up state: program "Kiv", no instance, no tags, empty
// IF stack, no open file (tests).
void DEF_reset();
