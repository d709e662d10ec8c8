#!/usr/bin/env bash
# Times product_get over HTTP against curl on a generated data file with
# an up-to-date header file, both served by lighttpd on 127.0.0.1, page
# cache warm, header file cached. Paired: in every round each product_get
# run is followed by curl's, and the figure is the median of the per-round
# ratios, which holds on a shared, noisy machine.
#   one heading  -pr '^HEADING$' (one product)  / curl -r FIRST-LAST (its range)
#   everything   -ou text, no pattern           / curl of the whole data file
# Then, from lighttpd's access log, the requests and bytes of one heading,
# and of one heading after the data file grew by 1 MB and its header file
# with it.
# Usage: bench/product_get_http_bench.sh [BYTES] [ROUNDS] (default 1 GiB,
# 15; everything gets a third of the rounds), after
# cmake --preset bench && cmake --build --preset bench
# The files live in a temporary directory under ${TMPDIR:-/tmp}, removed
# at the end with the server.
set -euo pipefail
bytes=${1:-1073741824}
rounds=${2:-15}
build=$(cd "$(dirname "$0")/.." && pwd)/build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/product_get_http_bench.XXXXXX")
server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 XDG_CACHE_HOME=$work/cache
mkdir -p "$work/etc" "$work/www/raw" "$work/www/hdr"
echo "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0" >"$work/etc/name_conv"
data=$work/www/raw/2026010100.raw
header=$work/www/hdr/2026010100.hdr
"$build/bench/gen_raw" "$bytes" soh >"$data"
index=("$build/header_tool" -ba -fp "$work/etc" -rp "$work/www/raw" -cp "$work/www/hdr" 2026010100.raw)
"${index[@]}" -pf over

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
log=$work/access.log
cat >"$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
server.stat-cache-engine = "disable"
server.modules = ("mod_accesslog")
accesslog.filename = "|exec /bin/cat >>$log"
accesslog.format = "%m %U %>s %b %{Range}i"
CONF
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
"$lighttpd" -D -f "$work/lighttpd.conf" &
server=$!
url=http://127.0.0.1:$port
until curl -s -o /dev/null "$url/"; do sleep 0.1; done

# A heading that stands once, in the middle of the file.
heading=$(awk -F' / ' '{ sub(/^ *[0-9]+ /, "", $1); n[$1]++; line[NR] = $1 }
  END { for (i = int(NR / 2); i <= NR; i++) if (n[line[i]] == 1) { print line[i]; exit } }' "$header")
pg=("$build/product_get" -ba -fp "$work/etc" -rp "$url/raw" -cp "$url/hdr" 2026010100.raw)
one=(-pr "^$heading\$")
read -r _ range < <("${pg[@]}" "${one[@]}" -ou ranges)
cat "$data" "$header" >/dev/null  # warm
"${pg[@]}" "${one[@]}" >/dev/null  # the header file cached
cmp <("${pg[@]}" "${one[@]}") <(curl -s -r "$range" "$url/raw/2026010100.raw")
echo "data $(stat -c %s "$data") bytes, header $(stat -c %s "$header") bytes, page cache warm, header cached;" \
  "one heading: $heading, $range ($((${range#*-} - ${range%-*} + 1)) bytes)"

# The requests that `command` makes, and the bytes sent for them.
requests() {
  sleep 0.2
  : >"$log"
  "$@" >/dev/null
  sleep 0.2  # lighttpd logs after it answered
  awk '{ n++; b += $4; print "    " $0 } END { printf "    %d requests, %d bytes\n", n, b }' "$log"
}
echo "one heading, requests:"
requests "${pg[@]}" "${one[@]}"

source "$(dirname "$0")/paired.sh"

one_pg() { "${pg[@]}" "${one[@]}"; }
one_curl() { curl -s -r "$range" "$url/raw/2026010100.raw"; }
all_pg() { "${pg[@]}" -ou text; }
all_curl() { curl -s "$url/raw/2026010100.raw"; }
pair() {  # name rounds
  local name=$1 n=$2 ratios=() times=() a b
  for ((r = 0; r < n; r++)); do
    a=$(elapsed_quiet "${name}_pg")
    b=$(elapsed_quiet "${name}_curl")
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN {print a / b}')")
    times+=("$(awk -v a="$a" 'BEGIN {print a / 1e9}')")
  done
  printf '%-11s ratio %s, product_get %s s\n' "$name" \
    "$(printf '%s\n' "${ratios[@]}" | summary)" "$(printf '%s\n' "${times[@]}" | summary)"
}
pair one "$rounds"
pair all $(((rounds + 2) / 3))
cmp <(all_pg) "$data" || echo "everything: not the whole file (a last product not complete is left out)"

# The data file grows by 1 MB of products and its header file with them.
"$build/bench/gen_raw" 1000000 soh 2 >>"$data"
before=$(stat -c %s "$header")
"${index[@]}" -pf app
echo "after the data file grew by 1 MB and its header file by $(($(stat -c %s "$header") - before)) bytes:"
requests "${pg[@]}" "${one[@]}"
