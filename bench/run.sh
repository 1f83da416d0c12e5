#!/usr/bin/env bash
# Prints ipconv's speed and memory figures on this machine:
#   conversion of 4 million lines against mawk and the cat floor,
#   peak memory on a 1 GiB input, and the walk against find.
# Usage: bench/run.sh [work-dir]   (needs about 4 GiB of free disk)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build/bench}
mkdir -p "$work"
cmake --preset default >/dev/null && cmake --build --preset default --target ipconv >/dev/null
ipconv=$top/build/default/ipconv

seconds() { # command... -> wall seconds of the best of three runs
  local best=999999 t
  for _ in 1 2 3; do
    /usr/bin/time -f %e -o "$work/time.txt" "$@" >/dev/null 2>&1
    t=$(tail -1 "$work/time.txt")
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$best"
}

# Each input lies in a directory of its own: the program walks the
# sub-directories of its search directory, and the tree below is not to
# be timed here.
mkdir -p "$work/lines" "$work/big"
input=$work/lines/lines.csv
[ -f "$input" ] || python3 "$top/bench/gen_input.py" 4000000 "$input"
size=$(stat -c %s "$input")
"$ipconv" "$input" >/dev/null
output=$work/lines/lines.IP
out_size=$(stat -c %s "$output")

t_ipconv=$(seconds "$ipconv" "$input")
t_mawk=$(seconds mawk -F, '{ n = $1 % 4294967296; if (n < 0) n += 4294967296;
  a = int(n / 16777216); b = int(n / 65536) % 256; c = int(n / 256) % 256; d = n % 256;
  printf "%s|Hex|%02X%02X%02X%02X|IP-decimal|%d.%d.%d.%d\n", $0, a, b, c, d, a, b, c, d > "'"$work"'/mawk.IP" }' "$input")
t_cat=$(seconds sh -c "cat '$output' > '$work/cat.copy'")
rm -f "$work/cat.copy" "$work/mawk.IP"

echo "conversion of 4,000,000 lines ($((size / 1048576)) MiB in, $((out_size / 1048576)) MiB out):"
awk -v t="$t_ipconv" -v m="$t_mawk" -v c="$t_cat" -v s="$size" 'BEGIN {
  printf "  ipconv   %6.2f s  %7.1f MB/s of input\n", t, s / 1e6 / t
  printf "  mawk     %6.2f s  (ipconv is %.1f times faster)\n", m, m / t
  printf "  cat      %6.2f s  (floor: ipconv takes %.2f times the cat of its output)\n", c, t / c }'

big=$work/big/big.csv
if [ ! -f "$big" ]; then
  : > "$big"
  while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$input" >> "$big"; done
fi
/usr/bin/time -f %M -o "$work/time.txt" "$ipconv" "$big" >/dev/null 2>&1
rss=$(tail -1 "$work/time.txt")
echo "peak memory converting $(( $(stat -c %s "$big") / 1048576 )) MiB: $((rss / 1024)) MiB ($rss KiB)"
rm -f "$work/big/big.IP"

tree=$work/tree
[ -d "$tree" ] || bash "$top/bench/gen_tree.sh" "$tree" 1000 100
t_walk=$(seconds "$ipconv" "$tree/*.nomatch")
t_find=$(seconds find "$tree" -iname '*.nomatch')
awk -v w="$t_walk" -v f="$t_find" 'BEGIN {
  printf "walk of 100,000 files in 1,000 directories, pattern matching nothing:\n"
  printf "  ipconv %.2f s, find -iname %.2f s (%.1f times find)\n", w, f, (f > 0 ? w / f : 0) }'
