#!/usr/bin/env bash
# What the packages hold, file by file, with the version in every name: the
# four .deb files, lintian-clean, that together give a working library,
# header, pkg-config file and Python module; the static programs need no
# shared library; the zip's kelvane.exe and kelvane-station.exe are stripped
# and carry their version resource, kelvane.dll comes with its import
# library, header and the Python module.
#   tests/install/packages.sh DIR     (what scripts/make-packages wrote)
set -euo pipefail
dir=$1
root=$(dirname "$0")/../..
version=$(sed -n 's/^project(kelvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
pages="man1/kelvane.1 man1/kelvane-station.1 man1/drive-sim.1"
work=$(mktemp -d /tmp/kelvane-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
samples='examples/nym_sample.s examples/series27_sample.s examples/tk720_digest_sample.bin
examples/tk720_sample.bin examples/tl3xx_sample.s'
# Listed files, sorted, against the expected ones.
same() {
  diff <(sort) <(tr ' ' '\n' <<<"$1" | grep . | sort) >"$work/diff" || fail "$2: $(cat "$work/diff")"
}

# Each .deb file by file, its dependencies, and no error from lintian (its
# warnings and notes are for Debian's own archive to weigh); all four
# unpacked into one tree.
lib=./usr/lib/x86_64-linux-gnu
while IFS='|' read -r package arch depends files; do
  deb=$dir/${package}_${version}-1_$arch.deb
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | same "$files ./usr/share/doc/$package/copyright
    ./usr/share/doc/$package/changelog.Debian.gz ./usr/share/lintian/overrides/$package" "$deb"
  # shellcheck disable=SC2053 # a pattern: the computed ones' versions vary
  [[ $(dpkg-deb -f "$deb" Depends) == $depends ]] || fail "$deb: depends on $(dpkg-deb -f "$deb" Depends)"
  lintian "$deb" >"$work/lintian" 2>&1 || true
  ! grep '^E:' "$work/lintian" || fail "$deb: lintian finds errors"
  dpkg-deb -x "$deb" "$work/root"
done <<EOF
kelvane|amd64|libc6*|./usr/bin/kelvane ./usr/bin/kelvane-station ./usr/bin/drive-sim $(sed -e 's|man1|./usr/share/man/man1|g' -e 's| |.gz |g' <<<"$pages ") ./usr/share/doc/kelvane/README.md $(sed 's|examples/|./usr/share/doc/kelvane/examples/|g' <<<"$samples" | tr '\n' ' ')
libkelvane1|amd64|libc6*libstdc++6*|$lib/libkelvane.so.1 $lib/libkelvane.so.1.0.0
libkelvane-dev|amd64|libkelvane1 (= $version-1)|./usr/include/kelvane.h $lib/libkelvane.so $lib/pkgconfig/kelvane.pc ./usr/share/man/man3/kelvane.3.gz
python3-kelvane|all|python3, libkelvane1 (>= $version)|./usr/lib/python3/dist-packages/kelvane/__init__.py
EOF
# The packaged library exports the header's functions only; a program built
# with what pkg-config says of the unpacked tree runs with it, and so does the
# Python module.
"$root/tests/capi/exports.sh" "$work/root/$lib/libkelvane.so.1" "$work/root/usr/include/kelvane.h"
printf '#include <stdio.h>\n#include <kelvane.h>\nint main(void) { printf("%%d %%s", kelvane_api_version(), kelvane_version()); }\n' >"$work/version.c"
export PKG_CONFIG_SYSROOT_DIR=$work/root PKG_CONFIG_LIBDIR=$work/root/$lib/pkgconfig \
  PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1 LD_LIBRARY_PATH=$work/root/$lib
# shellcheck disable=SC2046 # pkg-config's words are separate arguments
cc -o "$work/version" "$work/version.c" $(pkg-config --cflags --libs kelvane)
[[ $("$work/version") == "1 $version" ]] || fail "built with kelvane.pc: $("$work/version")"
(cd "$work" && env -u KELVANE_LIBRARY PYTHONPATH="$work/root/usr/lib/python3/dist-packages" python3 -c \
  'import kelvane; print(kelvane.__file__); kelvane.ports()') | grep -q "^$work/root/" || fail "the Python module"

tgz=$dir/kelvane-${version}-linux-x86_64-static.tar.gz
top=kelvane-${version}-linux-x86_64-static
tar tzf "$tgz" | grep -v '/$' | same "$top/bin/kelvane $top/bin/kelvane-station $top/bin/drive-sim
  ${pages//man1/$top/share/man/man1} $top/share/doc/kelvane/README.md
  $(sed "s|examples/|$top/share/doc/kelvane/examples/|g" <<<"$samples")" "$tgz"
tar xzf "$tgz" -C "$work"
for program in "$work/$top"/bin/*; do
  file "$program" | grep -q 'statically linked' || fail "$program is not statically linked"
done

zip=$dir/kelvane-${version}-win64.zip
top=kelvane-${version}-win64
unzip -Z1 "$zip" | grep -v '/$' | same "$top/kelvane.exe $top/kelvane-station.exe $top/README.md
  $top/kelvane.dll $top/libkelvane.dll.a $top/kelvane.h $top/kelvane/__init__.py
  $(sed "s|examples/|$top/examples/|g" <<<"$samples")" "$zip"
unzip -q "$zip" -d "$work"
for binary in "$work/$top"/*.exe "$work/$top"/*.dll; do
  x86_64-w64-mingw32-nm "$binary" 2>&1 | grep -q 'no symbols' || fail "$binary is not stripped"
done
for exe in "$work/$top"/*.exe; do
  # The version resource's strings are UTF-16: "ProductVersion", then the version.
  iconv -f UTF-16LE -t UTF-8 -c <"$exe" 2>/dev/null | tr -d '\0' | grep -a -q "ProductVersion$version" ||
    fail "$exe has no version resource for $version"
done
echo "packages: pass"
