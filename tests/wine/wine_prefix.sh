# shellcheck shell=bash disable=SC2154  # windows_build comes from the caller
# Sourced by the scripts beside it: a private Wine prefix for the Windows build.
#
# Expects `windows_build` to be set. Exports WINEPREFIX and friends, takes the
# prefix's lock for the rest of the calling script (the COM mapping and the
# wineserver are shared by everything in one prefix), creates the prefix when
# it is missing and leaves it in place for the next run: creating it takes a
# while.
#   KELVANE_WINEPREFIX  Wine prefix to use (default: <windows build>/wineprefix)

for tool in wine wineserver wineboot flock; do
  if ! command -v "$tool" >/dev/null; then
    echo "${0##*/}: '$tool' is not installed" >&2
    exit 2
  fi
done

WINEPREFIX=${KELVANE_WINEPREFIX:-$windows_build/wineprefix}
# Wine refuses a relative prefix.
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX
export WINEPREFIX
export WINEDEBUG=-all
# No prompts to install the .NET and HTML runtimes: the loader needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"

exec 9>"$WINEPREFIX.lock"
flock 9

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "${0##*/}: creating Wine prefix $WINEPREFIX" >&2
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
