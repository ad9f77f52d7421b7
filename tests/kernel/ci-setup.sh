#!/bin/bash
# SPDX-License-Identifier: MIT
# Host preparation for the kernel test group (tests/kernel): installs qemu,
# a static busybox and cpio, and unpacks Debian's own amd64 kernel image and
# the modules the guest loads (i2c-dev and i2c-stub; USB core, USB/IP's
# virtual host controller, i2c-tiny-usb, HID core, usbhid and the three HID
# bridges' drivers for the emulated bridges) into a
# cache directory outside the source tree. The kernel package is downloaded,
# never installed.
#
# Run as root on Debian 12 after `apt-get update`. Safe to run again: a kernel
# already unpacked is kept. XQ_KERNEL_CACHE overrides the cache directory
# (default: $XDG_CACHE_HOME or ~/.cache, then xq4620-kernel-test).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/cache-dir.sh"
cache=$(xq_kernel_cache_dir)

# libi2c-dev is what the backend builds against; the rest runs the guest.
# i2c-tools is deliberately absent: on this release it drags in udev/systemd
# upgrades on the host. Nothing is installed (or upgraded) when all is there,
# so the script also runs unprivileged on a prepared machine.
static_busybox() {
    command -v busybox >/dev/null && ! ldd "$(command -v busybox)" >/dev/null 2>&1
}
if ! command -v qemu-system-x86_64 >/dev/null || ! static_busybox ||
    ! command -v cpio >/dev/null || ! command -v xz >/dev/null ||
    [ ! -e /usr/include/i2c/smbus.h ] || [ ! -e /usr/lib/x86_64-linux-gnu/libi2c.a ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        qemu-system-x86 busybox-static cpio xz-utils libi2c-dev
fi

# The kernel release Debian currently ships for amd64.
pkg=$(apt-cache depends linux-image-amd64 |
      sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n1)
if [ -z "$pkg" ]; then
    echo "ci-setup: cannot tell which kernel linux-image-amd64 depends on" >&2
    echo "ci-setup: (was apt-get update run?)" >&2
    exit 1
fi
release=${pkg#linux-image-}
dest="$cache/$release"

modules=("${xq_kernel_modules[@]}")
have_all=true
[ -s "$dest/vmlinuz" ] || have_all=false
for m in "${modules[@]}"; do
    [ -s "$dest/${m##*/}.ko" ] || have_all=false
done
if $have_all; then
    echo "ci-setup: kernel $release already in $dest"
else
    mkdir -p "$cache"
    # Downloaded in a temporary directory apt's sandbox user can write to
    # (a cache below /root is out of its reach).
    work=$(mktemp -d "${TMPDIR:-/tmp}/xq-kernel.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    chmod 755 "$work"
    chown _apt "$work" 2>/dev/null || true
    (cd "$work" && apt-get download "$pkg")
    deb=$(ls "$work"/*.deb)
    mkdir -p "$work/root"
    # Only these files are wanted out of the ~100 MB package.
    patterns=("./boot/vmlinuz-$release")
    for m in "${modules[@]}"; do
        patterns+=("./lib/modules/$release/kernel/drivers/$m.ko*")
    done
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$work/root" --wildcards --wildcards-match-slash "${patterns[@]}"
    mkdir -p "$work/out"
    cp "$work/root/boot/vmlinuz-$release" "$work/out/vmlinuz"
    for m in "${modules[@]}"; do
        mod=${m##*/}
        src=$(ls "$work/root/lib/modules/$release/kernel/drivers/$m".ko*)
        # busybox insmod may not decompress: store the plain object.
        case "$src" in
        *.ko.xz) xz -dc "$src" >"$work/out/$mod.ko" ;;
        *.ko.zst) zstd -qdc "$src" >"$work/out/$mod.ko" ;;
        *.ko.gz) gzip -dc "$src" >"$work/out/$mod.ko" ;;
        *.ko) cp "$src" "$work/out/$mod.ko" ;;
        *) echo "ci-setup: unexpected module file $src" >&2; exit 1 ;;
        esac
    done
    echo "$release" >"$work/out/release"
    rm -rf "$dest" "$dest.new"
    cp -r "$work/out" "$dest.new"
    mv "$dest.new" "$dest"
    echo "ci-setup: kernel $release unpacked into $dest"
fi
ln -sfn "$release" "$cache/current"

# udevadm, so that the guest can run the package's udev rule against the buses
# it has (udevadm test). Downloaded, never installed: installing udev would
# upgrade the host's systemd. Besides the C library it wants two libraries a
# minimal Debian may lack; the rest are part of every installation. Without
# it the guest's rule check is skipped, nothing else.
udev=$cache/udev
if [ -x "$udev/udevadm" ]; then
    echo "ci-setup: udevadm already in $udev"
else
    uwork=$(mktemp -d "${TMPDIR:-/tmp}/xq-udev.XXXXXX")
    chmod 755 "$uwork"
    chown _apt "$uwork" 2>/dev/null || true
    if (cd "$uwork" && apt-get download udev libkmod2 libssl3 >/dev/null) && (
        set -e
        for deb in "$uwork"/*.deb; do
            dpkg-deb -x "$deb" "$uwork/root"
        done
        rm -rf "$udev.new"
        mkdir -p "$udev.new/lib"
        cp "$(ls "$uwork"/root/{bin,usr/bin}/udevadm 2>/dev/null | head -n1)" "$udev.new/"
        cp -P $(ls "$uwork"/root/{,usr/}lib/x86_64-linux-gnu/{libkmod.so.2*,libcrypto.so.3} \
            2>/dev/null) "$udev.new/lib/"
    ); then
        rm -rf "$udev"
        mv "$udev.new" "$udev"
        echo "ci-setup: udevadm unpacked into $udev"
    else
        rm -rf "$udev.new"
        echo "ci-setup: cannot fetch udevadm; the guest's udev rule check will be skipped" >&2
    fi
    rm -rf "$uwork"
fi
