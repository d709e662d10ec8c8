// Leveled messages: every user-visible text goes through MESS_print.
//
// Module state: the level mask (out2 at start-up), the count of explicit
// settings, the log stream and its mode, and the paging mode and count.
#pragma once

#include "kiv.h"

// Operation codes of MESS_set. Set makes the level the mask with every bit
// below its highest also set; add and remove change only the mask's bits.
// The plain codes count as an explicit setting; the quiet ones change the
// level without counting; the default ones apply only while nothing was
// set explicitly.
constexpr int MESS_SET = 0, MESS_ADD = 1, MESS_REMOVE = -1;
constexpr int MESS_SET_QUIET = 10, MESS_ADD_QUIET = 11, MESS_REMOVE_QUIET = 9;
constexpr int MESS_SET_DEFAULT = 20, MESS_ADD_DEFAULT = 21, MESS_REMOVE_DEFAULT = 19;

// Changes the level mask by `level` as the operation code `oper` says;
// other codes change nothing (a code up to 4 still counts as a setting).
// Returns 0.
int MESS_set(int oper, M_type level);
// The number of explicit settings so far (0: the level is a default).
int MESS_check_set();
// 1 when `level` shares a bit with the level mask, else 0.
int MESS_check(M_type level);
// Formats the message printf-style and, when its level is shown, sends it
// to the log stream (if any), then to standard error for error and warn
// masks or to standard output for the rest (not in log-only mode); with
// paging on, holds after every page. Returns 1 when shown on the screen.
int MESS_print(M_type type, const char* mess, ...) __attribute__((format(printf, 2, 3)));

// Applies a message option string: comma-separated level words ("warn",
// "+out1", "-mess", "debugc": a trailing a..d picks a sub-level), log
// files ("@fi:NAME" time-stamped log and screen, "+fi:" append and screen,
// "-fi:" new log and screen, "fi:" log only, "dfi:" opened for every
// message), "page", "nopage", "line:N" (page length, 22 by default).
// A word that is none of these is warned ("Unknown message level: %s",
// before it is applied) and then applied as a level word with the empty
// mask. Counts as an explicit setting. Returns 0.
int MESS_set_str(const char* str);
// Shows `mess` and waits for a key: on standard error when `type` has a
// bit of error and a bit of warn, else on standard output (a plain error
// or warn mask included); does nothing when
// `type` is not shown, in log-only mode, in batch mode or with "nopage".
// Restarts the page count. Returns 0.
int MESS_hold(M_type type, const char* mess);
// Prints the banner "      TITLE (Ver VERSION)" and a blank line at
// level mess. Returns 0.
int MESS_print_prog(const char* string);

// Current level, and a return to the start-up state (for tests).
M_type MESS_get_level();
void MESS_reset();
