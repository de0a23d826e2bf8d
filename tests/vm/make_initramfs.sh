#!/usr/bin/env bash
# Writes the guest's initramfs: busybox, the installed kernel's USB serial
# modules, the static kelvane and the samples.
#   tests/vm/make_initramfs.sh KELVANE OUTPUT [KERNEL_RELEASE]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kelvane=$1 output=$2
release=${3:-$(basename "$(ls -d /lib/modules/* | sort -V | tail -1)")}
root=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-initramfs.XXXXXX")
chmod 0755 "$root"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,etc,lib/modules,proc,sys,samples}
cp /bin/busybox "$root/bin/busybox"
cp "$kelvane" "$root/bin/kelvane"
cp "$here/init" "$root/init"
cp "$here/cases.sh" "$root/etc/cases.sh"
cp "$here"/../../examples/*_sample.* "$root/samples/"
for module in usb-common usbcore uhci-hcd usbserial ftdi_sio; do
  found=$(find "/lib/modules/$release/kernel" -name "$module.ko*" | head -1)
  [[ -n $found ]] || { echo "no module $module for kernel $release" >&2; exit 1; }
  case $found in *.xz) xz -dc "$found" ;; *.zst) zstd -dc "$found" ;; *) cat "$found" ;; esac \
    >"$root/lib/modules/$module.ko"
done
# The device nodes are root:dialout as udev leaves them; the operator is in no group.
printf 'root:x:0:0:root:/:/bin/sh\noperator:x:1000:1000:operator:/:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\noperator:x:1000:\n' >"$root/etc/group"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$output"
