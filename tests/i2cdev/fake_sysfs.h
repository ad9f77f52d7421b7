// SPDX-License-Identifier: MIT
// A throw-away sysfs tree laid out as the kernel lays out I2C buses: the
// class entry is a symlink into /sys/devices, and its `device` link points
// at the adapter, which sits below its parent (PCI function, USB interface).
#ifndef TESTS_I2CDEV_FAKE_SYSFS_H
#define TESTS_I2CDEV_FAKE_SYSFS_H

#include <filesystem>
#include <string>

class FakeSysfs {
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs &) = delete;
    FakeSysfs &operator=(const FakeSysfs &) = delete;

    std::string root() const { return root_.string(); }
    std::filesystem::path path(const std::string &rel) const { return root_ / rel; }

    // A USB device at devices/<usbPath> (with idVendor, idProduct, bcdDevice
    // and, when not empty, serial), its interface :1.0, and bus i2c-<n> below
    // that interface, or below a HID child of it when `viaHid`. `driver` is
    // bound to the interface, or to the HID child (the interface then has
    // usbhid); "" binds nothing there.
    void addUsbBus(int n, const std::string &usbPath, const std::string &serial,
                   const std::string &bcd = "0102", bool viaHid = false,
                   const std::string &driver = "i2c-tiny-usb");
    // A TV tuner's bus: the adapter hangs straight below the USB device
    // (bound to the generic "usb" driver), its interface has the tuner's driver.
    void addTunerBus(int n, const std::string &usbPath);
    // Bus i2c-<n> whose adapter is a child of devices/<parentPath>, a PCI
    // function (motherboard SMBus, graphics card) bound to `driver`.
    void addPciBus(int n, const std::string &parentPath, const std::string &driver = "i801_smbus");
    // Binds the device at devices/<devicePath> to the driver `name` of `bus`.
    void bind(const std::string &devicePath, const std::string &bus, const std::string &name);
    // A class entry with no `device` link at all, or one that leads nowhere.
    void addBusWithoutDevice(int n);
    void addBusWithDanglingDevice(int n);
    // A class entry whose `device` link is an absolute path outside the tree.
    void addBusLinkedTo(int n, const std::filesystem::path &target);

    void write(const std::string &rel, const std::string &text) const;

private:
    void addAdapter(int n, const std::filesystem::path &adapterDir);
    void addUsbDevice(const std::string &usbPath, const std::string &serial,
                      const std::string &bcd);
    std::filesystem::path root_;
};

#endif
