#pragma once

#include <cstdint>

#include "streamfw/ICMemAllocator.h"
#include "streamfw/ICPacket.h"

// One caption data group (the synchronised PES data packet without its PES header) with the
// fields of its data group header, which the decoder fills when it reads the header.
class ICCaptionPacket final : public ICPacket {
public:
    ICCaptionPacket(ICMemAllocator* allocator, LONG bufferSize, DWORD tag)
        : ICPacket(allocator, bufferSize, tag) {}

    // Clears the header fields, then everything a packet holds.
    void Reset() override;

    uint8_t dataGroupId = 0;       // 6 bits
    uint8_t dataGroupVersion = 0;  // 2 bits
    uint8_t linkNumber = 0;
    uint8_t lastLinkNumber = 0;
};

// The pool of caption packets: the memory allocator making ICCaptionPacket objects.
class ICCaptionAllocator final : public ICMemAllocator {
public:
    static constexpr LONG kInitialCount = 64;
    static constexpr LONG kBufferSize = 512;
    static constexpr DWORD kTag = 7;

    ICCaptionAllocator()
        : ICMemAllocator("Caption Data Allocator", nullptr, kTag, kBufferSize, kInitialCount) {}

    // An idle packet (referenced once), or null when all are out.
    ICCaptionPacket* TakeCaptionPacket() { return static_cast<ICCaptionPacket*>(TakeFree()); }

protected:
    ICPacket* CreatePacket(LONG bufferSize, DWORD tag) override;
};
