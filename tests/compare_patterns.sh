#!/usr/bin/env bash
# What a pattern selects: the POSIX enumeration against the Windows one
# (FindFirstFileW under Wine), both listing one tree with the same patterns
# through tests/support/list_patterns.cpp. Fails on any difference and
# prints it. Called by tests/run_windows.sh; alone:
#   tests/compare_patterns.sh [POSIX_LISTER [WINDOWS_LISTER]]
set -euo pipefail
cd "$(dirname "$0")/.."

posix_lister=${1:-build/default/tests/list_patterns}
windows_lister=${2:-build/windows/tests/list_patterns.exe}
for lister in "$posix_lister" "$windows_lister"; do
  if [ ! -x "$lister" ] && [ ! -f "$lister" ]; then
    echo "compare_patterns.sh: $lister is missing; build it first" >&2
    exit 1
  fi
done
posix_lister=$(realpath "$posix_lister")
windows_lister=$(realpath "$windows_lister")
export LC_ALL=C.UTF-8 WINEDEBUG=-all

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tree" "$work/tree/Sub.dir"

# Mixed case, dots and blanks where Windows allows them, and letters that
# Windows folds (fullwidth Latin, Armenian, Latin Extended-B, accented
# Greek, Cyrillic above U+045F, circled and Roman-numeral letters) or does
# not fold (dotless i, final sigma, sharp s, a titlecase digraph, a
# ligature, the micro sign).
names=(
  README README.md readme.txt.bak Makefile notes.txt Report.TXT r1.txt r22.txt
  data.csv DATA.old.csv x ab abc ab.txt "a b.txt" " lead.txt" .hidden
  .profile.txt archive.tar.gz v1.2.3 a..b UPPER.LOG MiXeD.CsV file.txt.txt
  _under.txt "~tilde.txt" "semi;colon.txt" "plus+sign.txt" "[br].txt"
  "two  blanks.txt" "x.y z" 1st.log
  ａｂｃ.txt բարեւ.txt ǎƀ.txt άλφα.txt ѣґ.txt ⓐⓑ.txt ⅰⅱ.txt café.txt łódź.csv
  привет.txt ёж.txt ÿ.txt ა.txt
  ıdea.txt idea.txt λόγος.txt straße.txt ǅx.txt ﬁle.txt µ.txt
)
for name in "${names[@]}"; do printf '1\n' > "$work/tree/$name"; done

patterns=(
  # Plain wildcards and names.
  "*" "*.*" "*.txt" "*.TXT" "*.csv" "?" "??" "a?" "?b*" "ab" "AB" "ab.txt"
  "AB.TXT" "r?.txt" "r*.txt" "*.log" "README" "readme" "README.*" "readme.*"
  "*.tar.*" "v1.*" "*.3" "a.*" "*a*" "*.*b" ".*" "*b" "a..b" "x.y z" " l*"
  "sub.dir" "SUB.*" "*.gz" "two  *" "nothing*"
  # Trailing dots and blanks are dropped; nothing but dots selects nothing.
  "*.txt." "*.txt " "*.txt. ." "ab." "ab " "ab. " "README." "*." "*. "
  "r?.txt.." "sub.dir." "..." " . "
  # Every trailing ".*" group may match the end of a name.
  "README.*.*" "*.*.*" "*.**" "a.*.*" "v1.*.*" "*.txt.*" "*.*.txt"
  # Case, as Windows folds it.
  "ＡＢＣ.TXT" "ԲԱՐԵՒ.TXT" "ǍɃ.TXT" "ΆΛΦΑ.TXT" "ѢҐ.TXT" "ⒶⒷ.TXT" "ⅠⅡ.TXT"
  "CAFÉ.TXT" "ŁÓDŹ.CSV" "ПРИВЕТ.TXT" "ЁЖ.TXT" "Ÿ.TXT" "Ა.TXT"
  # Letters Windows leaves alone.
  "IDEA.TXT" "ıDEA.TXT" "İDEA.TXT" "ΛΌΓΟΣ.TXT" "ΛΌΓΟς.TXT" "STRASSE.TXT"
  "STRAßE.TXT" "Ǆx*" "ǆX*" "ǅ*" "FILE.TXT" "ﬁ*" "Μ.TXT" "µ.TXT"
)
printf '%s\n' "${patterns[@]}" > "$work/patterns"

cd "$work"
"$posix_lister" tree < patterns > posix.out
wine "$windows_lister" tree < patterns | tr -d '\r' > windows.out

if [ "$(wc -l < posix.out)" -ne "${#patterns[@]}" ] ||
   [ "$(wc -l < windows.out)" -ne "${#patterns[@]}" ]; then
  echo "compare_patterns.sh: a lister did not answer every pattern" >&2
  exit 1
fi
if ! diff posix.out windows.out > differences; then
  echo "Patterns that select differently (< POSIX, > Windows under Wine):"
  cat differences
  exit 1
fi
echo "compare_patterns.sh: ${#names[@]} names, ${#patterns[@]} patterns select alike"
