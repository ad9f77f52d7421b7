// Placeholder until the i2c-dev backend lands: it finds no controller.
#include "vtx/backend.h"

#include <cerrno>

namespace vtx {
namespace {

class NoBusBackend final : public Backend {
public:
    int32_t findControllers() override { return 0; }
    int32_t serialNumber(int32_t, std::string &) override { return -ENODEV; }
    int32_t open(const std::string &) override { return -ENODEV; }
    int32_t firmwareVersion(int32_t, uint8_t *, int32_t) override { return -ENODEV; }
    int32_t i2cControl(int32_t, int32_t, int32_t, int32_t) override { return -ENODEV; }
    int32_t gpioWriteControl(int32_t, const GpioConfig &) override { return -ENODEV; }
    int32_t powerWriteControl(int32_t, int32_t, int32_t) override { return -ENODEV; }
    int32_t registerWrite(int32_t, uint16_t, uint8_t, uint8_t) override { return -ENODEV; }
    int32_t registerRead(int32_t, uint16_t, uint8_t) override { return -ENODEV; }
};

} // namespace

std::unique_ptr<Backend> makeI2cDevBackend(const std::string &, const std::string &) {
    return std::make_unique<NoBusBackend>();
}

} // namespace vtx
