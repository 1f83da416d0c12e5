#!/usr/bin/env bash
# Prints ipconv's speed and memory figures on this machine:
#   conversion of 4 million lines against the cat of its output (into a
#   fresh output, and over an existing one) and against mawk; the same lines
#   as 8-bit and as UTF-16 text (MB/s of input, ns a line, side by side),
#   20,000 small files converted with one thread and with the default
#   number of threads (files per second, the ratio, system calls per file),
#   peak memory on a 1 GiB input, and the walk against find.
# Usage: bench/run.sh [work-dir]   (needs about 6 GiB of free disk)
# IPCONV=path/to/ipconv measures that binary instead of this tree's build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build/bench}
mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ -z "${IPCONV:-}" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target ipconv convert_lines >/dev/null
fi
ipconv=${IPCONV:-$top/build/default/ipconv}
pairs=9
unset IPCONV_JOBS  # the default number of threads is one of the figures

now() { echo "${EPOCHREALTIME/,/.}"; }
# Wall seconds of one run of a command, its output thrown away.
wall() {
  local t0 t1
  t0=$(now)
  "$@" >/dev/null 2>&1
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Wall seconds of the best of three runs (figures that are no ratio).
seconds() {
  local best=999999 t
  for _ in 1 2 3; do
    t=$(wall "$@")
    best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}
copy_output() { cat "$output" > "$copy"; }

# Each input lies in a directory of its own: the program walks the
# sub-directories of its search directory, and the tree below is not to
# be timed here.
mkdir -p "$work/lines" "$work/big" "$work/copy"
input=$work/lines/lines.csv
[ -f "$input" ] || python3 "$top/bench/gen_input.py" 4000000 "$input"
size=$(stat -c %s "$input")
output=$work/lines/lines.IP
copy=$work/copy/cat.copy
"$ipconv" "$input" >/dev/null
out_size=$(stat -c %s "$output")

# ipconv against the cat of its output, in alternating pairs, so that both
# sides meet the same state of the machine. fresh: neither output exists
# before its run; existing: both replace the output of their last run.
ratio_runs() { # fresh|existing -> "ipconv-median cat-median ratio-median"
  local mode=$1 ti tc
  : > "$work/pairs.txt"
  "$ipconv" "$input" >/dev/null 2>&1
  copy_output
  for ((i = 0; i < pairs; i++)); do
    [ "$mode" = fresh ] && rm -f "$output"
    ti=$(wall "$ipconv" "$input")
    [ "$mode" = fresh ] && rm -f "$copy"
    tc=$(wall copy_output)
    echo "$ti $tc" >> "$work/pairs.txt"
  done
  echo "$(awk '{ print $1 }' "$work/pairs.txt" | median)" \
       "$(awk '{ print $2 }' "$work/pairs.txt" | median)" \
       "$(awk '{ print $1 / $2 }' "$work/pairs.txt" | median)"
}
read -r fi fc fr <<< "$(ratio_runs fresh)"
read -r ei ec er <<< "$(ratio_runs existing)"
rm -f "$copy"

# The same lines as UTF-16 text (little-endian, with its byte-order mark),
# converted in that encoding.
mkdir -p "$work/lines16"
input16=$work/lines16/lines.csv
output16=$work/lines16/lines.IP
if [ ! -f "$input16" ] || [ "$input" -nt "$input16" ]; then
  python3 -c 'import sys
with open(sys.argv[1], "rb") as text, open(sys.argv[2], "wb") as units:
    units.write(b"\xff\xfe")
    for block in iter(lambda: text.read(1 << 24), b""):
        units.write(block.decode("latin-1").encode("utf-16-le"))' "$input" "$input16"
fi
size16=$(stat -c %s "$input16")
# Wall time of each text, fresh outputs, in alternating pairs.
: > "$work/widths.txt"
for ((i = 0; i < pairs; i++)); do
  rm -f "$output" "$output16"
  t8=$(wall "$ipconv" "$input")
  t16=$(wall "$ipconv" "$input16")
  echo "$t8 $t16" >> "$work/widths.txt"
done
w8=$(awk '{ print $1 }' "$work/widths.txt" | median)
w16=$(awk '{ print $2 }' "$work/widths.txt" | median)
# User time a line: the conversion's own work, apart from the kernel's
# copies, as the kernel accounts it (sampled at its clock tick, hence many
# runs).
lines=$(wc -l < "$input")
read -r user_s sys_s <<< "$(python3 "$top/bench/user_time.py" 21 "$output" "$ipconv" "$input")"
read -r user16_s sys16_s <<< "$(python3 "$top/bench/user_time.py" 21 "$output16" "$ipconv" "$input16")"
rm -f "$output16"
# The same from the line loop alone, in memory, timed exactly: the kernel
# samples user time at its clock tick, so that figure swings by a nanosecond.
loop_ns=- loop16_ns=-
if [ -z "${IPCONV:-}" ]; then
  loop_ns=$("$top/build/default/convert_lines" "$input")
  loop16_ns=$("$top/build/default/convert_lines" "$input16")
fi

t_mawk=$(seconds mawk -F, '{ n = $1 % 4294967296; if (n < 0) n += 4294967296;
  a = int(n / 16777216); b = int(n / 65536) % 256; c = int(n / 256) % 256; d = n % 256;
  printf "%s|Hex|%02X%02X%02X%02X|IP-decimal|%d.%d.%d.%d\n", $0, a, b, c, d, a, b, c, d > "'"$work"'/mawk.IP" }' "$input")
rm -f "$work/mawk.IP"

echo "conversion of 4,000,000 lines ($((size / 1048576)) MiB in, $((out_size / 1048576)) MiB out), medians of $pairs alternating pairs:"
awk -v fi="$fi" -v fc="$fc" -v fr="$fr" -v ei="$ei" -v ec="$ec" -v er="$er" -v m="$t_mawk" 'BEGIN {
  printf "  fresh output:    ipconv %6.3f s  cat %6.3f s  ipconv / cat %.2f (median of ratios)\n", fi, fc, fr
  printf "  existing output: ipconv %6.3f s  cat %6.3f s  ipconv / cat %.2f (median of ratios)\n", ei, ec, er
  printf "  mawk %.2f s (best of 3; ipconv is %.1f times faster)\n", m, m / fi }'
