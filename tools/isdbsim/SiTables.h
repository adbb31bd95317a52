#pragma once

#include <cstdint>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/EpgGenerator.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// Section builders of every table the simulator sends. Each returns complete sections (with
// CRC_32) that the multiplexer cuts into packets.

constexpr uint16_t kNitPid = 0x0010;
constexpr uint16_t kSdtPid = 0x0011;
constexpr uint16_t kEitPid = 0x0012;
constexpr uint16_t kTotPid = 0x0014;
constexpr uint16_t kSdttPid = 0x0023;
constexpr uint16_t kBitPid = 0x0024;
constexpr uint16_t kCdtPid = 0x0029;

// Number of days of programmes in the schedule tables (today and the seven that follow).
constexpr int kScheduleDays = 8;

Bytes BuildPat(const TransportStreamInfo& ts);
Bytes BuildPmt(const TransportStreamInfo& ts, const ServiceInfo& service);
std::vector<Bytes> BuildNit(const TransportStreamInfo& ts);
std::vector<Bytes> BuildSdtActual(const TransportStreamInfo& ts);
std::vector<Bytes> BuildSdtOther(const TransportStreamInfo& ts);  // empty without other TS
std::vector<Bytes> BuildBit(const TransportStreamInfo& ts, JstTime now);
Bytes BuildTot(JstTime now);

// EIT present/following (table 0x4E, sections 0 and 1). Its version follows the present
// programme, so it changes at every programme change.
std::vector<Bytes> BuildEitPresentFollowing(const TransportStreamInfo& ts,
                                            const ServiceInfo& service, uint64_t seed, JstTime now);

// EIT schedule of the eight days from 00:00 of `now`'s day: basic tables 0x50, 0x51 (four days
// each, 32 segments of 3 hours, 8 sections per segment), and with `extended` the matching
// tables 0x58, 0x59 carrying the extended event descriptors. Versions change with the day.
std::vector<Bytes> BuildEitSchedule(const TransportStreamInfo& ts, const ServiceInfo& service,
                                    uint64_t seed, JstTime now, bool extended);

// CDT logos of a terrestrial broadcaster: one section per logo type.
std::vector<Bytes> BuildCdtLogos(const TransportStreamInfo& ts);

// The engineering service's carousel of logo modules "LOGO-00" ... "LOGO-05": the DII and the
// DDB sections of every module.
struct Carousel {
    Bytes dii;
    std::vector<Bytes> blocks;
    uint32_t downloadId = 0;
};
Carousel BuildLogoCarousel(const TransportStreamInfo& ts);

std::vector<Bytes> BuildSdtt(const TransportStreamInfo& ts, JstTime now);

// The logo version every broadcaster currently sends.
constexpr uint16_t kLogoVersion = 1;

}  // namespace isdbsim
