#!/usr/bin/env bash
# The README's C example, compiled as it is written against the installed
# library and run against drive-sim: tests/capi/readme_example.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(realpath "$1")
dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-readme.XXXXXX")
sim=
trap 'kill $sim 2>/dev/null || true; rm -rf "$dir"' EXIT
sed -n '/^### C$/,/^```$/p' "$here/../../README.md" | sed '1,/^```c$/d;$d' >"$dir/load.c"
# The library as installed, found by pkg-config as the README says; a tree
# whose install rules do not install it yet is compiled against as built.
cmake --install "$build" --prefix "$dir/usr" >/dev/null
pc=$(find "$dir/usr" -name kelvane.pc | head -n 1)
if [[ -n $pc ]]; then
  export PKG_CONFIG_PATH=${pc%/*}
  flags=$(pkg-config --cflags --libs kelvane) libdir=$(pkg-config --variable=libdir kelvane)
else
  flags="-I$here/../../api -L$build -lkelvane" libdir=$build
fi
# shellcheck disable=SC2086  # pkg-config's flags are words
cc -std=c99 -Wall -Wextra -Werror -o "$dir/load" "$dir/load.c" $flags
"$build/bin/drive-sim" --link "$dir/drive" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 100); do [[ -e $dir/drive ]] && break; sleep 0.05; done
LD_LIBRARY_PATH=$libdir "$dir/load" "$dir/drive" "$here/../../examples/nym_sample.s" >"$dir/out"
diff - "$dir/out" <<OUT
Port $dir/drive opened at 38400 baud
The drive answered: model_code 770, hardware_revision C03, serial_number 770123
Write pass: 13 sector(s)
Write pass finished
Verify pass: 13 sector(s)
Verify pass finished
The run ended: verified
verified: drive 770, serial 770123
OUT
