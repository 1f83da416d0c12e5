#!/usr/bin/env bash
# The Windows build: cross-compiles the static ipconv.exe and the unit tests
# with mingw-w64, runs the unit tests under Wine, compares what each pattern
# selects with the POSIX build (tests/compare_patterns.sh), then runs the
# end-to-end suite built for Linux (build/default/tests/e2e_tests, from the
# Linux build) against ipconv.exe under Wine. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine64 wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

e2e=${IPCONV_E2E_TESTS:-build/default/tests/e2e_tests}
if [ ! -x "$e2e" ]; then
  echo "run_windows.sh: $e2e is missing; build the default preset first" >&2
  exit 1
fi

export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/windows/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
# No display: the file-open dialog fails at once instead of waiting for a
# user (a run without a display is what CI has anyway).
unset DISPLAY WAYLAND_DISPLAY

cmake --preset windows
cmake --build --preset windows

# The first start of Wine creates the prefix (a few seconds); a persistent
# server then spares every test program the start-up of its own.
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

ctest --preset windows

echo "Patterns: the POSIX enumeration against the Windows one under Wine"
tests/compare_patterns.sh build/default/tests/list_patterns build/windows/tests/list_patterns.exe

echo "End-to-end suite against build/windows/ipconv.exe under Wine"
IPCONV_PROGRAM="$PWD/build/windows/ipconv.exe" IPCONV_RUNNER=wine "$e2e"

echo "Windows package"
(cd build/windows && cpack -G ZIP)
