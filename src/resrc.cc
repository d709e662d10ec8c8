// Placeholder: replaced by the module implementation.
#include "resrc.h"
#include <cstdlib>
#include <type_traits>

int RES_new(int index, const char* name, const char* data, DEF_convert cvt) { return 0; }
int RES_append(int index, const char* name, const char* data, DEF_convert cvt) { return 0; }
int RES_put(const char* name, const char* value) { return 0; }
const char* RES_get(const char* name) { return nullptr; }
int RES_getvals(const char* name, int* paramc, char*** paramv) { return 0; }
std::vector<std::string> RES_getvals(const char* name) { return {}; }
int RES_list() { return 0; }
int RES_setCL(int argc, char** argv) { return 0; }
const char* RES_get_prog() { return nullptr; }
std::string RES_get_progname() { return {}; }
const std::vector<const res_obj*> RES_nodes() { return {}; }
int RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd, DEF_convert cvt, void* out, int* num, int slot) { return 0; }
int RES_enter(RES_defobj* obj, res_type key) { return 0; }
int RES_init(int argc, char** argv, const res_type* res_key, const res_type* res_pos) { return 0; }
int RES_decode(const char* progname, const char* cls, int argc, char** argv, RES_defobj* def_table) { return 0; }
const std::vector<RES_defobj>& RES_get_table() { static std::remove_cvref_t<const std::vector<RES_defobj>&> v; return v; }
int RES_conv_data(const char* data, void* out, DEF_convert cvt) { return 0; }
int RES_set_device(const char* str) { return 0; }
int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos) { return 0; }
int RES_help_item(res_type res) { return 0; }
void RES_reset() {  }
