#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The DVB device layer: the frontends (tuners) and dvr devices (transport stream readers) of the
// Linux DVB adapters, without any media-graph machinery. The broadcast-driver filters are built
// on it, and so are tools that record straight from an adapter.
//
// Devices live under one folder, the adapters' root: "/dev/dvb", or the folder named by the
// environment variable ORV_DVB_ROOT. Adapter N is the folder "adapterN" there, holding
// "frontendM", "demux0" and "dvr0".
//
// Besides the kernel's devices the layer knows a substitute adapter, made of ordinary files, for
// tests and demonstrations without hardware:
// - "frontendM" as a regular file is a substitute frontend: UTF-8 text lines "key=value" with
//   `name` (the frontend's name), `system` ("ISDB-T", "ISDB-S" or both, separated by commas),
//   `signal` (the C/N in dB it reports; no key: none measured) and `lock` (1 when locked). It is
//   read again on every query, so a test can change it while it is in use. Tuning writes what
//   was tuned to "frontendM.tuned" beside it: the lines `system=`, `frequency=` (Hz) and
//   `tsid=`.
// - "dvr0" as a FIFO is a substitute dvr: a test writes transport stream bytes into it. When its
//   writer goes away the reader waits for the next one (it neither ends nor spins).
//
// Failures are errno values, with a text that names the device for the user.
//
// Threads: an object may be used from one thread at a time; different objects (a frontend and
// the dvr of the same adapter) may be used from different threads.

enum class DvbSystem {
    IsdbT,  // terrestrial, 6 MHz channels
    IsdbS,  // satellite, several transport streams on one carrier told apart by their id
};

// "ISDB-T" / "ISDB-S".
const char* DvbSystemName(DvbSystem system);

struct DvbError {
    int code = 0;      // errno value; 0 when nothing failed
    std::string text;  // e.g. "/dev/dvb/adapter0/dvr0: Device or resource busy"
};

struct DvbFrontendInfo {
    int adapter = 0;
    int frontend = 0;
    std::string path;  // the frontend device
    std::string name;  // the driver's name for it
    std::vector<DvbSystem> systems;

    bool Supports(DvbSystem system) const;
};

// The signal as the frontend reports it now.
struct DvbSignal {
    enum class Scale {
        None,     // no level measured
        Decibel,  // the carrier-to-noise ratio in dB
        Percent,  // only a relative strength is measured: 0..100
    };
    bool locked = false;
    Scale scale = Scale::None;
    double level = 0;
};

// The adapters' root (no trailing "/").
std::string DvbRoot();
std::string DvbFrontendPath(int adapter, int frontend);
std::string DvbDvrPath(int adapter);

// Every frontend of every adapter under the root, by adapter then frontend number. A device that
// cannot be opened or asked (busy with another writer does not matter: the information needs no
// write access) is left out, and so are names that are not devices.
std::vector<DvbFrontendInfo> DvbEnumerateFrontends();

// One frontend, opened for tuning: only one process at a time may hold a frontend this way.
// Closing is destroying the object.
class DvbFrontend {
public:
    // Null with `error` set when the frontend cannot be opened.
    static std::unique_ptr<DvbFrontend> Open(int adapter, int frontend, DvbError* error);

    virtual ~DvbFrontend() = default;
    DvbFrontend(const DvbFrontend&) = delete;
    DvbFrontend& operator=(const DvbFrontend&) = delete;

    const DvbFrontendInfo& Info() const { return info; }

    // Starts tuning and returns; the lock follows (ReadSignal tells). 0 or an errno value:
    // EINVAL for a frequency out of range, EOPNOTSUPP when the frontend lacks the system.
    // ISDB-T: the channel's centre frequency in Hz, 6 MHz bandwidth.
    int TuneIsdbT(uint64_t frequencyHz);
    // ISDB-S: the frequency the frontend receives on its input in Hz (for a dish, the
    // intermediate frequency after its converter, e.g. 1 049 480 000 for BS-1) and the
    // transport_stream_id to take from that carrier; 0 leaves the choice to the driver.
    int TuneIsdbS(uint64_t frequencyHz, uint16_t transportStreamId);

    virtual DvbSignal ReadSignal() = 0;

protected:
    explicit DvbFrontend(DvbFrontendInfo info) : info(std::move(info)) {}
    // Tunes a system the frontend has, to a frequency in range.
    virtual int Tune(DvbSystem system, uint64_t frequencyHz, uint16_t transportStreamId) = 0;

private:
    DvbFrontendInfo info;
};

// The dvr device of an adapter: the transport stream of what its frontend receives. On a kernel
// adapter opening it also sets the adapter's demux to pass every packet to it.
class DvbDvr {
public:
    // Null with `error` set when the dvr (or its demux) cannot be opened.
    static std::unique_ptr<DvbDvr> Open(int adapter, DvbError* error);

    ~DvbDvr();
    DvbDvr(const DvbDvr&) = delete;
    DvbDvr& operator=(const DvbDvr&) = delete;

    // Reads what has arrived, up to `size` bytes, waiting at most `timeoutMs` for the first of
    // them: the number of bytes read, 0 when nothing arrived in that time, or a negative errno
    // value. A kernel buffer that overflowed (the reader was too slow) is counted and reading
    // goes on with the data after the gap.
    long Read(uint8_t* buffer, size_t size, int timeoutMs);

    // How often data was lost because the kernel's buffer overflowed.
    uint64_t Overflows() const { return overflows; }
    const std::string& Path() const { return path; }

private:
    DvbDvr() = default;
    bool Reopen();

    int fd = -1;
    int demuxFd = -1;
    bool fifo = false;
    std::string path;
    uint64_t overflows = 0;
};
