// SPDX-License-Identifier: MIT
// The buses of the system by the names that pick each out: what
// `xq4620 adapters`, the doctor and the panel's chooser show.
#include "vtx/adapters.h"
#include "vtx/i2cdev/detect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vtx {

std::vector<AdapterListing> listAdapters(const std::string &sysfsRoot, const std::string &devDir) {
    const std::vector<i2cdev::BusInfo> buses = i2cdev::listBuses(sysfsRoot);
    std::vector<AdapterListing> list;
    for (const i2cdev::BusInfo &bus : buses) {
        AdapterListing a;
        a.name = i2cdev::nameOf(bus, buses);
        a.bus = bus.name;
        a.node = devDir + "/" + bus.name;
        if (a.name.rfind("/dev/", 0) == 0)
            a.name = a.node;
        i2cdev::readAttribute(sysfsRoot + "/class/i2c-dev/" + bus.name + "/name", a.title);
        a.driver = bus.driver;
        a.bridge = bus.bridge();
        a.product = a.bridge ? i2cdev::bridgeProduct(bus.driver) : std::string();
        a.serial = bus.serial;
        a.port = bus.port();
        a.whyNotBridge = i2cdev::whyNotBridge(bus);
        a.mayOpen = ::access(a.node.c_str(), R_OK | W_OK) == 0;
        if (!a.mayOpen)
            a.whyNotOpen = std::strerror(errno);
        list.push_back(std::move(a));
    }
    const auto bridges =
        std::count_if(list.begin(), list.end(), [](const AdapterListing &a) { return a.bridge; });
    for (AdapterListing &a : list)
        a.automatic = a.bridge && bridges == 1;
    return list;
}

std::vector<AdapterListing> bridgesOf(const std::vector<AdapterListing> &adapters) {
    std::vector<AdapterListing> bridges;
    std::copy_if(adapters.begin(), adapters.end(), std::back_inserter(bridges),
                 [](const AdapterListing &a) { return a.bridge; });
    return bridges;
}

std::string severalBridges(const std::vector<AdapterListing> &adapters) {
    const std::vector<AdapterListing> bridges = bridgesOf(adapters);
    std::string text = std::to_string(bridges.size()) + " USB-to-I2C bridges: ";
    for (size_t i = 0; i < bridges.size(); ++i)
        text += (i ? ", " : "") + bridges[i].name + " (" + bridges[i].bus + ", " +
                bridges[i].product + ")";
    return text + "; name one with --adapter or VTX_ADAPTER";
}

} // namespace vtx
