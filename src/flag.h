// Process flags: 30 numeric slots shared by all modules, and the 13
// draw-component switches. Flags start at 0 (RES_init sets them to
// NO_VALUE), switches at 1.
#pragma once

constexpr int FLAG_COUNT = 30;
constexpr int PLOT_COUNT = 13;

// The value of flag `flag`, or 0 for a number outside 0..29.
int FLAG_get(int flag);
// Sets flag `flag`. Returns 0, or -1 for a number outside 0..29.
int FLAG_set(int flag, int value);
// Sets every flag to `value`. Returns 0.
int FLAG_reset(int value);
// 1 when the batch flag (FLAG_BATCH) is positive, else 0.
int FLAG_batch();
// 1 when the help flag (FLAG_HELP) is positive, else 0.
int FLAG_help();
// Sets switch `type` (0..12; others are ignored): 0 sets the six text
// switches 1..6 too, 12 every switch; switch 0 then holds the sum of 1..6
// and switch 12 the sum of 0..11. Returns 0.
int FLAG_setplot(int type, int val);
// Sets every switch to `val`, without sums. Returns 0.
int FLAG_resetplot(int val);
// The value of switch `type`, or 0 outside 0..12.
int FLAG_getplot(int type);

// Back to the start-up state: flags 0, switches 1 (for tests).
void FLAG_state_reset();
