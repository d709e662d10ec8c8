// Placeholder: replaced by the module implementation.
#include "par_tool.h"
#include <cstdlib>
#include <type_traits>

int PAR_in_file(const char* in) { return 0; }
int PAR_lookup(std::string& product, std::string& infile) { return 0; }
const PAR_options& PAR_get_options() { static std::remove_cvref_t<const PAR_options&> v; return v; }
void PAR_reset() {  }
