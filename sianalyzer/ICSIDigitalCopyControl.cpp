#include "sianalyzer/ICSIDigitalCopyControl.h"

#include <algorithm>

#include "sianalyzer/ICSISection.h"

void ICSIComponentDigitalCopyControl::Parse(ICSISectionReader& reader) {
    componentTag = static_cast<uint8_t>(reader.ReadUInt8());
    flags = static_cast<uint8_t>(reader.ReadUInt8());
    if (flags & 0x20) {
        maximumBitrate = static_cast<uint8_t>(reader.ReadUInt8());
    }
}

std::unique_ptr<ICSIDigitalCopyControl> ICSIDigitalCopyControl::Parse(void* owner,
                                                                      ICSISectionReader& reader) {
    auto control = std::make_unique<ICSIDigitalCopyControl>(owner);
    control->flags = static_cast<uint8_t>(reader.ReadUInt8());
    if (control->flags & 0x20) {
        control->maximumBitrate = static_cast<uint8_t>(reader.ReadUInt8());
    }
    if (control->flags & 0x10) {
        const int32_t length = reader.ReadUInt8();
        const int32_t end = reader.GetPosition() + std::max(length, 0);
        while (reader.GetPosition() < end && reader.GetRemaining() > 0) {
            control->components.Add(new ICSIComponentDigitalCopyControl(control.get()))
                ->Parse(reader);
        }
    }
    return control;
}
