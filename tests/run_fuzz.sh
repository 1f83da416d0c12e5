#!/usr/bin/env bash
# Builds the libFuzzer programs (preset fuzz, clang++) and runs each for a
# bounded time from its seed corpus with a fixed seed. Any finding (crash,
# sanitizer report, broken property, time-out, leak, memory limit) fails the
# script; the input that caused it is kept in build/fuzz/findings/.
#
# Usage: tests/run_fuzz.sh [seconds per program, default 30] [program...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-30}
shift || true

command -v clang++ >/dev/null || { echo "run_fuzz: clang++ is needed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }

bin=$top/build/fuzz/tests/fuzz
findings=$top/build/fuzz/findings
mkdir -p "$findings"

if [ $# -gt 0 ]; then
  programs=("$@")
else
  programs=()
  for dir in tests/fuzz/corpus/*/; do programs+=("$(basename "$dir")"); done
fi

failed=()
printf '%-22s %12s %10s\n' program executions "exec/s"
for program in "${programs[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
  mkdir -p "$work/$program"
  log=$work/$program.log
  status=0
  # The parsers may pause (counted, never waited) and read standard input
  # (empty); their messages on standard output are not wanted here.
  (cd "$work" && env -u ACCT -u SILENT -u RESET \
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1" \
    "$bin/$program" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/$program-" \
      "$work/$program" "$top/tests/fuzz/corpus/$program" \
      </dev/null >/dev/null 2>"$log") || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-22s %12s %10s\n' "$program" "${runs:-?}" "${rate:-?}"
  if [ "$status" -ne 0 ]; then
    failed+=("$program")
    echo "---- $program: finding (status $status); last lines of its log:" >&2
    grep -v '^#' "$log" | tail -40 >&2
    echo "---- the input is in $findings/ (rerun: $bin/$program FILE)" >&2
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run_fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "run_fuzz: no findings"
