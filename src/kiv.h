// Types shared by every module of the library: the calendar record, the
// message level masks, the resource ids and conversion kinds, and the
// "not set" marker.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>

// Marks a number as not set throughout the system: unset Date fields,
// flags after start-up, the index of a free resource, unset Domain fields.
constexpr int NO_VALUE = -9999;

// The calendar record. All times are UTC.
struct Date {
  int32_t year = NO_VALUE;
  int32_t month = NO_VALUE;
  int32_t day = NO_VALUE;
  int32_t jday = NO_VALUE;  // day of the year, 1-based
  int32_t wday = NO_VALUE;  // day of the week, 0 is Sunday
  int32_t hour = NO_VALUE;
  int32_t min = NO_VALUE;
  int32_t sec = NO_VALUE;
};

// Message level mask: a message is shown when its mask shares a bit with
// the current level. The bits form eight groups of four: print, mess,
// out1..out4 and debug own a group each, while error and warn share one
// (error its lower two bits, warn its upper two). The a..d sub-levels pick
// one bit of every group, so errorc, errord, warna and warnb are empty.
using M_type = uint32_t;

constexpr M_type M_none = 0x00000000;
constexpr M_type M_print = 0x0000000f;
constexpr M_type M_error = 0x00000030;
constexpr M_type M_warn = 0x000000c0;
constexpr M_type M_mess = 0x00000f00;
constexpr M_type M_out1 = 0x0000f000;
constexpr M_type M_out2 = 0x000f0000;
constexpr M_type M_out3 = 0x00f00000;
constexpr M_type M_out4 = 0x0f000000;
constexpr M_type M_debug = 0xf0000000;

constexpr M_type M_sub_a = 0x11111111;
constexpr M_type M_sub_b = 0x22222222;
constexpr M_type M_sub_c = 0x44444444;
constexpr M_type M_sub_d = 0x88888888;

constexpr M_type M_printa = M_print & M_sub_a, M_printb = M_print & M_sub_b,
                 M_printc = M_print & M_sub_c, M_printd = M_print & M_sub_d;
constexpr M_type M_errora = M_error & M_sub_a, M_errorb = M_error & M_sub_b;
constexpr M_type M_warnc = M_warn & M_sub_c, M_warnd = M_warn & M_sub_d;
constexpr M_type M_messa = M_mess & M_sub_a, M_messb = M_mess & M_sub_b,
                 M_messc = M_mess & M_sub_c, M_messd = M_mess & M_sub_d;
constexpr M_type M_out1a = M_out1 & M_sub_a, M_out1b = M_out1 & M_sub_b,
                 M_out1c = M_out1 & M_sub_c, M_out1d = M_out1 & M_sub_d;
constexpr M_type M_out2a = M_out2 & M_sub_a, M_out2b = M_out2 & M_sub_b,
                 M_out2c = M_out2 & M_sub_c, M_out2d = M_out2 & M_sub_d;
constexpr M_type M_out3a = M_out3 & M_sub_a, M_out3b = M_out3 & M_sub_b,
                 M_out3c = M_out3 & M_sub_c, M_out3d = M_out3 & M_sub_d;
constexpr M_type M_out4a = M_out4 & M_sub_a, M_out4b = M_out4 & M_sub_b,
                 M_out4c = M_out4 & M_sub_c, M_out4d = M_out4 & M_sub_d;
constexpr M_type M_debuga = M_debug & M_sub_a, M_debugb = M_debug & M_sub_b,
                 M_debugc = M_debug & M_sub_c, M_debugd = M_debug & M_sub_d;

// Conversion kind of a resource value.
enum DEF_convert {
  CV_none = 0,
  CV_bool = 1,
  CV_int = 2,
  CV_short = 3,
  CV_long = 4,
  CV_float = 5,
  CV_string = 6,
  CV_strcpy = 7,
  CV_path = 8,
  CV_mess = 9,
  CV_draw = 10,
  CV_current = 11,
  CV_hour = 12,
  CV_region = 13,
  CV_name = 14,
  CV_ingestor = 15,
  CV_file_param = 16,
  CV_device = 17,
  CV_plot_type = 18,
  CV_color = 19,
  CV_domain = 20,
  CV_strings = 21,
  CV_batch = 22,
  CV_help = 23,
};

