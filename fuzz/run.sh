#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour
# sanitizers) and runs each for the given number of seconds.
#   fuzz/run.sh [seconds] [target...]
# New inputs go to build/fuzz/corpus/<target> (not kept); every crash is
# copied into fuzz/corpus/<target>/, which the normal test run replays.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scanner def_read template current mess_options hour domain)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

for t in "${targets[@]}"; do
  work=$PWD/build/fuzz/corpus/$t
  artifacts=$PWD/build/fuzz/artifacts/$t
  rm -rf "$artifacts"
  mkdir -p "$work" "$artifacts"
  echo "== $t: ${seconds}s"
  status=0
  build/fuzz/fuzz/fuzz_$t "$work" "$PWD/fuzz/corpus/$t" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" -print_final_stats=1 \
      </dev/null 2>"build/fuzz/$t.log" || status=$?
  grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec|^#[0-9]+.*DONE' \
      "build/fuzz/$t.log" || true
  for crash in "$artifacts"/*; do
    [ -e "$crash" ] || continue
    cp "$crash" "fuzz/corpus/$t/"
    echo "   kept $(basename "$crash") in fuzz/corpus/$t"
  done
  [ $status -eq 0 ] || echo "   $t stopped with status $status: see build/fuzz/$t.log"
done
