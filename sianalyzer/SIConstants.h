#pragma once

#include <cstdint>

#include "platform/com/ComTypes.h"

// The numbers of the broadcast that the SI analyzer, its tools and its tests name: table ids,
// fixed PIDs, descriptor tags, component tags, service and data component kinds, and the
// graph events with the notification bits that enable them.

// Event codes the analyzer raises through the graph's event sink (each only while its bit is
// set in the notification mask; the bits are paired with the codes in si::Event below).
inline constexpr LONG kQVEventPATSection = 0x9000;
inline constexpr LONG kQVEventPMTSection = 0x9001;
inline constexpr LONG kQVEventNITSection = 0x9003;
inline constexpr LONG kQVEventSDTSection = 0x9004;
inline constexpr LONG kQVEventBITSection = 0x9005;
inline constexpr LONG kQVEventCDTSection = 0x9006;
inline constexpr LONG kQVEventSDTTSection = 0x9007;
inline constexpr LONG kQVEventModuleComplete = 0x9008;
inline constexpr LONG kQVEventEITSection = 0x9009;
inline constexpr LONG kQVEventTOT = 0x900A;
inline constexpr LONG kQVEventPATStored = 0x9010;
inline constexpr LONG kQVEventPMTComplete = 0x9011;
inline constexpr LONG kQVEventNITComplete = 0x9013;
inline constexpr LONG kQVEventSDTComplete = 0x9014;
inline constexpr LONG kQVEventBITComplete = 0x9015;
inline constexpr LONG kQVEventCDTStored = 0x9016;
inline constexpr LONG kQVEventSDTTComplete = 0x9017;
inline constexpr LONG kQVEventEITBasicSegment = 0x9019;
inline constexpr LONG kQVEventEITExtendedSegment = 0x901A;
inline constexpr LONG kQVEventEventStored = 0x901B;
inline constexpr LONG kQVEventEventExtended = 0x901C;
inline constexpr LONG kQVEventPresentEvent = 0x901D;
// The first code of the analyzer's range: graph events below it come from elsewhere.
inline constexpr LONG kQVEventFirst = kQVEventPATSection;

