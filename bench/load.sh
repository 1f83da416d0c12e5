#!/usr/bin/env bash
# Load figures of ipconv on this machine (too slow for every CI run):
#   100,000 small files in 1,000 directories converted in one run (files/s),
#   a 4 GiB input converted in one run (time and peak memory).
# Usage: bench/load.sh [work-dir]   (needs about 11 GiB of free disk; the
# 4 GiB input and its output are removed at the end, the tree is kept)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build/bench}
mkdir -p "$work"
cmake --preset default >/dev/null && cmake --build --preset default --target ipconv >/dev/null 2>&1
ipconv=$top/build/default/ipconv

# Wall seconds and peak resident KiB of one run: "seconds kib".
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "load: '$*' failed:" >&2; tail -5 "$work/stderr.txt" >&2; exit 1; }
  tail -1 "$work/time.txt"
}

# ---- Many small files ------------------------------------------------------
tree=$work/load-tree
[ -d "$tree" ] || bash "$top/bench/gen_tree.sh" "$tree" 1000 100
files=$(find "$tree" -name '*.csv' | wc -l)
best=999999
for _ in 1 2 3; do
  r=$(measure "$ipconv" "$tree/*.csv")
  t=${r% *}
  best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
done
converted=$(find "$tree" -name '*.IP' | wc -l)
[ "$converted" -eq "$files" ] || { echo "load: $converted of $files files converted" >&2; exit 1; }
awk -v n="$files" -v t="$best" 'BEGIN {
  printf "%d files in 1,000 directories: %.2f s, %.0f files/s (best of 3)\n", n, t, (t > 0 ? n / t : 0) }'

# ---- One 4 GiB input ----------------------------------------------------------
# In a directory of its own, so that the run walks nothing else.
mkdir -p "$work/lines" "$work/load-4g"
lines=$work/lines/lines.csv
[ -f "$lines" ] || python3 "$top/bench/gen_input.py" 4000000 "$lines"
big=$work/load-4g/load-4g.csv
out=$work/load-4g/load-4g.IP
trap 'rm -f "$big" "$out"' EXIT
: > "$big"
while [ "$(stat -c %s "$big")" -lt $((4 << 30)) ]; do cat "$lines" >> "$big"; done
in_size=$(stat -c %s "$big")
r=$(measure "$ipconv" "$big")
t=${r% *} kib=${r#* }
out_size=$(stat -c %s "$out")
in_lines=$(wc -l < "$big")
out_lines=$(wc -l < "$out")
[ "$in_lines" -eq "$out_lines" ] || { echo "load: $out_lines of $in_lines lines converted" >&2; exit 1; }
awk -v i="$in_size" -v o="$out_size" -v t="$t" -v k="$kib" -v n="$in_lines" 'BEGIN {
  printf "%.2f GiB input (%d lines) to %.2f GiB output: %.1f s, %.0f MB/s, peak memory %.1f MiB (%d KiB)\n",
         i / 2^30, n, o / 2^30, t, i / 1e6 / t, k / 1024, k }'