echo "the same lines as 8-bit and as UTF-16 text, fresh output (wall: medians of $pairs alternating"
echo "pairs; user and system time: medians of 21 runs; line loop: in memory, best of 7):"
awk -v s="$size" -v s16="$size16" -v w="$w8" -v w16="$w16" -v u="$user_s" -v u16="$user16_s" \
    -v y="$sys_s" -v y16="$sys16_s" -v n="$lines" -v l="$loop_ns" -v l16="$loop16_ns" 'BEGIN {
  f = "  %-6s %4d MiB in, %7.1f MB/s of input, %5.1f ns a line (user time), line loop %s ns a line, system time %.3f s\n"
  printf f, "8-bit:", s / 1048576, s / 1e6 / w, u * 1e9 / n, l, y
  printf f, "UTF-16:", s16 / 1048576, s16 / 1e6 / w16, u16 * 1e9 / n, l16, y16
  printf "  a UTF-16 line against an 8-bit one: %.2f times the wall time, %.2f times the user time\n",
         w16 / w, u16 / u }'

# ---- Many small files ------------------------------------------------------
# On the work directory's file system, and on tmpfs (/dev/shm) when there
# is one: there making a file costs the kernel least, so the program's own
# share shows. One thread (--JOBS=1) against the default (one a processor,
# at most 8), in alternating pairs, so that both meet the same state of a
# shared machine. Outputs deleted right before a run make some file systems
# search longer for a new inode (ext4 without a journal passes over
# recently freed ones), for every program alike.
processors=$(nproc)
threads=$(( processors < 8 ? processors : 8 ))
small_pairs=9
small_bench() { # TREE LABEL
  local small=$1 label=$2 files converted c1 cd
  [ -d "$small" ] || bash "$top/bench/gen_tree.sh" "$small" 200 100
  files=$(find "$small" -name '*.csv' | wc -l)
  remove_outputs() { find "$small" -name '*.IP' -delete; }
  small_pairs_of() { # fresh|existing -> "one-median default-median ratio-median"
    local mode=$1 t1 td
    : > "$work/small.txt"
    remove_outputs
    "$ipconv" "$small/*.csv" >/dev/null 2>&1
    for ((i = 0; i < small_pairs; i++)); do
      [ "$mode" = fresh ] && remove_outputs
      t1=$(wall "$ipconv" "$small/*.csv" --JOBS=1)
      [ "$mode" = fresh ] && remove_outputs
      td=$(wall "$ipconv" "$small/*.csv")
      echo "$t1 $td" >> "$work/small.txt"
    done
    echo "$(awk '{ print $1 }' "$work/small.txt" | median)" \
         "$(awk '{ print $2 }' "$work/small.txt" | median)" \
         "$(awk '{ print $1 / $2 }' "$work/small.txt" | median)"
  }
  read -r f1 fd fr <<< "$(small_pairs_of fresh)"
  read -r e1 ed er <<< "$(small_pairs_of existing)"
  converted=$(find "$small" -name '*.IP' | wc -l)
  [ "$converted" -eq "$files" ] || { echo "bench: $converted of $files small files converted" >&2; exit 1; }
  calls() { # fresh|existing -> system calls per file of one run of one thread
    [ "$1" = fresh ] && remove_outputs
    strace -c -f -o "$work/strace.txt" "$ipconv" "$small/*.csv" --JOBS=1 >/dev/null 2>&1
    awk -v n="$files" '$NF == "total" { printf "%.1f", $4 / n }' "$work/strace.txt"
  }
  if command -v strace >/dev/null; then
    c1="$(calls fresh) fresh, $(calls existing) over existing outputs"
  else
    c1="(strace not installed)"
  fi
  echo "$files small files in 200 directories ($label), $processors processors, default $threads threads;" \
       "medians of $small_pairs alternating pairs:"
  awk -v n="$files" -v a="$f1" -v b="$fd" -v r="$fr" -v e="$e1" -v f="$ed" -v q="$er" 'BEGIN {
    g = "  %-17s --JOBS=1 %.3f s, %6.0f files/s; default %.3f s, %6.0f files/s: %.2f times\n"
    printf g, "fresh outputs:", a, n / a, b, n / b, r
    printf g, "existing outputs:", e, n / e, f, n / f, q }'
  echo "  system calls a file with one thread (strace -c): $c1"
}
small_bench "$work/small-tree" "$(stat -f -c %T "$work")"
if [ -d /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ] && [ -w /dev/shm ]; then
  shm=$(mktemp -d /dev/shm/ipconv-bench.XXXXXX)
  small_bench "$shm/small-tree" "tmpfs"
  rm -rf "$shm"
