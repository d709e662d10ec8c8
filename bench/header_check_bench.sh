#!/usr/bin/env bash
# Times header_check against a rewrite of the same header by header_tool on
# a generated data file, and shows both peak memories.
# Usage: bench/header_check_bench.sh [BYTES] (default 1 GiB), after
#   cmake --preset bench && cmake --build --preset bench
# The generated files live in a temporary directory removed at the end.
set -euo pipefail
bytes=${1:-1073741824}
build=$(cd "$(dirname "$0")/.." && pwd)/build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/etc" "$work/raw" "$work/hdr"
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" >"$work/etc/name_conv"
"$build/bench/gen_raw" "$bytes" soh >"$work/raw/2026010100.raw"
opts=(-ba -fp "$work/etc" -rp "$work/raw" -cp "$work/hdr" 2026010100.raw)
"$build/header_tool" -pf over "${opts[@]}"
echo "data $(stat -c %s "$work/raw/2026010100.raw") bytes, header $(wc -l <"$work/hdr/2026010100.hdr") records"
for run in 1 2 3; do
  for cmd in "header_tool -pf over" "header_check"; do
    read -r tool extra <<<"$cmd"
    /usr/bin/time -f "$cmd: %e s wall, %M KiB peak" "$build/$tool" $extra "${opts[@]}" >/dev/null
  done
done
