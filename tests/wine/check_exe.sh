#!/usr/bin/env bash
# Checks the cross-built kelvane.exe on its own, before any drive is involved:
# it must run on a PC that has nothing but Windows (no toolchain DLLs beside
# it), its console lines must end in exactly CR LF (a text-mode stdout would
# turn the loader's own "\r\n" into CR CR LF), and a COM port that cannot be
# named or does not exist must end the run as a failed open.
#
# Usage: tests/wine/check_exe.sh
#   KELVANE_WINDOWS_BUILD  cross build with bin/kelvane.exe (default: build-windows)
#   KELVANE_WINEPREFIX     Wine prefix (default: <windows build>/wineprefix)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
absolute() { if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi; }
windows_build=$(absolute "${KELVANE_WINDOWS_BUILD:-$root/build-windows}")
exe=$windows_build/bin/kelvane.exe

if [[ ! -f $exe ]]; then
  echo "check_exe.sh: $exe not found; cross-build it first" >&2
  exit 2
fi

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Only DLLs that every Windows installation has.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [[ -z $imports ]]; then
  fail "no import table found in $exe"
fi
while read -r dll; do
  [[ -z $dll ]] && continue
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | advapi32.dll | ntdll.dll) ;;
    *) fail "kelvane.exe needs $dll, which Windows does not ship" ;;
  esac
done <<<"$imports"

# shellcheck source=tests/wine/wine_prefix.sh
source "$here/wine_prefix.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-exe.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs kelvane.exe with the given arguments; stdout lands in $work/out and the
# exit status in $status.
run() {
  status=0
  (cd "$work" && wine "$exe" "$@") >"$work/out" 2>"$work/err" || status=$?
}

expect_ending() {
  local what=$1 ending=$2
  local actual
  actual=$(tail -c "${#ending}" "$work/out" | od -An -c | tr -d '\n' | tr -s ' ')
  local wanted
  wanted=$(printf '%s' "$ending" | od -An -c | tr -d '\n' | tr -s ' ')
  if [[ $actual != "$wanted" ]]; then
    fail "$what: output ends in '$actual', expected '$wanted'"
  fi
}

expect_clean_line_ends() {
  local what=$1
  if grep -q $'\r\r' "$work/out"; then
    fail "$what: output holds CR CR (stdout in text mode?)"
  fi
  # Every LF must follow a CR.
  if [[ $(tr -cd '\n' <"$work/out" | wc -c) != $(grep -c $'\r$' "$work/out") ]]; then
    fail "$what: output holds a bare LF"
  fi
}

run /h
[[ $status == 0 ]] || fail "/h: exit status $status, expected 0"
expect_clean_line_ends "/h"
expect_ending "/h" $'    * requires binary image file. Not S-record !\r\n'

# COM0 is a valid name that no machine has.
run /c0 fw.s
[[ $status == 1 ]] || fail "/c0: exit status $status, expected 1"
expect_clean_line_ends "/c0"
expect_ending "/c0" $'Failed to open COM0 port\r\n'

# ':' follows '9': port number 10, which no COM name of one digit can hold.
run /c: fw.s
[[ $status == 1 ]] || fail "/c: exit status $status, expected 1"
expect_ending "/c:" $'Failed to open COM10 port\r\n'

# A bare /c gives port number -48.
run /c fw.s
[[ $status == 1 ]] || fail "/c: exit status $status, expected 1"
expect_ending "bare /c" $'Failed to open COM-48 port\r\n'

wineserver -k >/dev/null 2>&1 || true

if ((failures > 0)); then
  echo "check_exe.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "check_exe.sh: kelvane.exe imports only system DLLs; line ends and port failures are right"
