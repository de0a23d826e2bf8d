#!/usr/bin/env bash
# The native end-to-end suite with kelvane.exe under Wine on COM<n>, which
# Wine maps to the one path each case's drive-sim links to its terminal; the
# cases share that path, so they run one after another. kelvane-station.exe
# gets three more ports, COM4 to COM6, for its drives.
#   tests/wine/run_e2e.sh [gtest options...]
#   KELVANE_NATIVE_BUILD   native build with bin/kelvane_e2e_tests (default build)
#   KELVANE_WINDOWS_BUILD  cross build with bin/kelvane.exe (default build-windows)
#   KELVANE_WINE_COM       the COM port's digit (default 7)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
suite=$(realpath "${KELVANE_NATIVE_BUILD:-$here/../../build}")/bin/kelvane_e2e_tests
windows_build=$(realpath "${KELVANE_WINDOWS_BUILD:-$here/../../build-windows}")
com=${KELVANE_WINE_COM:-7}
die() { echo "run_e2e.sh: $*" >&2; exit 2; }
[[ -f $suite && -f $windows_build/bin/kelvane.exe && -f $windows_build/bin/kelvane-station.exe ]] ||
  die "build $suite, kelvane.exe and kelvane-station.exe first"
[[ $com =~ ^[0-9]$ ]] || die "KELVANE_WINE_COM must be one digit"
# shellcheck source=tests/wine/wine_prefix.sh
source "$here/wine_prefix.sh"
link_dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$link_dir"' EXIT

# Wine makes dosdevices/comN from this value when its server starts, and its
# device manager writes the link a moment after the first program starts.
wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ /d "$link_dir/com" /f >/dev/null
station_coms="4 5 6"
for n in $station_coms; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$link_dir/com$n" /f >/dev/null
done
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >/dev/null 2>&1 # one server for the whole suite
wine reg query 'HKLM\Software\Wine\Ports' /v "COM$com" >/dev/null
mapped() {
  [[ $(readlink "$WINEPREFIX/dosdevices/com$com" || true) == "$link_dir/com" ]] || return 1
  for n in $station_coms; do
    [[ $(readlink "$WINEPREFIX/dosdevices/com$n" || true) == "$link_dir/com$n" ]] || return 1
  done
}
for _ in $(seq 50); do mapped && break; sleep 0.2; done
mapped || die "COM$com is not mapped to $link_dir/com"

export KELVANE_WINE_EXE=$windows_build/bin/kelvane.exe KELVANE_WINE_COM=$com
export KELVANE_WINE_COM_LINK=$link_dir/com
export KELVANE_WINE_STATION_EXE=$windows_build/bin/kelvane-station.exe
export KELVANE_WINE_STATION_COMS=$station_coms KELVANE_WINE_LINK_DIR=$link_dir
"$suite" "$@"
