#include "sianalyzer/ICSISection.h"

#include "aribtext/ICJIS8Code.h"

ICWString ICSISectionReader::ReadText(int32_t length) {
    const int32_t n = std::clamp(length, 0, GetRemaining());
    if (n == 0) {
        return ICWString();
    }
    ICWString text = textDecoder->Decode(GetCurrent(), static_cast<size_t>(n));
    Skip(n);
    return text;
}

ICWString ICSISectionReader::DecodeText(const uint8_t* bytes, int32_t length) {
    return textDecoder->Decode(bytes, static_cast<size_t>(std::max(length, 0)));
}

void ICSISectionReader::ReadRaw(ICString& text, int32_t length) {
    const int32_t n = std::clamp(length, 0, GetRemaining());
    text.Set(reinterpret_cast<const char*>(GetCurrent()), static_cast<size_t>(n));
    Skip(n);
}
