#include "caption/ICCaptionPacket.h"

#include <new>

void ICCaptionPacket::Reset() {
    dataGroupId = 0;
    dataGroupVersion = 0;
    linkNumber = 0;
    lastLinkNumber = 0;
    ICPacket::Reset();
}

ICPacket* ICCaptionAllocator::CreatePacket(LONG bufferSize, DWORD tag) {
    return new (std::nothrow) ICCaptionPacket(this, bufferSize, tag);
}
