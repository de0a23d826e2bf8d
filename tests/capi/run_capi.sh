#!/usr/bin/env bash
# Eight drive-sims, one per case of capi_test.c, met first by kelvane (its
# journal line is each case's expected result) and then, started afresh, by
# the C test's eight threads at once.
#   tests/capi/run_capi.sh NATIVE_BUILD TEST            the native library
#   tests/capi/run_capi.sh NATIVE_BUILD TEST.exe wine   kelvane.dll under Wine, on COM1 to COM8
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=$(realpath "$1")/bin
test=$(realpath "$2")
wine=${3:-}
examples=$here/../../examples
dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-capi.XXXXXX")
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -n $wine ]]; then wineserver -k >/dev/null 2>&1 || true; fi
  [[ -n ${KELVANE_TEST_KEEP:-} ]] || rm -rf "$dir"
}
trap cleanup EXIT

# Case i: drive-sim's options | kelvane's options. 7 is stopped by the test.
cases=(
  "|"
  "--family tl3xx --silent-first 2|/a"
  "--stuck 0x2025:0|"
  "--write-status 3:0x22|"
  "--hangup-after 10|"
  "--family tl3xx|/a /wXYZ"
  "|/i"
  "|"
)
start_sims() {
  local i args
  for i in "${!cases[@]}"; do
    rm -f "$dir/com$i"
    read -ra args <<<"${cases[$i]%%|*}"
    "$bin/drive-sim" --link "$dir/com$i" ${wine:+--raw-line} "${args[@]}" >/dev/null 2>&1 &
    sims+=($!)
  done
  for i in "${!cases[@]}"; do
    for _ in $(seq 100); do [[ -e $dir/com$i ]] && break; sleep 0.05; done
  done
}
stop_sims() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  sims=()
}

start_sims
for i in 0 1 2 3 4 5 6; do
  read -ra args <<<"${cases[$i]#*|}"
  file=$examples/nym_sample.s
  [[ ${args[0]:-} == /a ]] && file=$examples/tl3xx_sample.s
  [[ ${args[*]} == */i* ]] && file=
  (cd "$dir" && "$bin/kelvane" "/c$dir/com$i" /r5 "/j$dir/journal" "${args[@]}" $file >/dev/null 2>&1) || true
done
stop_sims
sha=$(sha256sum "$examples/nym_sample.s" | cut -d' ' -f1)
status=130 device="$dir/com7"
[[ -n $wine ]] && status=1 device="*"
python3 - "$dir/journal" "$wine" >"$dir/expected" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    j = json.loads(line)
    e, d = j["error"] or {}, j["drive"] or {}
    print("\t".join(str(v) for v in (
        j["status"], j["verdict"], e.get("stage", ""), e.get("block", -1), e.get("code", -1),
        d.get("model_code", ""), d.get("hardware_revision", ""), d.get("serial_number", ""),
        j["file_sha256"] or "", "*" if sys.argv[2] else j["device"], e.get("text", ""))))
PY
printf '%s\tinterrupted\twrite\t3\t-1\t770\tC03\t770123\t%s\t%s\tInterrupted before sector 3 was written\n' \
  "$status" "$sha" "$device" >>"$dir/expected"

start_sims
if [[ -z $wine ]]; then
  "$test" "$examples" "$dir/expected" "$dir"/com{0..7}
else
  windows_build=$(dirname "$(dirname "$test")")
  # shellcheck source=tests/wine/wine_prefix.sh
  source "$here/../wine/wine_prefix.sh"
  for i in "${!cases[@]}"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$((i + 1))" /t REG_SZ /d "$dir/com$i" /f >/dev/null
  done
  # Wine makes dosdevices/comN when its server starts, a moment after.
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p >/dev/null 2>&1
  wine reg query 'HKLM\Software\Wine\Ports' /v COM8 >/dev/null
  for _ in $(seq 50); do
    [[ $(readlink "$WINEPREFIX/dosdevices/com8" || true) == "$dir/com7" ]] && break
    sleep 0.2
  done
  wine "$test" "$(winepath -w "$examples")" "$(winepath -w "$dir/expected")" COM{1..8}
fi
