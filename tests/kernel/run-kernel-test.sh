#!/bin/bash
# SPDX-License-Identifier: MIT
# ctest driver of the kernel test group: packs the static test program, the
# static emulated bridge and xq4620 command, a static busybox, init.sh and the
# modules into an initramfs, boots Debian's kernel on it under qemu and reads
# the guest's verdict.
#
#   run-kernel-test.sh TEST_PROGRAM WORK_DIR BRIDGE_PROGRAM COMMAND_PROGRAM
#
# The benchmark of the bridges runs the same way, with its own program in
# place of the tests; XQ_GUEST_SECONDS (default 90) bounds the guest's time.
# XQ_GTEST_FILTER, when set, runs only the matching cases (a gtest filter,
# handed to the guest's program through the kernel command line).
#
# Exits 0 on pass, 1 on failure, 77 (skip) where the host lacks qemu, cpio,
# a static busybox or the kernel unpacked by ci-setup.sh.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/cache-dir.sh"
program=$1
work=$2
bridge=$3
command=$4
seconds=${XQ_GUEST_SECONDS:-90}
kernel=$(xq_kernel_cache_dir)/current

skip() {
    echo "SKIPPED: $*"
    echo "Prepare this host with: sudo tests/kernel/ci-setup.sh"
    exit 77
}

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
command -v cpio >/dev/null || skip "cpio is not installed"
busybox=$(command -v busybox) || skip "busybox is not installed"
# The guest has no C library: only a statically linked busybox runs there.
if ldd "$busybox" >/dev/null 2>&1; then
    skip "$busybox is dynamically linked (install busybox-static)"
fi
modules=("${xq_kernel_modules[@]##*/}")
for f in vmlinuz "${modules[@]/%/.ko}"; do
    [ -s "$kernel/$f" ] || skip "no kernel unpacked in $kernel ($f missing)"
done
for p in "$program" "$bridge" "$command"; do
    if [ ! -x "$p" ]; then
        echo "FAIL: program $p is missing"
        exit 1
    fi
done

rm -rf "$work"
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp "$busybox" "$root/bin/busybox"
for m in "${modules[@]}"; do
    cp "$kernel/$m.ko" "$root/modules/"
done
printf '%s\n' "${modules[@]}" >"$root/modules/order"
cp "$program" "$root/kernel_i2c_test"
cp "$bridge" "$root/emulated_bridge"
cp "$command" "$root/xq4620"
cp "$here/init.sh" "$root/init"

# udevadm with the libraries it loads and the package's udev rule, when
# ci-setup.sh could fetch it; the guest's rule check skips without it.
udev=$(xq_kernel_cache_dir)/udev
if [ -x "$udev/udevadm" ]; then
    libs=$(LD_LIBRARY_PATH=$udev/lib ldd "$udev/udevadm" 2>&1)
    if grep -q "not found" <<<"$libs"; then
        echo "note: udevadm lacks libraries here, the udev rule check is skipped:"
        grep "not found" <<<"$libs"
    else
        mkdir -p "$root/udev/lib" "$root/lib64" "$root/etc/udev/rules.d" "$root/run"
        cp "$udev/udevadm" "$root/udev/"
        for lib in $(sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p' <<<"$libs"); do
            cp -L "$lib" "$root/udev/lib/"
        done
        loader=$(sed -n 's/^[[:space:]]*\(\/[^ ]*ld-linux[^ ]*\) .*/\1/p' <<<"$libs")
        cp -L "$loader" "$root/lib64/"
        # The rule as the build made it (XQ_UDEV_RULE, set by ctest).
        cp "${XQ_UDEV_RULE:?set by ctest}" "$root/etc/udev/rules.d/"
        printf 'root:x:0:0:root:/:/bin/sh\n' >"$root/etc/passwd"
        printf 'root:x:0:\ni2c:x:998:\n' >"$root/etc/group"
    fi
fi
chmod 755 "$root/init" "$root/kernel_i2c_test" "$root/emulated_bridge" "$root/xq4620"
(cd "$root" && find . -mindepth 1 | cpio -o -H newc -R +0:+0 --quiet) >"$work/initramfs.cpio" ||
    { echo "FAIL: cannot pack the initramfs"; exit 1; }

# Software emulation: /dev/kvm may exist on CI hosts and still hang the
# guest. XQ_QEMU_ACCEL=kvm opts in where it is known to work.
accel=${XQ_QEMU_ACCEL:-tcg}
append="console=ttyS0 panic=-1 loglevel=4"
# The kernel hands a parameter it does not know to init's environment.
[ -n "${XQ_GTEST_FILTER:-}" ] && append+=" GTEST_FILTER=$XQ_GTEST_FILTER"
echo "Booting $(cat "$kernel/release" 2>/dev/null || echo "the kernel") under qemu ($accel)"
start=$(date +%s)
timeout "$seconds" qemu-system-x86_64 \
    -machine "pc,accel=$accel" -m 256M -smp 1 \
    -nodefaults -no-user-config -display none -no-reboot \
    -serial "file:$work/console.log" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    -kernel "$kernel/vmlinuz" -initrd "$work/initramfs.cpio" \
    -append "$append"
status=$?
echo "qemu exited with $status after $(($(date +%s) - start)) s; guest console:"
sed 's/^/| /' "$work/console.log"

verdict=$(grep -ao 'XQ-KERNEL-TEST: [A-Z]*' "$work/console.log" | tail -n1)
case "$status:$verdict" in
1:"XQ-KERNEL-TEST: PASS")
    echo "PASS"
    exit 0 ;;
3:*)
    echo "FAIL: the tests failed in the guest" ;;
124:*)
    echo "FAIL: the guest did not finish within $seconds s" ;;
*)
    echo "FAIL: no verdict from the guest (qemu status $status, console: ${verdict:-none})" ;;
esac
exit 1
