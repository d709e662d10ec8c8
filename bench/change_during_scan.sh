#!/usr/bin/env bash
# Runs header_tool on a large data file while another process cuts it or
# rewrites it in place at a random moment of the scan, and counts the runs
# that did not end normally (a mapped file, for instance, dies of SIGBUS).
# Usage: bench/change_during_scan.sh TOOL [RUNS] [MIB] [DIR]
set -u
tool=${1:?usage: change_during_scan.sh TOOL [RUNS] [MIB] [DIR]}
runs=${2:-100}
mib=${3:-512}
dir=$(mktemp -d "${4:-/tmp}/change_scan.XXXXXX")
trap 'rm -rf "$dir"' EXIT
here=$(cd "$(dirname "$0")/.." && pwd)
gen=${GEN_RAW:-$here/build/bench/bench/gen_raw}
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" > "$dir/name_conv"
"$gen" $((mib << 20)) soh > "$dir/orig.raw"
bad=0
for ((i = 1; i <= runs; i++)); do
  cp "$dir/orig.raw" "$dir/2026120818.raw"
  "$tool" -ba -pf over -fp "$dir" -rp "$dir" -cp "$dir" 2026120818.raw 2>/dev/null &
  pid=$!
  sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
  if ((i % 2)); then
    truncate -s $((RANDOM * 1000)) "$dir/2026120818.raw"   # cut
  else
    cp "$dir/orig.raw" "$dir/2026120818.raw"               # rewritten in place
  fi
  wait "$pid"
  status=$?
  if ((status != 0)); then
    bad=$((bad + 1))
    echo "run $i: status $status"
  fi
done
echo "$bad of $runs runs did not end normally"
