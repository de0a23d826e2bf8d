#!/usr/bin/env bash
# kelvane.exe on its own (and kelvane-station.exe, kelvane.dll: system DLLs only), lines ending in
# exactly CR LF (a text-mode stdout would make "\r\n" CR CR LF), ports that cannot be named,
# do not exist or are no serial port end the run as a failed open, and why.
#   KELVANE_WINDOWS_BUILD  cross build with bin/kelvane.exe (default build-windows)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
windows_build=$(realpath "${KELVANE_WINDOWS_BUILD:-$here/../../build-windows}")
exe=$windows_build/bin/kelvane.exe
[[ -f $exe ]] || { echo "check_exe.sh: $exe not found; cross-build it first" >&2; exit 2; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for program in "$exe" "$windows_build/bin/kelvane-station.exe" "$windows_build/bin/kelvane.dll"; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    [[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-.*|advapi32|ntdll)\.dll$ ]] ||
      fail "${program##*/} needs $dll, which Windows does not ship"
  done
done

# shellcheck source=tests/wine/wine_prefix.sh
source "$here/wine_prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-exe.XXXXXX")
trap 'rm -rf "$work"; wineserver -k >/dev/null 2>&1 || true' EXIT

# kelvane.exe ARGS... ends with STATUS, its output with ENDING, every LF after a CR, no CR CR.
check() {
  local status=$1 ending=$2 got=0
  shift 2
  (cd "$work" && wine "$exe" "$@") >"$work/out" 2>"$work/err" || got=$?
  [[ $got == "$status" ]] || fail "$*: exit status $got, expected $status"
  [[ $(tail -c "${#ending}" "$work/out" | od -An -tx1) == $(printf %s "$ending" | od -An -tx1) ]] ||
    fail "$*: output does not end in $ending"
  ! grep -q $'\r\r' "$work/out" || fail "$*: output holds CR CR"
  [[ $(tr -cd '\n' <"$work/out" | wc -c) == $(grep -c $'\r$' "$work/out") ]] || fail "$*: bare LF"
}
check 0 $'    * requires binary image file. Not S-record !\r\n' /h
check 1 $'Failed to open COM-48 port\r\n' /c fw.s

# /l lists the ports the registry names, each with the /c argument that opens
# it: from COM10 on only the device name does. The key is volatile, so one
# server keeps it from the reg command to the loader.
wineserver -p >/dev/null 2>&1 || true # already up: it stays
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\KelvaneCheck' /t REG_SZ /d COM12 \
  /f >/dev/null 2>&1 || fail "cannot add COM12 to the registry"
check 0 $'\r\n' /l
grep -qF '/c\\.\COM12' "$work/out" || fail "/l: COM12 is not listed as /c\\.\COM12"

# A port that does not open: standard error says why in the words a Linux user reads, and a
# name no port has gets the ports there are. (Wine opens a port held by another program.)
refused() {
  local reason=$1
  shift
  check 1 $' port\r\n' "$@" fw.s
  grep -qF "Cannot open $reason" "$work/err" || fail "$*: standard error says $(cat "$work/err")"
}
refused 'COM0: no such port; this machine has ' /c0 # a valid name no machine has
grep -qF ' /c\\.\COM12' "$work/err" || fail "/c0: COM12 is not among the ports named"
refused 'COM10: no such port; COM10 and above are named \\.\COM10' /c: # ':' follows '9'
refused '\\.\NUL: not a serial device' '/c\\.\NUL'
refused '\\.\NUL: the driver refuses the baud rate 0' '/c\\.\NUL' /b0
refused "$work: permission denied" "/c$work" # a folder

((failures == 0)) || { echo "check_exe.sh: $failures check(s) failed" >&2; exit 1; }
echo "check_exe.sh: kelvane.exe imports only system DLLs; line ends and port failures are right"
