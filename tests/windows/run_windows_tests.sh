#!/usr/bin/env bash
# The Windows build and its tests, on Linux: cross-compiles tervalin.exe and
# the unit tests with MinGW-w64 into build-windows/, then runs them under
# Wine: the unit tests, the platform tests and the end-to-end runs of
# end_to_end.py. Installs what it needs when missing. Ends with
# "N passed, M failed" and a non-zero status when anything failed.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$root/build-windows

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
unit_time_limit=600   # seconds for one test executable
e2e_time_limit=1800   # seconds for all end-to-end runs
boot_time_limit=300   # seconds to create the Wine prefix

passed=0
failed=0

finish() {
  echo "$passed passed, $failed failed"
  if ((failed > 0)); then exit 1; fi
  exit 0
}

fail_step() {
  echo "FAIL $1"
  failed=$((failed + 1))
}

install_missing_packages() {
  local missing=() package
  for package in cmake make python3 googletest g++-mingw-w64-x86-64 wine64; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if ((${#missing[@]})); then
    apt-get update &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

build() {
  cmake -S "$root/tests/windows" -B "$build" \
        --toolchain "$root/cmake/mingw-w64-x86_64.cmake" &&
    cmake --build "$build" -j2
}

# Engineers' machines have no MinGW runtime: the program may import only
# DLLs that ship with Windows.
check_imports() {
  local dll unexpected=0
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*) ;;
      *) echo "tervalin.exe imports $dll"; unexpected=1 ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -p "$build/tervalin/tervalin.exe" |
           sed -n 's/^[[:space:]]*DLL Name: //p')
  ((unexpected == 0))
}

# A prefix of our own under the build folder; no display, and no dialogs
# offering to install Mono or Gecko, which console programs never need.
start_wine() {
  export WINEPREFIX=$build/wine-prefix WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    timeout --kill-after=10 "$boot_time_limit" "$wine" wineboot --init \
      </dev/null >"$build/wineboot.log" 2>&1
  fi
  # One server for all runs: otherwise each run waits for a new one to start.
  "$wineserver" --persistent
  trap '"$wineserver" --kill' EXIT
}

# Runs a GoogleTest executable with no console (all three streams redirected,
# in a session of its own) and counts its tests.
run_gtest() {
  local name=$1 log=$build/$1.log status
  setsid timeout --kill-after=10 "$unit_time_limit" "$wine" "$build/$name.exe" \
    </dev/null >"$log" 2>&1
  status=$?
  # The Windows C library ends the lines with CR LF.
  local text ran_ok ran_bad
  text=$(tr -d '\r' <"$log")
  grep -E '^\[  (FAILED|PASSED)  \]' <<<"$text" | sed "s/^/$name: /"
  ran_ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p' <<<"$text")
  ran_bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p' <<<"$text")
  passed=$((passed + ${ran_ok:-0}))
  failed=$((failed + ${ran_bad:-0}))
  if ((status != 0)) && [[ -z $ran_bad ]]; then
    fail_step "$name ended with status $status (see $log)"
  fi
}

run_end_to_end() {
  local log=$build/end_to_end.log summary
  timeout --kill-after=10 "$e2e_time_limit" \
    python3 "$root/tests/windows/end_to_end.py" --wine "$wine" \
            --program "$build/tervalin/tervalin.exe" </dev/null 2>&1 | tee "$log"
  summary=$(tail -n 1 "$log")
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  else
    fail_step "end-to-end runner did not finish (see $log)"
  fi
}

install_missing_packages || { fail_step "installing the MinGW-w64 and Wine packages"; finish; }
build || { fail_step "Windows build"; finish; }
if check_imports; then
  echo "PASS tervalin.exe needs no MinGW runtime DLL"
  passed=$((passed + 1))
else
  fail_step "tervalin.exe needs a MinGW runtime DLL"
fi
start_wine
run_gtest tervalin_unit_tests
run_gtest tervalin_platform_test
run_end_to_end
finish
