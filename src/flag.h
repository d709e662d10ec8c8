// Process flags: 30 numeric slots shared by all modules, and the 13
// draw-component switches.
#pragma once

constexpr int FLAG_COUNT = 30;
constexpr int PLOT_COUNT = 13;

int FLAG_get(int flag);
int FLAG_set(int flag, int value);
int FLAG_reset(int value);
int FLAG_batch();
int FLAG_help();
int FLAG_setplot(int type, int val);
int FLAG_resetplot(int val);
int FLAG_getplot(int type);

// Back to the start-up state: flags 0, switches 1 (for tests).
void FLAG_state_reset();
