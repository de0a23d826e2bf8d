# shellcheck shell=bash disable=SC2154  # windows_build comes from the caller
# Sourced by the scripts beside it: a private Wine prefix (KELVANE_WINEPREFIX,
# default <windows build>/wineprefix), kept since making it takes a while, and
# locked, since the COM mapping and the wineserver are the whole prefix's.
for tool in wine wineserver wineboot flock; do
  command -v "$tool" >/dev/null || { echo "${0##*/}: '$tool' is not installed" >&2; exit 2; }
done
WINEPREFIX=${KELVANE_WINEPREFIX:-$windows_build/wineprefix}
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX # Wine refuses a relative prefix
# No prompts for the .NET and HTML runtimes: the loader needs neither.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
