#!/usr/bin/env bash
# Times product_get against grep and cat on a generated data file with an
# up-to-date header file, page cache warm. Paired: in every round each
# product_get run is followed by its yardstick, and the figure is the
# median of the per-round ratios, which holds on a shared, noisy machine.
#   one heading   -pr '^SAUS70 KWBC' -ou text   / grep -c 'SAUS70 KWBC' DATA
#   list          -pr 'SAUS7[0-4] KWBC' -ou list / grep -E 'SAUS7[0-4] KWBC' HEADER
#   all text      -ou text >/dev/null            / cat DATA >/dev/null
# Then the peak memory of each, and of copying one product of 100 MB.
# Usage: bench/product_get_bench.sh [BYTES] [ROUNDS] (default 1 GiB, 15),
# after cmake --preset bench && cmake --build --preset bench
# The files live in a temporary directory under ${TMPDIR:-/tmp}, removed
# at the end. grep writes to a file: with its output on /dev/null it stops
# at the first match.
set -euo pipefail
bytes=${1:-1073741824}
rounds=${2:-15}
build=$(cd "$(dirname "$0")/.." && pwd)/build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/product_get_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/etc" "$work/raw" "$work/hdr"
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" >"$work/etc/name_conv"
data=$work/raw/2026010100.raw
header=$work/hdr/2026010100.hdr
"$build/bench/gen_raw" "$bytes" soh >"$data"
opts=(-ba -fp "$work/etc" -rp "$work/raw" -cp "$work/hdr" 2026010100.raw)
"$build/header_tool" -pf over "${opts[@]}"
pg=("$build/product_get" "${opts[@]}")
cat "$data" "$header" >/dev/null  # warm
echo "data $(stat -c %s "$data") bytes, header $(stat -c %s "$header") bytes, $(wc -l <"$header") records"
echo "one heading: $("${pg[@]}" -pr '^SAUS70 KWBC' -ou list | wc -l) products;" \
  "list: $("${pg[@]}" -pr 'SAUS7[0-4] KWBC' -ou list | wc -l) records"

source "$(dirname "$0")/paired.sh"
one_pg() { "${pg[@]}" -pr '^SAUS70 KWBC' -ou text >"$work/out"; }
one_grep() { grep -c 'SAUS70 KWBC' "$data" >"$work/out"; }
list_pg() { "${pg[@]}" -pr 'SAUS7[0-4] KWBC' -ou list >"$work/out"; }
list_grep() { grep -E 'SAUS7[0-4] KWBC' "$header" >"$work/out"; }
all_pg() { "${pg[@]}" >/dev/null; }
all_cat() { cat "$data" >/dev/null; }


for pair in one list all; do
  ratios=() times=()
  for ((r = 0; r < rounds; r++)); do
    a=$(elapsed "${pair}_pg")
    case $pair in one) b=$(elapsed one_grep) ;; list) b=$(elapsed list_grep) ;; all) b=$(elapsed all_cat) ;; esac
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN {print a / b}')")
    times+=("$(awk -v a="$a" 'BEGIN {print a / 1e9}')")
  done
  printf '%-12s ratio %s, product_get %s s\n' "$pair" \
    "$(printf '%s\n' "${ratios[@]}" | summary)" "$(printf '%s\n' "${times[@]}" | summary)"
done

for args in "-pr ^SAUS70.KWBC" "-pr SAUS7[0-4].KWBC -ou list" "-ou text"; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "peak memory, $args: %M KiB" "${pg[@]}" $args >/dev/null
done

# One product of 100 MB, copied in blocks.
big=$work/raw/2026010101.raw
{
  printf '\001\r\r\n001 \r\r\nSAUS70 KWBC 010000\r\r\nMETAR\r\r\n'
  (yes 'KWBC 010000Z 00000KT 10SM CLR 10/01 A3000 RMK AO2' | head -c 100000000) || true
  printf '\r\r\n\003'
} >"$big"
"$build/header_tool" -pf over -ba -fp "$work/etc" -rp "$work/raw" -cp "$work/hdr" 2026010101.raw
big_pg=("$build/product_get" -ba -fp "$work/etc" -rp "$work/raw" -cp "$work/hdr" 2026010101.raw)
/usr/bin/time -f "peak memory, one product of 100 MB: %M KiB" "${big_pg[@]}" >/dev/null
rm "$work/hdr/2026010101.hdr"
/usr/bin/time -f "peak memory, one product of 100 MB, no header file: %M KiB" "${big_pg[@]}" >/dev/null
