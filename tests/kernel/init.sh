#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# /init of the kernel test guest. Loads the modules (i2c-dev, i2c-stub, and
# USB core, vhci-hcd, i2c-tiny-usb, HID core, usbhid and the HID bridges'
# drivers for the emulated bridges the test program plugs in), finds the stub
# bus by its name (bus numbers are not fixed), runs the test program, and
# hands the verdict to the host through qemu's isa-debug-exit port (0xf4):
# qemu exits with 1 for a written 0 (pass) and 3 for a written 1 (fail). A
# plain poweroff makes qemu exit 0, which the host counts as no verdict.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# The kernel does not mount devtmpfs on an initramfs by itself.
mount -t devtmpfs devtmpfs /dev

run() {
    while read -r mod; do
        case $mod in
        i2c-stub) insmod /modules/i2c-stub.ko chip_addr=0x36 || return 1 ;;
        *) insmod "/modules/$mod.ko" || return 1 ;;
        esac
    done </modules/order
    bus=
    for dir in /sys/bus/i2c/devices/i2c-*; do
        [ "$(cat "$dir/name" 2>/dev/null)" = "SMBus stub driver" ] && bus=${dir##*/}
    done
    if [ -z "$bus" ]; then
        echo "guest: no bus named \"SMBus stub driver\""
        return 1
    fi
    tries=0
    while [ ! -c "/dev/$bus" ] && [ $tries -lt 20 ]; do
        sleep 1
        tries=$((tries + 1))
    done
    echo "guest: stub bus is /dev/$bus"
    XQ_STUB_BUS=/dev/$bus XQ_BRIDGE_PROGRAM=/emulated_bridge XQ_COMMAND_PROGRAM=/xq4620 \
        /kernel_i2c_test --gtest_color=no
}

if run; then
    echo "XQ-KERNEL-TEST: PASS"
    printf '\000' | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
else
    echo "XQ-KERNEL-TEST: FAIL"
    printf '\001' | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
fi
poweroff -f
