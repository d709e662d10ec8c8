# What the paired benchmarks share; sourced, never run.

# Nanoseconds that the command takes; its output goes where the caller's
# goes.
elapsed() {
  local t0 t1
  t0=$(date +%s%N)
  "$@"
  t1=$(date +%s%N)
  echo $((t1 - t0))
}
# The command with its output thrown away.
quiet() { "$@" >/dev/null; }
# Nanoseconds that the command takes, its output thrown away.
elapsed_quiet() { elapsed quiet "$@"; }
# The median, lowest and highest of the numbers on standard input, with
# DIGITS decimals (default 3).
summary() {
  sort -g | awk -v d="${1:-3}" '{v[NR] = $1}
    END {f = "%." d "f"; printf f " (" f "-" f ")", v[int((NR + 1) / 2)], v[1], v[NR]}'
}
