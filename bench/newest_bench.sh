#!/usr/bin/env bash
# Times product_get's newest product over a day of hourly files with
# up-to-date header files, page cache warm. Paired: in every round each
# product_get run is followed by its yardstick, and the figure is the
# median of the per-round ratios, which holds on a shared, noisy machine.
#   day       -id '^AFD...' -ne 1 -nh -23 (24 files) / grep -c '^AFD...' over the 24 files
#   one file  the same                               / the same on the newest file alone
# Usage: bench/newest_bench.sh [BYTES] [FILES] [ROUNDS] (default 40 MB, 24,
# 15), after cmake --preset bench && cmake --build --preset bench
# The files live in a temporary directory under ${TMPDIR:-/tmp}, removed
# at the end. grep writes to a file: with its output on /dev/null it stops
# at the first match.
set -euo pipefail
bytes=${1:-40000000}
files=${2:-24}
rounds=${3:-15}
build=$(cd "$(dirname "$0")/.." && pwd)/build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/newest_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/etc" "$work/raw" "$work/hdr"
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" >"$work/etc/name_conv"
names=()
for ((h = 0; h < files; h++)); do
  name=$(printf '202601%02d%02d.raw' $((1 + h / 24)) $((h % 24)))
  "$build/bench/gen_raw" "$bytes" soh $((h + 1)) >"$work/raw/$name"
  names+=("$name")
done
newest=${names[files - 1]}
paths=(-ba -fp "$work/etc" -rp "$work/raw" -cp "$work/hdr")
"$build/header_tool" -pf over "${paths[@]}" "${names[@]}"
cat "$work"/raw/* "$work"/hdr/* >/dev/null  # warm
day=("$build/product_get" "${paths[@]}" -ou list -id '^AFD...' -ne 1 -nh "-$((files - 1))" "$newest")
one=("$build/product_get" "${paths[@]}" -ou list -id '^AFD...' -ne 1 "$newest")
all=("$build/product_get" "${paths[@]}" -ou list -id '^AFD...')
echo "$files files of $bytes bytes; $("${all[@]}" -nh "-$((files - 1))" "$newest" | wc -l) products with" \
  "-id '^AFD...', $("${all[@]}" "$newest" | wc -l) in the newest file; the newest one:"
"${day[@]}"

source "$(dirname "$0")/paired.sh"
day_pg() { "${day[@]}" >"$work/out"; }
day_grep() { (cd "$work/raw" && grep -c '^AFD...' "${names[@]}" >"$work/out"); }
one_pg() { "${one[@]}" >"$work/out"; }


# "one": the newest file alone.
for pair in grep one; do
  ratios=() a_s=() b_s=()
  for ((r = 0; r < rounds; r++)); do
    a=$(elapsed day_pg)
    case $pair in grep) b=$(elapsed day_grep) ;; one) b=$(elapsed one_pg) ;; esac
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN {print a / b}')")
    a_s+=("$(awk -v a="$a" 'BEGIN {print a / 1e9}')")
    b_s+=("$(awk -v b="$b" 'BEGIN {print b / 1e9}')")
  done
  printf 'day vs %-5s ratio %s; day %s s, %s %s s\n' "$pair" "$(printf '%s\n' "${ratios[@]}" | summary 4)" \
    "$(printf '%s\n' "${a_s[@]}" | summary 4)" "$pair" "$(printf '%s\n' "${b_s[@]}" | summary 4)"
done
/usr/bin/time -f "day: peak memory %M KiB" "${day[@]}" >/dev/null
