#!/usr/bin/env bash
# kelvane.exe on its own, before any drive: it must run with nothing but
# Windows beside it (system DLLs only), its lines must end in exactly CR LF (a
# text-mode stdout would make the loader's "\r\n" CR CR LF), and COM ports
# that cannot be named or do not exist must end the run as a failed open.
#   KELVANE_WINDOWS_BUILD  cross build with bin/kelvane.exe (default build-windows)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
windows_build=$(realpath "${KELVANE_WINDOWS_BUILD:-$here/../../build-windows}")
exe=$windows_build/bin/kelvane.exe
[[ -f $exe ]] || { echo "check_exe.sh: $exe not found; cross-build it first" >&2; exit 2; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

while read -r dll; do
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | advapi32.dll | ntdll.dll) ;;
    *) fail "kelvane.exe needs ${dll:-no DLL at all?}, which Windows does not ship" ;;
  esac
done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')

# shellcheck source=tests/wine/wine_prefix.sh
source "$here/wine_prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-exe.XXXXXX")
trap 'rm -rf "$work"; wineserver -k >/dev/null 2>&1 || true' EXIT

# kelvane.exe ARGS... must end with STATUS and its output with ENDING, every
# LF after a CR and no CR CR anywhere.
check() {
  local status=$1 ending=$2 got=0
  shift 2
  (cd "$work" && wine "$exe" "$@") >"$work/out" 2>/dev/null || got=$?
  [[ $got == "$status" ]] || fail "$*: exit status $got, expected $status"
  [[ $(tail -c "${#ending}" "$work/out" | od -An -tx1) == $(printf %s "$ending" | od -An -tx1) ]] ||
    fail "$*: output does not end in $ending"
  ! grep -q $'\r\r' "$work/out" || fail "$*: output holds CR CR"
  [[ $(tr -cd '\n' <"$work/out" | wc -c) == $(grep -c $'\r$' "$work/out") ]] || fail "$*: bare LF"
}
check 0 $'    * requires binary image file. Not S-record !\r\n' /h
check 1 $'Failed to open COM0 port\r\n' /c0 fw.s # a valid name no machine has
check 1 $'Failed to open COM10 port\r\n' /c: fw.s # ':' follows '9'
check 1 $'Failed to open COM-48 port\r\n' /c fw.s

((failures == 0)) || { echo "check_exe.sh: $failures check(s) failed" >&2; exit 1; }
echo "check_exe.sh: kelvane.exe imports only system DLLs; line ends and port failures are right"
