#!/usr/bin/env bash
# Makes DIRS directories of FILES small files each below ROOT.
set -euo pipefail
root=$1 dirs=${2:-1000} files=${3:-100}
mkdir -p "$root"
for ((d = 0; d < dirs; d++)); do
  dir="$root/d$((d / 100))/dir$d"
  mkdir -p "$dir"
  ( cd "$dir" && for ((f = 0; f < files; f++)); do printf '%d,host\n' $((d * files + f)) > "f$f.csv"; done )
done
