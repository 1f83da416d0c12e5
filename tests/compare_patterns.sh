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
  "two  blanks.txt" "x.y z" 1st.log log.csv log1.csv a .a I.1 a.txt
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
  # '?' takes one unit that is not a dot, and nothing at a dot or at the end.
  "log?.csv" "??." "a*?" "?a" "I??" "a?.txt" "?.*" "*?" "?*?" ".?" "*.?"
  # Trailing dots and blanks are dropped; nothing but dots selects nothing;
  # one that ended in a dot takes no extension through its last star.
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

# Where Wine 8's FindFirstFileW departs from Windows' own selection, which
# the POSIX build follows: Wine matches '?' and '*' as a plain glob, with
# no DOS_QM, DOS_STAR or DOS_DOT. These are not compared; one line each
# says what Wine does.
wine_own=(
  "?"        "Wine's '?' takes a dot: it selects \".\""
  "??"       "Wine's '?' takes dots and must take a unit: \"..\" and \".a\" in, \"a\" and \"x\" out"
  "a?"       "Wine's '?' must take a unit at the end of the name: \"a\" out"
  "log?.csv" "Wine's '?' must take a unit before a dot: \"log.csv\" out"
  "??."      "Wine's '?' takes dots and must take a unit: \".a\" in, \"a\" out"
  "a*?"      "Wine selects nothing where '?' follows a star"
  "?a"       "Wine's '?' takes the dot of \".a\""
  "I??"      "Wine's '?' takes the dot of \"I.1\""
  "a?.txt"   "Wine's '?' must take a unit before a dot: \"a.txt\" out"
  "?.*"      "Wine's '?' must take a unit before a dot: \".a\" and \".hidden\" out"
  "*?"       "Wine selects nothing where '?' follows a star"
  "?*?"      "Wine selects nothing where '?' follows a star"
  ".?"       "Wine's '?' takes the second dot of \"..\" and must take a unit: \".\" out"
  "*.?"      "Wine needs a dot and a unit after it: \"a\" out, and its '?' takes dots"
  "*."       "Wine drops the dot and lists every name, not only the names without a dot"
)
skip=()
for ((i = 0; i < ${#wine_own[@]}; i += 2)); do
  for ((line = 0; line < ${#patterns[@]}; ++line)); do
    [ "${patterns[line]}" = "${wine_own[i]}" ] && skip+=($((line + 1)))
  done
done

cd "$work"
"$posix_lister" tree < patterns > posix.out
wine "$windows_lister" tree < patterns | tr -d '\r' > windows.out

if [ "$(wc -l < posix.out)" -ne "${#patterns[@]}" ] ||
   [ "$(wc -l < windows.out)" -ne "${#patterns[@]}" ]; then
  echo "compare_patterns.sh: a lister did not answer every pattern" >&2
  exit 1
fi
# Wine's own patterns are left out of both listings, line by line.
printf '%s\n' "${skip[@]}" > skip
leave_out() { awk 'NR == FNR { skip[$1] = 1; next } !(FNR in skip)' skip "$1"; }
if ! diff <(leave_out posix.out) <(leave_out windows.out) > differences; then
  echo "Patterns that select differently (< POSIX, > Windows under Wine):"
  cat differences
  exit 1
fi
# A pattern listed as Wine's own that selects alike again is named, so
# that the list can shrink when Wine mends it.
for line in "${skip[@]}"; do
  if [ "$(sed -n "${line}p" posix.out)" = "$(sed -n "${line}p" windows.out)" ]; then
    echo "compare_patterns.sh: Wine now selects as Windows for ${patterns[line - 1]}"
  fi
done
echo "compare_patterns.sh: ${#names[@]} names, $((${#patterns[@]} - ${#skip[@]})) patterns select alike;" \
  "${#skip[@]} are Wine's own"
