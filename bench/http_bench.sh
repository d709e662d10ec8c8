#!/usr/bin/env bash
# Times the http module against curl on a generated data file served by
# lighttpd on 127.0.0.1, page cache warm. Paired: in every round each
# module run is followed by curl's, and the figure is the median of the
# per-round ratios, which holds on a shared, noisy machine.
#   one range   http_fetch range URL R  / curl -r R URL    (one product)
#   whole file  http_fetch whole URL    / curl URL         (pulled in blocks)
# Then the cost of a request in bytes (http_fetch gap), which the merge
# gap is chosen from.
# Usage: bench/http_bench.sh [BYTES] [ROUNDS] (default 1 GiB, 15; the
# whole file gets a third of the rounds), after
# cmake --preset bench && cmake --build --preset bench
# The files live in a temporary directory under ${TMPDIR:-/tmp}, removed
# at the end with the server.
set -euo pipefail
bytes=${1:-1073741824}
rounds=${2:-15}
build=$(cd "$(dirname "$0")/.." && pwd)/build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/http_bench.XXXXXX")
server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
mkdir -p "$work/etc" "$work/www" "$work/hdr"
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" >"$work/etc/name_conv"
data=$work/www/2026010100.raw
"$build/bench/gen_raw" "$bytes" soh >"$data"
"$build/header_tool" -ba -pf over -fp "$work/etc" -rp "$work/www" -cp "$work/hdr" 2026010100.raw

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
CONF
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
"$lighttpd" -D -f "$work/lighttpd.conf" &
server=$!
until curl -s -o /dev/null "http://127.0.0.1:$port/"; do sleep 0.1; done
url=http://127.0.0.1:$port/2026010100.raw

# One product from the middle of the file: from the line feed before its
# heading to the next record's.
read -r first last < <(awk 'NR == n { f = $1 } NR == n + 1 { print f + 1, $1; exit }' \
  n=$(($(wc -l <"$work/hdr/2026010100.hdr") / 2)) "$work/hdr/2026010100.hdr")
range=$first-$last
cat "$data" >/dev/null  # warm
echo "data $(stat -c %s "$data") bytes, page cache warm; one range $range ($((last - first + 1)) bytes)"
cmp <("$build/bench/http_fetch" range "$url" "$range") <(curl -s -r "$range" "$url")

source "$(dirname "$0")/paired.sh"

pair() {  # name rounds "module command" "curl command"
  local name=$1 n=$2 ratios=() times=() a b
  for ((r = 0; r < n; r++)); do
    a=$(elapsed_quiet $3)
    b=$(elapsed_quiet $4)
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN {print a / b}')")
    times+=("$(awk -v a="$a" 'BEGIN {print a / 1e9}')")
  done
  printf '%-11s ratio %s, module %s s\n' "$name" \
    "$(printf '%s\n' "${ratios[@]}" | summary)" "$(printf '%s\n' "${times[@]}" | summary)"
}
pair "one range" "$rounds" "$build/bench/http_fetch range $url $range" "curl -s -r $range $url"
pair "whole file" $(((rounds + 2) / 3)) "$build/bench/http_fetch whole $url" "curl -s $url"
/usr/bin/time -f "peak memory, whole file: %M KiB" "$build/bench/http_fetch" whole "$url" >/dev/null

echo "two ranges of 1 KiB, one request against two:"
"$build/bench/http_fetch" gap "$url"
