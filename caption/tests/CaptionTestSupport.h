#pragma once

// Builders of caption data groups for the tests, and a recorder of the text callback.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "caption/ICCaptionPacket.h"
#include "caption/IQVCaption.h"
#include "caption/tests/RecordingMixer.h"
#include "tools/aribencode/AribEncoder.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/streamkit/ByteWriter.h"

namespace captiontest {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kStatementBody = 0x20;
inline constexpr uint8_t kDRCS1Byte = 0x30;

// One data unit: separator, parameter, 24-bit size, the bytes.
inline Bytes Unit(uint8_t parameter, const Bytes& bytes) {
    streamkit::ByteWriter out;
    out.U8(0x1F).U8(parameter).U24(static_cast<uint32_t>(bytes.size())).Append(bytes);
    return out.Take();
}

inline Bytes UnitLoop(std::initializer_list<Bytes> units) {
    Bytes all;
    for (const Bytes& unit : units) {
        all.insert(all.end(), unit.begin(), unit.end());
    }
    streamkit::ByteWriter out;
    out.U24(static_cast<uint32_t>(all.size())).Append(all);
    return out.Take();
}

// Caption statement data (TMD free) with these data units, as a whole data group.
inline Bytes StatementGroup(uint8_t dataGroupId, std::initializer_list<Bytes> units) {
    streamkit::ByteWriter data;
    data.U8(0x3F).Append(UnitLoop(units));
    return isdbsim::WrapDataGroup(dataGroupId, data.Data());
}

// A statement group of one statement body.
inline Bytes BodyGroup(uint8_t dataGroupId, const Bytes& body) {
    return StatementGroup(dataGroupId, {Unit(kStatementBody, body)});
}

struct LanguageEntry {
    uint8_t tag = 0;
    const char* code = "jpn";
    uint8_t format = 8;
};

// Caption management data with these languages (and no data units).
inline Bytes ManagementGroup(uint8_t dataGroupId, std::initializer_list<LanguageEntry> languages) {
    streamkit::ByteWriter data;
    data.U8(0x3F).U8(static_cast<uint32_t>(languages.size()));
    for (const LanguageEntry& language : languages) {
        data.U8(static_cast<uint32_t>(language.tag << 5));
        data.Append(std::string_view(language.code, 3));
        data.U8(static_cast<uint32_t>(language.format << 4));
    }
    data.U24(0);
    return isdbsim::WrapDataGroup(dataGroupId, data.Data());
}

// A statement body: the encoder in caption state with these controls and text.
struct Body {
    AribEncoder encoder{AribEncoder::InitialState::kCaption};
    Body& Control(std::initializer_list<uint8_t> bytes) {
        encoder.AppendControl(bytes);
        return *this;
    }
    Body& Csi(std::initializer_list<int> parameters, uint8_t final) {
        encoder.AppendCsi(parameters, final);
        return *this;
    }
    Body& Text(std::u16string_view text) {
        encoder.AppendText(text);
        return *this;
    }
    Bytes Take() { return encoder.TakeBytes(); }
};

// A packet without allocator holding `bytes`, referenced once (released by its holder).
inline ICCaptionPacket* MakePacket(const Bytes& bytes, const REFERENCE_TIME* start = nullptr) {
    auto* packet = new ICCaptionPacket(nullptr, static_cast<LONG>(bytes.size()) + 16, 0);
    packet->AddRef();
    packet->Write(bytes.data(), static_cast<LONG>(bytes.size()));
    if (start != nullptr) {
        REFERENCE_TIME stop = *start + 1;
        packet->SetTime(const_cast<REFERENCE_TIME*>(start), &stop);
    }
    return packet;
}

// Collects the text callback's calls.
struct TextLog {
    std::mutex mutex;
    std::vector<std::u16string> texts;
    std::vector<REFERENCE_TIME> times;

    static void Callback(REFERENCE_TIME time, const char16_t* text, void* context) {
        auto* log = static_cast<TextLog*>(context);
        std::lock_guard lock(log->mutex);
        log->texts.emplace_back(text);
        log->times.push_back(time);
    }
    std::vector<std::u16string> Texts() {
        std::lock_guard lock(mutex);
        return texts;
    }
};

// The shared test data folder's caption streams; empty when the folder is absent.
inline std::filesystem::path SharedCaptionFile(const char* name) {
    const char* shared = std::getenv("ORV_SHARED_DIR");
    if (shared == nullptr) {
        return {};
    }
    std::filesystem::path path = std::filesystem::path(shared) / "testdata" / "captions" / name;
    return std::filesystem::exists(path) ? path : std::filesystem::path();
}

inline Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A caption elementary stream (back-to-back PES data packets without PES header) cut into its
// data groups.
inline std::vector<Bytes> SplitDataGroups(const Bytes& stream) {
    std::vector<Bytes> groups;
    size_t at = 0;
    while (at + 3 <= stream.size()) {
        const size_t privateLength = stream[at + 2] & 0x0F;
        if (at + privateLength + 8 > stream.size()) {
            break;
        }
        const size_t size = stream[at + privateLength + 6] << 8 | stream[at + privateLength + 7];
        const size_t length = size + privateLength + 10;
        if (at + length > stream.size()) {
            break;
        }
        groups.emplace_back(stream.begin() + at, stream.begin() + at + length);
        at += length;
    }
    return groups;
}

}  // namespace captiontest