// Identifiers of the standard resources. Lists of ids end with RES_null.
enum res_type {
  RES_null = 0, RES_age = 1, RES_background = 2, RES_batch = 3,
  RES_bin_path = 4, RES_bull_file = 5, RES_city_file = 6,
  RES_color_cgrid = 7, RES_color_clabel = 8, RES_color_cloud = 9,
  RES_color_cmap = 10, RES_color_cont = 11, RES_color_conts = 12,
  RES_color_data = 13, RES_color_echo = 14, RES_color_fill = 15,
  RES_color_front = 16, RES_color_grid = 17, RES_color_hodo = 18,
  RES_color_hodtxt = 19, RES_color_label = 20, RES_color_labels = 21,
  RES_color_line = 22, RES_color_map = 23, RES_color_pop = 24,
  RES_color_rep = 25, RES_color_sound = 26, RES_color_table = 27,
  RES_color_text = 28, RES_color_therm = 29, RES_color_thrmtxt = 30,
  RES_color_wind = 31, RES_color_wx = 32, RES_command = 33,
  RES_commands = 34, RES_con_base = 35, RES_con_bases = 36,
  RES_con_interval = 37, RES_con_intervals = 38, RES_con_path = 39,
  RES_current = 40, RES_data_path = 41, RES_data_src = 42,
  RES_default = 43, RES_draw = 44, RES_decode_hour = 45, RES_device = 46,
  RES_file_param = 47, RES_file_path = 48, RES_filename = 49,
  RES_filenames = 50, RES_font_list = 51, RES_forecast = 52,
  RES_geometry = 53, RES_grid_num = 54, RES_grid_path = 55,
  RES_grid_type = 56, RES_help = 57, RES_hour = 58, RES_icon = 59,
  RES_identifier = 60, RES_identifiers = 61, RES_identifierp = 62,
  RES_image_path = 63, RES_in_file = 64, RES_in_files = 65,
  RES_ingest_port = 66, RES_ingestor = 67, RES_input = 68, RES_label = 69,
  RES_labels = 70, RES_level = 71, RES_map_file = 72, RES_message = 73,
  RES_model = 74, RES_name = 75, RES_name_conv = 76, RES_num_grid = 77,
  RES_num_hour = 78, RES_object_param = 79, RES_out_file = 80,
  RES_out_files = 81, RES_output = 82, RES_parameter = 83,
  RES_plot_domain = 84, RES_plot_format = 85, RES_plot_param = 86,
  RES_plot_range = 87, RES_plot_scale = 88, RES_plot_type = 89,
  RES_plot_types = 90, RES_position = 91, RES_product = 92,
  RES_program = 93, RES_raw_path = 94, RES_read_conf = 95, RES_region = 96,
  RES_save_param = 97, RES_stat_prior = 98, RES_state = 99, RES_table = 100,
  RES_time = 101, RES_title = 102, RES_unit = 103, RES_values = 104,
  RES_variable = 105, RES_watch_path = 106, RES_window_num = 107,
  RES_color_watch = 108, RES_log_file = 109, RES_grid_domain = 110,
  RES_inputg = 111, RES_text_path = 112, RES_model_path = 113,
  RES_sat_path = 114, RES_newest = 115, RES_header_cache = 116, RES_timeout = 117,
};

// Process flags with a fixed meaning (see flag.h).
constexpr int FLAG_DEVICE = 2;
constexpr int FLAG_DOMAIN = 5;
constexpr int FLAG_PLOT_TYPE = 11;
constexpr int FLAG_FILE_PARAM = 15;
constexpr int FLAG_BATCH = 19;
constexpr int FLAG_HELP = 20;

// What becomes of an output file: FILE_overwrite's answer, the overwrite
// policy flag's value and the header generator's mode are one decision.
constexpr int FILE_UNDECIDED = 0;  // the question asked was not known
constexpr int FILE_NEW = 1;        // written anew
constexpr int FILE_APPEND = 2;     // appended to
constexpr int FILE_KEEP = 3;       // left as it is
// Which question FILE_overwrite may ask at a terminal.
constexpr int FILE_ASK = 1;         // "(Y,N,Use,Over)"
constexpr int FILE_ASK_APPEND = 2;  // "(Y,N,Use,Over,App)"

// Exit statuses.
constexpr int EXIT_NO_DATA_FILE = 3;  // a run found no data file at all
constexpr int EXIT_QUEUE_TIMEOUT = 7;
constexpr int EXIT_HEADER_UNWRITABLE = 12;

// How a step that reads or writes files ended: `code` 0 when it went well
// (`count` then says how much it did), else the step's own failure code
// with its reason: `error`, the errno of the system call that failed, or
// `text`, a reason of our own where no call failed.
struct Outcome {
  int code = 0;
  int error = 0;
  const char* text = nullptr;
  long count = 0;

  bool ok() const { return code == 0; }
  // The reason, for messages: "Input/output error" when none was kept.
  const char* reason() const { return text != nullptr ? text : std::strerror(error != 0 ? error : EIO); }
  // The failure `code` for the errno `err`.
  static Outcome failed(int code, int err) { return {code, err != 0 ? err : EIO, nullptr, 0}; }
  // The failure `code` for a reason of our own.
  static Outcome refused(int code, const char* why) { return {code, 0, why, 0}; }
  // Success after `count` of what the step does.
  static Outcome done(long count) { return {0, 0, nullptr, count}; }
};
