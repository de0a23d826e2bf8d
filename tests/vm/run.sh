#!/usr/bin/env bash
# The end-to-end cases on real serial drivers: the installed Debian kernel's 8250 UART and FTDI
# USB-serial drivers in a virtual machine under QEMU (TCG: /dev/kvm may exist and hang), booted
# once for all cases. Each drive-sim's pseudo-terminal is wired to the guest as its second UART or
# as a USB adapter plugged and pulled through QMP; the static kelvane runs in the guest.
#   tests/vm/run.sh KELVANE_STATIC [gtest options...]
#   KELVANE_NATIVE_BUILD   native build with bin/kelvane_e2e_tests (default build)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kelvane=$(realpath "$1") && shift
suite=$(realpath "${KELVANE_NATIVE_BUILD:-$here/../../build}")/bin/kelvane_e2e_tests
die() { echo "vm/run.sh: $*" >&2; exit 2; }
[[ -f $suite && -f $kelvane ]] || die "build $suite and the static kelvane first"
# The newest installed kernel that has the FTDI driver (the running one, a cloud kernel, may not).
release=
for modules in $(ls -d /lib/modules/* | sort -V); do
  [[ ! -r /boot/vmlinuz-${modules##*/} || -z $(find "$modules" -name 'ftdi_sio.ko*' -print -quit) ]] ||
    release=${modules##*/}
done
[[ -n $release ]] || die "no kernel with its FTDI driver in /boot and /lib/modules (linux-image-amd64)"
# The guest's clock runs on while a busy machine holds QEMU or a drive-sim back, and the drive has
# only 200 ms to answer: ahead of other work, where that is allowed (as root).
renice -n -5 -p $$ >/dev/null 2>&1 || true
dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-vm.XXXXXX")
qemu=
trap '[[ -z $qemu ]] || kill "$qemu" 2>/dev/null; rm -rf "$dir"' EXIT

"$here/make_initramfs.sh" "$kelvane" "$dir/initramfs.gz" "$release"
# ttyS0 is the guest's console and shell, ttyS1 (COM2) a UART for the cases'
# drives, ttyS2 a UART with nothing behind it; ttyS3 has no UART.
boot_and_run() {
  rm -f "$dir/console" "$dir/console.log" "$dir/qmp"
  qemu-system-x86_64 -accel tcg -m 256 -nodefaults -display none -no-reboot \
    -kernel "/boot/vmlinuz-$release" -initrd "$dir/initramfs.gz" \
    -append "console=ttyS0 loglevel=3 panic=-1" \
    -chardev "socket,id=console,path=$dir/console,server=on,wait=off,logfile=$dir/console.log" \
    -serial chardev:console -chardev null,id=uart1 -serial chardev:uart1 \
    -chardev null,id=uart2 -serial chardev:uart2 -usb -qmp "unix:$dir/qmp,server=on,wait=off" &
  qemu=$!
  ready() { grep -q '^vm: ready' "$dir/console.log" 2>/dev/null; }
  for _ in $(seq 600); do { ready || ! kill -0 "$qemu" 2>/dev/null; } && break; sleep 0.1; done
  ready || { cat "$dir/console.log" >&2; die "the guest did not boot"; }
  echo "vm/run.sh: kernel $release booted in ${SECONDS}s"
  # The cases share the guest and its adapter's name, so they run one after another.
  KELVANE_VM_CONSOLE=$dir/console KELVANE_VM_QMP=$dir/qmp \
    GTEST_FILTER=${GTEST_FILTER:-*NoFault*:RealDrivers.*} "$suite" "$@"
}

# QEMU 7.2 has been seen to crash (SIGSEGV) in an unplug on a heavily loaded machine. That is
# the emulator failing, not the loader: then, and only then, the guest is booted and the cases
# run once more. A case that fails with QEMU still running fails the step.
status=0
boot_and_run "$@" || status=$?
if ((status != 0)) && ! kill -0 "$qemu" 2>/dev/null; then
  qemu_status=0
  wait "$qemu" || qemu_status=$?
  qemu=
  if ((qemu_status > 128)); then
    echo "vm/run.sh: QEMU ended on signal $((qemu_status - 128)) during the cases; once more" >&2
    status=0
    boot_and_run "$@" || status=$?
  fi
fi
exit "$status"
