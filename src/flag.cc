// Process flags and draw switches. Flags start at 0 and RES_init sets
// them all to the "not set" marker; switches start on.
#include "flag.h"

#include <cstdint>

namespace {

struct FlagState {
  int64_t flags[FLAG_COUNT] = {};
  int plot_it[PLOT_COUNT] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};
FlagState state;

bool valid(int flag) { return flag >= 0 && flag < FLAG_COUNT; }

// Switch 0 is the sum of the six text positions, 12 the sum of 0..11.
void recompute_plot() {
  int text = 0;
  for (int i = 1; i <= 6; ++i) text += state.plot_it[i];
  state.plot_it[0] = text;
  int all = 0;
  for (int i = 0; i <= 11; ++i) all += state.plot_it[i];
  state.plot_it[12] = all;
}

}  // namespace

int FLAG_get(int flag) { return valid(flag) ? static_cast<int>(state.flags[flag]) : 0; }

int FLAG_set(int flag, int value) {
  if (!valid(flag)) return -1;
  state.flags[flag] = value;
  return 0;
}

int FLAG_reset(int value) {
  for (auto& f : state.flags) f = value;
  return 0;
}

int FLAG_batch() { return state.flags[19] > 0 ? 1 : 0; }
int FLAG_help() { return state.flags[20] > 0 ? 1 : 0; }

int FLAG_setplot(int type, int val) {
  if (type < 0 || type >= PLOT_COUNT) return 0;
  state.plot_it[type] = val;
  if (type == 12)
    for (int i = 0; i <= 11; ++i) state.plot_it[i] = val;
  if (type == 0)
    for (int i = 1; i <= 6; ++i) state.plot_it[i] = val;
  recompute_plot();
  return 0;
}

int FLAG_resetplot(int val) {
  for (auto& p : state.plot_it) p = val;
  return 0;
}

int FLAG_getplot(int type) { return (type >= 0 && type < PLOT_COUNT) ? state.plot_it[type] : 0; }

void FLAG_state_reset() { state = FlagState{}; }
