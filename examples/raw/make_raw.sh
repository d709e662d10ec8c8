#!/bin/sh
# Rebuilds the two example raw data files from the real bulletins in
# tests/data (see README.txt here for where they come from):
#   2026120818.raw  ten products as the feed delivers them: SOH, sequence
#                   line, heading, CR CR LF line ends, ETX; byte for byte
#   2026120819.raw  ten other products rewritten in the "** " style: a line
#                   "** HEADING ***", then the product's lines from its
#                   second identification line on, with bare line feeds
# Run from anywhere: sh examples/raw/make_raw.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../../tests/data"
feed="$data/feed_concat_text.raw"

# The bytes of one component of the feed file, by its manifest row.
component() {
  row=$(grep "/$1	" "$data/feed_concat_text.manifest.tsv")
  offset=$(echo "$row" | cut -f2)
  length=$(echo "$row" | cut -f3)
  dd if="$feed" bs=1 skip="$offset" count="$length" 2>/dev/null
}

# One product in the "** " style: carriage returns dropped, the SOH and
# sequence lines replaced by the "** " line, nothing from the ETX on.
stars() {
  component "$1" | awk '
    { gsub(/\r/, "") }
    NR <= 2 { next }
    NR == 3 { print "** " $0 " ***"; next }
    /^\003/ { exit }
    { print }'
}

for name in TAF.txt METAR.txt collective.txt AFD.txt TOR.txt SEL.txt SPS.txt LSR.txt \
            SWOMCD.txt BOYCM7.txt; do
  component "$name"
done >"$here/2026120818.raw"

for name in CWA.txt PIREP.txt FFWTWC_tilde.txt FRWOUN.txt MCD.txt SIGC.txt SPE.txt WWP.txt \
            REROKC.txt collective2.txt; do
  stars "$name"
done >"$here/2026120819.raw"
