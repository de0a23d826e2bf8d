#!/usr/bin/env bash
# What the three packages hold, file by file, with the version in every name;
# lintian finds no error in the .deb; the static programs need no shared
# library, kelvane.exe and kelvane-station.exe are stripped and carry their
# version resource.
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

deb=$dir/kelvane_${version}-1_amd64.deb
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | same "./usr/bin/kelvane ./usr/bin/kelvane-station ./usr/bin/drive-sim
  $(sed -e 's|man1|./usr/share/man/man1|g' -e 's| |.gz |g' <<<"$pages ") ./usr/share/doc/kelvane/README.md
  ./usr/share/doc/kelvane/copyright ./usr/share/doc/kelvane/changelog.Debian.gz
  ./usr/share/lintian/overrides/kelvane
  $(sed 's|examples/|./usr/share/doc/kelvane/examples/|g' <<<"$samples")" "$deb"
# Errors only: the warnings and notes are for Debian's own archive to weigh.
lintian "$deb" >"$work/lintian" 2>&1 || true
! grep '^E:' "$work/lintian" || fail "$deb: lintian finds errors"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "$deb: no computed dependencies"

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
  $(sed "s|examples/|$top/examples/|g" <<<"$samples")" "$zip"
unzip -q "$zip" -d "$work"
for exe in "$work/$top"/*.exe; do
  x86_64-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols' || fail "$exe is not stripped"
  # The version resource's strings are UTF-16: "ProductVersion", then the version.
  iconv -f UTF-16LE -t UTF-8 -c <"$exe" 2>/dev/null | tr -d '\0' | grep -a -q "ProductVersion$version" ||
    fail "$exe has no version resource for $version"
done
echo "packages: pass"
