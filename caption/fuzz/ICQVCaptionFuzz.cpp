// Any bytes as one caption data group, decoded on a renderer that lives across inputs (as it
// does on a broadcast: management state, language and fonts carry over). A checksum of the
// input chooses the renderer, so that an input always takes the same path: one input in
// sixteen is also drawn on the page surfaces (drawing large pages is slow), the others
// exercise the parser and the decoder at full speed.
#include <cstddef>
#include <cstdint>

#include "caption/ICCaptionPacket.h"
#include "caption/ICQVCaptionRenderer.h"

namespace {

ICQVCaptionRenderer* MakeRenderer(bool drawing) {
    auto* renderer = new ICQVCaptionRenderer();
    if (drawing) {
        renderer->CreateSurfaces();
    }
    renderer->SetRealTimeWaits(false);
    return renderer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ICQVCaptionRenderer* drawing = MakeRenderer(true);
    static ICQVCaptionRenderer* decoding = MakeRenderer(false);
    if (size == 0 || size > 65536) {
        return 0;
    }
    auto* packet = new ICCaptionPacket(nullptr, static_cast<LONG>(size) + 16, 0);
    packet->AddRef();
    packet->Write(data, static_cast<LONG>(size));
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) {
        sum += data[i];
    }
    (sum % 16 == 0 ? drawing : decoding)->ProcessDataGroup(packet);
    packet->Release();
    return 0;
}
