// Placeholder: replaced by the module implementation.
#include "files.h"
#include <cstdlib>
#include <type_traits>

int FILE_is_stdio(const char* file) { return 0; }
int FILE_fullpath(const char* filename) { return 0; }
int FILE_add_path_delim(std::string& path) { return 0; }
std::string& FILE_add_path(const char* path, const char* file, std::string& filename) { return filename; }
int FILE_add_user_path(const char* file, std::string& filename) { return 0; }
int FILE_exist(const char* file) { return 0; }
int FILE_is_dir(const char* file) { return 0; }
long FILE_size(const char* file) { return 0; }
int FILE_make_dir(std::string& dir, int flag) { return 0; }
FILE* FILE_open(const char* file, const char* access) { return nullptr; }
int FILE_close(FILE* stream) { return 0; }
int FILE_overwrite(const char* filename, int flag) { return 0; }
int FILE_set_name(std::string& type) { return 0; }
int FILE_set_name(const char* type) { return 0; }
int FILE_set_key(int key, const char* str) { return 0; }
int FILE_set_date(const Date* datim, std::string& out_file) { return 0; }
int FILE_hdr_set_date(const Date* datim, std::string& out_file) { return 0; }
int FILE_set_time(const Date& date) { return 0; }
int FILE_reset_time() { return 0; }
int FILE_get_date(Date* date) { return 0; }
int FILE_set_file(const char* file, std::string& out_file) { return 0; }
long FILE_set_current(const char* cur, std::string& filename) { return 0; }
int FILE_get_file_only(const char* prompt, std::string* outfile) { return 0; }
int FILE_list_file() { return 0; }
int FILE_first(const Date& datim) { return 0; }
int FILE_get_next(std::string& file) { return 0; }
long FILE_set_date_off(const Date& datim, long offset, std::string& out_file) { return 0; }
long FILE_num_hour() { return 0; }
long FILE_get_skip() { return 0; }
long FILE_get_offset() { return 0; }
FILE_state_view FILE_state() { return {}; }
const char* FILE_get_key(int key) { return nullptr; }
void FILE_reset() {  }
