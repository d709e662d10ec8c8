// Placeholder: replaced by the module implementation.
#include "system.h"
#include <cstdlib>
#include <type_traits>

std::string& KIV_prompts(const char* prompt, std::string& str, int length) { return str; }
float KIV_promptf(const char* prompt) { return 0; }
int KIV_set_command(const char* string) { return 0; }
[[noreturn]] void KIV_exit(int status) { std::_Exit(0); }
int KIV_sleep(float secs) { return 0; }
const char* KIV_version() { return nullptr; }
bool KIV_read_line(std::string& line, int max) { return 0; }
int KIV_read_char() { return 0; }
