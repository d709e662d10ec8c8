// Leveled messages: every user-visible text goes through MESS_print.
#pragma once

#include "kiv.h"

// oper 0/10/20 set (filling lower bits), 1/11/21 add, -1/9/19 remove.
// oper <= 4 counts as an explicit setting; oper >= 16 is ignored once an
// explicit setting was made.
int MESS_set(int oper, M_type level);
int MESS_check_set();
int MESS_check(M_type level);
// Formats and sends the message: log destinations, then standard error
// for error/warn masks and standard output for the rest. Returns 1 when
// shown on the screen.
int MESS_print(M_type type, const char* mess, ...) __attribute__((format(printf, 2, 3)));

// Message option string: level words, log files, paging.
int MESS_set_str(const char* str);
int MESS_hold(M_type type, const char* mess);
int MESS_print_prog(const char* string);

// Current level, and a return to the start-up state (for tests).
M_type MESS_get_level();
void MESS_reset();