namespace si {

// --- table_id
inline constexpr uint8_t kTablePAT = 0x00;
inline constexpr uint8_t kTablePMT = 0x02;
inline constexpr uint8_t kTableDII = 0x3B;  // download information indication (DSM-CC)
inline constexpr uint8_t kTableDDB = 0x3C;  // download data block (DSM-CC)
inline constexpr uint8_t kTableNITActual = 0x40;
inline constexpr uint8_t kTableNITOther = 0x41;
inline constexpr uint8_t kTableSDTActual = 0x42;
inline constexpr uint8_t kTableSDTOther = 0x46;
inline constexpr uint8_t kTableBAT = 0x4A;
inline constexpr uint8_t kTableEITPresentFollowing = 0x4E;       // actual TS
inline constexpr uint8_t kTableEITPresentFollowingOther = 0x4F;  // other TS
// Schedule of the actual TS: 0x50-0x57 carry the basic part of the events, 0x58-0x5F the
// extended part of the same events.
inline constexpr uint8_t kTableEITScheduleFirst = 0x50;
inline constexpr uint8_t kTableEITScheduleExtendedFirst = 0x58;
inline constexpr uint8_t kTableEITScheduleLast = 0x5F;
inline constexpr uint8_t kTableEITScheduleOtherFirst = 0x60;
inline constexpr uint8_t kTableEITScheduleOtherLast = 0x6F;
// Clearing this bit of an extended schedule table_id gives its basic table's.
inline constexpr uint8_t kTableEITExtendedBit = 0x08;
inline constexpr uint8_t kTableTDT = 0x70;
inline constexpr uint8_t kTableTOT = 0x73;
inline constexpr uint8_t kTableSDTT = 0xC3;
inline constexpr uint8_t kTableBIT = 0xC4;
inline constexpr uint8_t kTableCDT = 0xC8;
// A table_id of stuffing: the rest of the payload is not a section.
inline constexpr uint8_t kTableStuffing = 0xFF;

// --- PIDs
inline constexpr uint16_t kPidPAT = 0x0000;
inline constexpr uint16_t kPidNIT = 0x0010;
inline constexpr uint16_t kPidSDT = 0x0011;  // SDT and BAT
inline constexpr uint16_t kPidEIT = 0x0012;
inline constexpr uint16_t kPidRST = 0x0013;
inline constexpr uint16_t kPidTOT = 0x0014;  // TDT and TOT
// 0x001E-0x0025 are assembled as a range (among them the SDTT and the BIT).
inline constexpr uint16_t kPidSectionRangeFirst = 0x001E;
inline constexpr uint16_t kPidSDTT = 0x0023;
inline constexpr uint16_t kPidBIT = 0x0024;
inline constexpr uint16_t kPidSectionRangeLast = 0x0025;
inline constexpr uint16_t kPidCDT = 0x0029;
inline constexpr uint16_t kPidNull = 0x1FFF;
inline constexpr uint16_t kPidMask = 0x1FFF;
inline constexpr uint32_t kPidCount = 8192;

// --- TS packets
inline constexpr uint8_t kSyncByte = 0x47;
inline constexpr int32_t kPacketSize = 188;

// --- descriptor tags of the PSI/SI descriptor loops
inline constexpr uint8_t kTagNetworkName = 0x40;
inline constexpr uint8_t kTagServiceList = 0x41;
inline constexpr uint8_t kTagStuffing = 0x42;
inline constexpr uint8_t kTagSatelliteDelivery = 0x43;
inline constexpr uint8_t kTagService = 0x48;
inline constexpr uint8_t kTagLinkage = 0x4A;
inline constexpr uint8_t kTagShortEvent = 0x4D;
inline constexpr uint8_t kTagExtendedEvent = 0x4E;
inline constexpr uint8_t kTagComponent = 0x50;
inline constexpr uint8_t kTagStreamIdentifier = 0x52;
inline constexpr uint8_t kTagContent = 0x54;
inline constexpr uint8_t kTagParentalRating = 0x55;
inline constexpr uint8_t kTagLocalTimeOffset = 0x58;
inline constexpr uint8_t kTagHierarchicalTransmission = 0xC0;
inline constexpr uint8_t kTagDigitalCopyControl = 0xC1;
inline constexpr uint8_t kTagAudioComponent = 0xC4;
inline constexpr uint8_t kTagHyperlink = 0xC5;
inline constexpr uint8_t kTagTargetRegion = 0xC6;
inline constexpr uint8_t kTagDataContent = 0xC7;
inline constexpr uint8_t kTagVideoDecodeControl = 0xC8;
inline constexpr uint8_t kTagDownloadContent = 0xC9;
inline constexpr uint8_t kTagTSInformation = 0xCD;
inline constexpr uint8_t kTagExtendedBroadcaster = 0xCE;
inline constexpr uint8_t kTagLogoTransmission = 0xCF;
inline constexpr uint8_t kTagSeries = 0xD5;
inline constexpr uint8_t kTagEventGroup = 0xD6;
inline constexpr uint8_t kTagSIParameter = 0xD7;
inline constexpr uint8_t kTagBroadcasterName = 0xD8;
inline constexpr uint8_t kTagComponentGroup = 0xD9;
inline constexpr uint8_t kTagSIPrimeTS = 0xDA;
inline constexpr uint8_t kTagLDTLinkage = 0xDC;
inline constexpr uint8_t kTagContentAvailability = 0xDE;
inline constexpr uint8_t kTagTerrestrialDelivery = 0xFA;
inline constexpr uint8_t kTagPartialReception = 0xFB;
inline constexpr uint8_t kTagEmergencyInformation = 0xFC;
inline constexpr uint8_t kTagDataComponent = 0xFD;
inline constexpr uint8_t kTagSystemManagement = 0xFE;

// --- descriptor tags of a carousel module info (their own numbering)
inline constexpr uint8_t kModuleTagType = 0x01;
inline constexpr uint8_t kModuleTagName = 0x02;
inline constexpr uint8_t kModuleTagInfo = 0x03;
inline constexpr uint8_t kModuleTagModuleLink = 0x04;
inline constexpr uint8_t kModuleTagCRC32 = 0x05;
inline constexpr uint8_t kModuleTagDateList = 0xC3;

// --- component tags of a service's default streams
inline constexpr uint8_t kComponentTagVideo = 0x00;
inline constexpr uint8_t kComponentTagAudio = 0x10;
inline constexpr uint8_t kComponentTagCaption = 0x30;

// --- stream_type of the elementary streams of a PMT
inline constexpr uint8_t kStreamTypeMPEG2Video = 0x02;
inline constexpr uint8_t kStreamTypePrivatePES = 0x06;  // captions and superimposed text
inline constexpr uint8_t kStreamTypeDSMCC = 0x0D;       // data carousel
inline constexpr uint8_t kStreamTypeAAC = 0x0F;
inline constexpr uint8_t kStreamTypeH264 = 0x1B;

// --- service_type and data_component_id
inline constexpr uint8_t kServiceTypeDigitalTV = 0x01;
inline constexpr uint8_t kServiceTypeEngineering = 0xA4;
inline constexpr uint8_t kServiceTypeData = 0xC0;
// Data components whose additional info starts with the carousel's flags.
inline constexpr uint16_t kDataComponentCarouselFirst = 0x0007;
inline constexpr uint16_t kDataComponentCarouselB = 0x000B;
inline constexpr uint16_t kDataComponentCarouselC = 0x000C;
inline constexpr uint16_t kDataComponentCarouselD = 0x000D;

// A graph event and the bit of the notification mask that enables it.
struct Event {
    uint32_t bit;
    uint32_t code;  // as the event sink's callers of the core see it
};

inline constexpr Event kEventPATSection{0x00000001, kQVEventPATSection};
inline constexpr Event kEventPMTSection{0x00000002, kQVEventPMTSection};
inline constexpr Event kEventNITSection{0x00000008, kQVEventNITSection};
inline constexpr Event kEventSDTSection{0x00000010, kQVEventSDTSection};
inline constexpr Event kEventBITSection{0x00000020, kQVEventBITSection};
inline constexpr Event kEventEITSection{0x00000040, kQVEventEITSection};
inline constexpr Event kEventTOT{0x00000080, kQVEventTOT};
inline constexpr Event kEventCDTSection{0x00000100, kQVEventCDTSection};
inline constexpr Event kEventSDTTSection{0x00000200, kQVEventSDTTSection};
inline constexpr Event kEventModuleComplete{0x00000400, kQVEventModuleComplete};
inline constexpr Event kEventPATStored{0x00010000, kQVEventPATStored};
inline constexpr Event kEventPMTComplete{0x00020000, kQVEventPMTComplete};
inline constexpr Event kEventNITComplete{0x00080000, kQVEventNITComplete};
inline constexpr Event kEventSDTComplete{0x00100000, kQVEventSDTComplete};
inline constexpr Event kEventBITComplete{0x00200000, kQVEventBITComplete};
inline constexpr Event kEventCDTStored{0x00400000, kQVEventCDTStored};
inline constexpr Event kEventSDTTComplete{0x00800000, kQVEventSDTTComplete};
inline constexpr Event kEventEITBasicSegment{0x02000000, kQVEventEITBasicSegment};
inline constexpr Event kEventEITExtendedSegment{0x04000000, kQVEventEITExtendedSegment};
inline constexpr Event kEventEventStored{0x08000000, kQVEventEventStored};
inline constexpr Event kEventEventExtended{0x10000000, kQVEventEventExtended};
inline constexpr Event kEventPresentEvent{0x20000000, kQVEventPresentEvent};

}  // namespace si
