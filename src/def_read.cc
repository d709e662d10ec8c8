// Placeholder: replaced by the module implementation.
#include "def_read.h"
#include <cstdlib>
#include <type_traits>

int DEF_open(const char* filename) { return 0; }
int DEF_close() { return 0; }
int DEF_get(std::string& resrc, std::string& value) { return 0; }
int DEF_prog() { return 0; }
int DEF_name(const char* name) { return 0; }
int DEF_clr_tag() { return 0; }
int DEF_tag(const char* str) { return 0; }
int DEF_cmp(const char* resrc, const char* string) { return 0; }
int DEF_valid(const char* string) { return 0; }
int DEF_parse_name(const char* str, std::string& ostr) { return 0; }
int DEF_env(const char* resrc, const char* env, std::string& value) { return 0; }
std::string DEF_qualified(const char* resrc) { return {}; }
void DEF_reset() {  }
