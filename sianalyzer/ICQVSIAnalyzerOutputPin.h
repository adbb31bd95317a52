#pragma once

#include "streamfw/ICTransformOutputPin.h"

class ICQVSIAnalyzer;

// What an output pin of the analyzer carries.
enum class ICQVSIAnalyzerPinKind { kTS, kVideo, kAudio, kCaption, kSection };

// The media types an output pin offers, by position (0, and 1 for the second audio type):
// S_OK, or VFW_S_NO_MORE_ITEMS past the end.
HRESULT ICQVSIAnalyzerMediaType(ICQVSIAnalyzerPinKind kind, int position, CMediaType* mediaType);

// An output pin of the analyzer ("TS", "Video", "Audio", "Caption", "Section"). It offers
// exactly its kind's media types, connects only with one of them (whether or not the input is
// connected), and delivers from its own thread in packets of its own allocator.
class ICQVSIAnalyzerOutputPin final : public ICTransformOutputPin {
public:
    // Packets in each pin's allocator.
    static constexpr LONG kBufferCount = 180;

    ICQVSIAnalyzerOutputPin(ICQVSIAnalyzer* filter, HRESULT* hr, LPCWSTR pinName,
                            ICQVSIAnalyzerPinKind kind);

    ICQVSIAnalyzerPinKind GetKind() const { return kind; }

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* receivePin) override;

private:
    ICQVSIAnalyzerPinKind kind;
};
