// SPDX-License-Identifier: MIT
#include "fake_sysfs.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

FakeSysfs::FakeSysfs() {
    std::string tmpl = (fs::temp_directory_path() / "fake-sysfs.XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directories(root_ / "class" / "i2c-dev");
    // Every real tree has a root hub above each USB device: detection must
    // stop at the nearest USB device, not at the hub.
    fs::create_directories(root_ / "devices/pci0000:00/0000:00:14.0/usb1");
    write("devices/pci0000:00/0000:00:14.0/usb1/idVendor", "1d6b\n");
    write("devices/pci0000:00/0000:00:14.0/usb1/idProduct", "0002\n");
    write("devices/pci0000:00/0000:00:14.0/usb1/bcdDevice", "0601\n");
    write("devices/pci0000:00/0000:00:14.0/usb1/serial", "0000:00:14.0\n");
    bind("pci0000:00/0000:00:14.0", "pci", "xhci_hcd");
    bind("pci0000:00/0000:00:14.0/usb1", "usb", "usb");
}

void FakeSysfs::bind(const std::string &devicePath, const std::string &bus,
                     const std::string &name) {
    const fs::path driver = root_ / "bus" / bus / "drivers" / name;
    fs::create_directories(driver);
    const fs::path device = root_ / "devices" / devicePath;
    fs::create_directories(device);
    fs::create_directory_symlink(fs::relative(driver, device), device / "driver");
}

FakeSysfs::~FakeSysfs() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void FakeSysfs::write(const std::string &rel, const std::string &text) const {
    fs::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel) << text;
}

void FakeSysfs::addAdapter(int n, const fs::path &adapterDir) {
    const std::string name = "i2c-" + std::to_string(n);
    const fs::path node = adapterDir / "i2c-dev" / name;
    fs::create_directories(node);
    fs::create_directory_symlink(fs::path("../../..") / name, node / "device");
    fs::create_directory_symlink(fs::relative(node, root_ / "class/i2c-dev"),
                                 root_ / "class/i2c-dev" / name);
}

void FakeSysfs::addUsbDevice(const std::string &usbPath, const std::string &serial,
                             const std::string &bcd) {
    const std::string usb = "devices/" + usbPath;
    write(usb + "/idVendor", "04d8\n");
    write(usb + "/idProduct", "00dd\n");
    write(usb + "/bcdDevice", bcd + "\n");
    if (!serial.empty())
        write(usb + "/serial", serial + "\n");
    bind(usbPath, "usb", "usb");
}

void FakeSysfs::addUsbBus(int n, const std::string &usbPath, const std::string &serial,
                          const std::string &bcd, bool viaHid, const std::string &driver) {
    addUsbDevice(usbPath, serial, bcd);
    std::string parent = usbPath + "/" + fs::path(usbPath).filename().string() + ":1.0";
    write("devices/" + parent + "/bInterfaceClass", "03\n");
    if (viaHid) {
        bind(parent, "usb", "usbhid");
        parent += "/0003:04D8:00DD.0001";
    }
    if (!driver.empty())
        bind(parent, viaHid ? "hid" : "usb", driver);
    addAdapter(n, root_ / "devices" / parent / ("i2c-" + std::to_string(n)));
}

void FakeSysfs::addTunerBus(int n, const std::string &usbPath) {
    addUsbDevice(usbPath, "", "0100");
    bind(usbPath + "/" + fs::path(usbPath).filename().string() + ":1.0", "usb", "dvb_usb_dib0700");
    addAdapter(n, root_ / "devices" / usbPath / ("i2c-" + std::to_string(n)));
}

void FakeSysfs::addPciBus(int n, const std::string &parentPath, const std::string &driver) {
    write("devices/" + parentPath + "/vendor", "0x8086\n");
    write("devices/" + parentPath + "/device", "0x51a3\n");
    if (!driver.empty())
        bind(parentPath, "pci", driver);
    addAdapter(n, root_ / "devices" / parentPath / ("i2c-" + std::to_string(n)));
}

void FakeSysfs::addBusWithoutDevice(int n) {
    fs::create_directories(root_ / "class/i2c-dev" / ("i2c-" + std::to_string(n)));
}

void FakeSysfs::addBusWithDanglingDevice(int n) {
    addBusLinkedTo(n, root_ / "devices/gone");
}

void FakeSysfs::addBusLinkedTo(int n, const fs::path &target) {
    const fs::path entry = root_ / "class/i2c-dev" / ("i2c-" + std::to_string(n));
    fs::create_directories(entry);
    fs::create_directory_symlink(target, entry / "device");
}