fi

# ---- Memory and the walk -----------------------------------------------------
big=$work/big/big.csv
if [ ! -f "$big" ]; then
  : > "$big"
  while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$input" >> "$big"; done
fi
for text in "$big" "$input16"; do
  /usr/bin/time -f %M -o "$work/time.txt" "$ipconv" "$text" >/dev/null 2>&1
  rss=$(tail -1 "$work/time.txt")
  kind=8-bit
  [ "$text" = "$input16" ] && kind=UTF-16
  echo "peak memory converting $(( $(stat -c %s "$text") / 1048576 )) MiB of $kind text: $((rss / 1024)) MiB ($rss KiB)"
done
rm -f "$work/big/big.IP" "$output16"

tree=$work/tree
[ -d "$tree" ] || bash "$top/bench/gen_tree.sh" "$tree" 1000 100
t_walk=$(seconds "$ipconv" "$tree/*.nomatch")
t_find=$(seconds find "$tree" -iname '*.nomatch')
awk -v w="$t_walk" -v f="$t_find" 'BEGIN {
  printf "walk of 100,000 files in 1,000 directories, pattern matching nothing (best of 3):\n"
  printf "  ipconv %.2f s, find -iname %.2f s (%.1f times find)\n", w, f, (f > 0 ? w / f : 0) }'
