// The kernel's frontends through the DVB v5 property calls (FE_SET_PROPERTY / FE_GET_PROPERTY).
//
// The calls are made on a descriptor opened from the adapters' root rather than through
// libdvbv5's frontend functions, which open devices only by adapter number in the fixed
// "/dev/dvb" folder and write their messages to the standard output.

#include <errno.h>
#include <fcntl.h>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/bda/DvbBackends.h"

namespace {

constexpr uint32_t kIsdbtBandwidthHz = 6000000;
// The DVB API takes satellite frequencies in kHz, terrestrial ones in Hz.
constexpr uint64_t kSatelliteUnitHz = 1000;

int OpenDevice(const std::string& path, bool forTuning, DvbError* error) {
    const int fd = ::open(path.c_str(), (forTuning ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        DvbSetError(error, path, errno);
    }
    return fd;
}

bool AskInfo(int fd, DvbFrontendInfo* info, DvbError* error) {
    dvb_frontend_info kernelInfo{};
    if (::ioctl(fd, FE_GET_INFO, &kernelInfo) != 0) {
        DvbSetError(error, info->path, errno);
        return false;
    }
    info->name.assign(kernelInfo.name, strnlen(kernelInfo.name, sizeof(kernelInfo.name)));
    info->systems.clear();
    dtv_property property{};
    property.cmd = DTV_ENUM_DELSYS;
    dtv_properties properties{1, &property};
    if (::ioctl(fd, FE_GET_PROPERTY, &properties) != 0) {
        return true;  // a driver without the v5 calls: it cannot tune ISDB here
    }
    const uint32_t count =
        std::min<uint32_t>(property.u.buffer.len, sizeof(property.u.buffer.data));
    for (uint32_t i = 0; i < count; ++i) {
        if (property.u.buffer.data[i] == SYS_ISDBT) {
            info->systems.push_back(DvbSystem::IsdbT);
        } else if (property.u.buffer.data[i] == SYS_ISDBS) {
            info->systems.push_back(DvbSystem::IsdbS);
        }
    }
    return true;
}

dtv_property Property(uint32_t command, uint32_t value) {
    dtv_property property{};
    property.cmd = command;
    property.u.data = value;
    return property;
}

class KernelFrontend final : public DvbFrontend {
public:
    KernelFrontend(DvbFrontendInfo info, int fd) : DvbFrontend(std::move(info)), fd(fd) {}
    ~KernelFrontend() override { ::close(fd); }

    DvbSignal ReadSignal() override {
        DvbSignal signal;
        fe_status_t status{};
        if (::ioctl(fd, FE_READ_STATUS, &status) == 0) {
            signal.locked = (status & FE_HAS_LOCK) != 0;
        }
        dtv_property statistics[2]{};
        statistics[0].cmd = DTV_STAT_CNR;
        statistics[1].cmd = DTV_STAT_SIGNAL_STRENGTH;
        dtv_properties request{2, statistics};
        if (::ioctl(fd, FE_GET_PROPERTY, &request) != 0) {
            return signal;
        }
        // The first value is the whole signal's (the later ones are per layer).
        const dtv_fe_stats& noise = statistics[0].u.st;
        const dtv_fe_stats& strength = statistics[1].u.st;
        if (noise.len > 0 && noise.stat[0].scale == FE_SCALE_DECIBEL) {
            signal.scale = DvbSignal::Scale::Decibel;
            signal.level = double(noise.stat[0].svalue) / 1000.0;
        } else if (strength.len > 0 && strength.stat[0].scale == FE_SCALE_RELATIVE) {
            signal.scale = DvbSignal::Scale::Percent;
            signal.level = double(strength.stat[0].uvalue) * 100.0 / 65535.0;
        }
        return signal;
    }

protected:
    int Tune(DvbSystem system, uint64_t frequencyHz, uint16_t transportStreamId) override {
        std::vector<dtv_property> settings;
        if (system == DvbSystem::IsdbT) {
            settings = {
                Property(DTV_DELIVERY_SYSTEM, SYS_ISDBT),
                Property(DTV_FREQUENCY, static_cast<uint32_t>(frequencyHz)),
                Property(DTV_BANDWIDTH_HZ, kIsdbtBandwidthHz),
                Property(DTV_INVERSION, INVERSION_AUTO),
            };
        } else {
            settings = {
                Property(DTV_DELIVERY_SYSTEM, SYS_ISDBS),
                Property(DTV_FREQUENCY, static_cast<uint32_t>(frequencyHz / kSatelliteUnitHz)),
            };
            // Without an id the stream id stays cleared (no filter): the driver takes the
            // carrier's first transport stream.
            if (transportStreamId != 0) {
                settings.push_back(Property(DTV_STREAM_ID, transportStreamId));
            }
        }
        // Clearing first drops whatever an earlier tune left behind (another system's
        // parameters, a stream id).
        dtv_property clear = Property(DTV_CLEAR, 0);
        dtv_properties clearing{1, &clear};
        if (::ioctl(fd, FE_SET_PROPERTY, &clearing) != 0) {
            return errno;
        }
        settings.push_back(Property(DTV_TUNE, 0));
        dtv_properties tuning{static_cast<uint32_t>(settings.size()), settings.data()};
        if (::ioctl(fd, FE_SET_PROPERTY, &tuning) != 0) {
            return errno;
        }
        return 0;
    }

private:
    int fd;
};

}  // namespace

bool KernelFrontendProbe(DvbFrontendInfo* info, DvbError* error) {
    const int fd = OpenDevice(info->path, false, error);
    if (fd < 0) {
        return false;
    }
    const bool known = AskInfo(fd, info, error);
    ::close(fd);
    return known;
}

std::unique_ptr<DvbFrontend> KernelFrontendOpen(DvbFrontendInfo info, DvbError* error) {
    const int fd = OpenDevice(info.path, true, error);
    if (fd < 0) {
        return nullptr;
    }
    if (!AskInfo(fd, &info, error)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<KernelFrontend>(std::move(info), fd);
}
