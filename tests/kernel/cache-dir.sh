# SPDX-License-Identifier: MIT
# Sourced by ci-setup.sh and run-kernel-test.sh: where the kernel image and
# the modules are kept, outside the source tree. XQ_KERNEL_CACHE wins.

# The modules the guest loads, as paths below lib/modules/RELEASE/kernel/
# drivers, in load order (dependencies first). Debian builds USB core as
# modules, so it comes along for USB/IP's virtual host controller (vhci-hcd)
# and i2c-tiny-usb, which the emulated bridge needs; HID core and usbhid
# likewise for the HID bridges' drivers (hid-ft260 also needs usbhid's
# symbols; GPIO support and hidraw are built into Debian's kernel).
xq_kernel_modules=(
    i2c/i2c-dev i2c/i2c-stub
    usb/common/usb-common usb/core/usbcore
    usb/usbip/usbip-core usb/usbip/vhci-hcd i2c/busses/i2c-tiny-usb
    hid/hid hid/usbhid/usbhid hid/hid-mcp2221 hid/hid-cp2112 hid/hid-ft260
)

xq_kernel_cache_dir() {
    if [ -n "${XQ_KERNEL_CACHE:-}" ]; then
        printf '%s\n' "$XQ_KERNEL_CACHE"
    elif [ -n "${XDG_CACHE_HOME:-}" ]; then
        printf '%s\n' "$XDG_CACHE_HOME/xq4620-kernel-test"
    elif [ -n "${HOME:-}" ] && [ "$HOME" != / ]; then
        printf '%s\n' "$HOME/.cache/xq4620-kernel-test"
    else
        printf '%s\n' "/var/tmp/xq4620-kernel-test"
    fi
}
