#!/usr/bin/env bash
# Runs the end-to-end suite against the Windows build of kelvane under Wine.
#
# The suite itself is the native one; with KELVANE_WINE_* set, each scenario
# starts kelvane.exe under Wine instead of the native program, and its
# drive-sim points a symlink at its pseudo-terminal. Wine maps one COM port to
# that symlink, so the .exe opens the simulated drive through CreateFileA,
# GetCommState, SetCommTimeouts and one-byte ReadFile calls just as it opens a
# real COM port. Scenarios share the link path, so they run one after another
# in this one process.
#
# Usage: tests/wine/run_e2e.sh [gtest options...]
#   KELVANE_NATIVE_BUILD   native build with bin/kelvane_e2e_tests (default: build)
#   KELVANE_WINDOWS_BUILD  cross build with bin/kelvane.exe (default: build-windows)
#   KELVANE_WINEPREFIX     Wine prefix (default: <windows build>/wineprefix)
#   KELVANE_WINE_COM       COM port digit the suite passes to /c (default: 7)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# The suite runs each scenario in its own directory, so every path it is
# handed must be absolute.
absolute() { if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi; }
native_build=$(absolute "${KELVANE_NATIVE_BUILD:-$root/build}")
windows_build=$(absolute "${KELVANE_WINDOWS_BUILD:-$root/build-windows}")
com_digit=${KELVANE_WINE_COM:-7}

exe=$windows_build/bin/kelvane.exe
# Programs land in bin/; older trees put the suite beside its sources.
suite=$native_build/bin/kelvane_e2e_tests
if [[ ! -x $suite && -x $native_build/tests/kelvane_e2e_tests ]]; then
  suite=$native_build/tests/kelvane_e2e_tests
fi

if [[ ! $com_digit =~ ^[0-9]$ ]]; then
  echo "run_e2e.sh: KELVANE_WINE_COM must be one digit, not '$com_digit'" >&2
  exit 2
fi
if [[ ! -f $exe ]]; then
  echo "run_e2e.sh: $exe not found; cross-build it first:" >&2
  echo "  cmake -S $root -B $windows_build -DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64.cmake" >&2
  echo "  cmake --build $windows_build -j2" >&2
  exit 2
fi
if [[ ! -x $suite ]]; then
  echo "run_e2e.sh: $suite not found; build the native suite first:" >&2
  echo "  cmake -S $root -B $native_build && cmake --build $native_build -j2" >&2
  exit 2
fi
# shellcheck source=tests/wine/wine_prefix.sh
source "$here/wine_prefix.sh"

link_dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
link=$link_dir/com$com_digit
# shellcheck disable=SC2317  # called through the EXIT trap
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$link_dir"
}
trap cleanup EXIT

# Wine rebuilds dosdevices/comN from this registry value whenever the
# wineserver starts, so set the value and restart rather than making the
# symlink by hand.
wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com_digit" /t REG_SZ /d "$link" /f >/dev/null
wineserver -k 2>/dev/null || true
wineserver -w
# Keep one wineserver up for the whole suite instead of one per scenario.
wineserver -p >/dev/null 2>&1
wine reg query 'HKLM\Software\Wine\Ports' /v "COM$com_digit" >/dev/null
# The device manager that writes the symlink starts alongside the first
# program; give it a moment.
mapped=
for _ in $(seq 50); do
  mapped=$(readlink "$WINEPREFIX/dosdevices/com$com_digit" || true)
  [[ $mapped == "$link" ]] && break
  sleep 0.2
done
if [[ $mapped != "$link" ]]; then
  echo "run_e2e.sh: COM$com_digit maps to '$mapped', expected '$link'" >&2
  exit 2
fi

export KELVANE_WINE_EXE=$exe
export KELVANE_WINE_COM=$com_digit
export KELVANE_WINE_COM_LINK=$link

# Wine does not hold a serial device exclusively: a second CreateFileA of a
# COM port that is already open succeeds (it refuses only for regular files),
# where a Windows serial driver refuses it. That scenario cannot pass here.
# A --gtest_filter on the command line replaces this default.
export GTEST_FILTER=${GTEST_FILTER:-*-Runs.BusyPortIsNotOpenedTwice}

status=0
"$suite" "$@" || status=$?
exit "$status"
