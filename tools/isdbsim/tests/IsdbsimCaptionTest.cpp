// Decodes the caption statements of a generated stream with libaribb24 and compares them with
// the texts the simulator meant to show.

#include <gtest/gtest.h>

extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
#include <aribb24/parser.h>
}

#include <set>

#include "core/CodePage.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/tests/StreamDemux.h"

namespace isdbsim::test {
namespace {

// Drops what decoders render in their own ways: spaces and line breaks, additional symbols and
// the geta mark that stands for them or for a downloaded character.
std::u16string Comparable(std::u16string_view text) {
    std::u16string kept;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00) {
            ++i;
        } else if (c != u' ' && c != u'\n' && c != u'\r' && c != u'\u3000' && c != u'\u3013') {
            kept += c;
        }
    }
    return kept;
}

TEST(IsdbsimCaptions, LibAribB24DecodesTheStatementsToTheIntendedText) {
    const TransportStreamInfo& info = *FindChannel(0, 0);
    const ServiceInfo& service = info.services[0];
    // Six statements come every 4 s from 1 s on.
    const Bytes stream = Generate(0, 0, 26.0, *ParseJstTime("2026-04-01 12:00:00"));
    const DemuxResult demux = Demux(stream, {}, {service.captionPid});
    std::set<std::u16string> intended;
    for (const CaptionStatement& statement : CaptionScript(service)) {
        if (!statement.text.empty()) {
            intended.insert(Comparable(statement.text));
        }
    }
    ASSERT_EQ(intended.size(), 5u);

    arib_instance_t* instance = arib_instance_new(nullptr);
    ASSERT_NE(instance, nullptr);
    std::set<std::u16string> decoded;
    for (const Pes& pes : demux.pes.at(service.captionPid)) {
        const Bytes payload = pes.Payload();
        arib_parser_t* parser = arib_get_parser(instance);
        arib_decoder_t* decoder = arib_get_decoder(instance);
        arib_parse_pes(parser, payload.data(), payload.size());
        size_t size = 0;
        const unsigned char* data = arib_parser_get_data(parser, &size);
        if (data == nullptr || size == 0) {
            continue;  // management data
        }
        arib_initialize_decoder_a_profile(decoder);
        char text[4096] = {};
        const size_t length = arib_decode_buffer(decoder, data, size, text, sizeof text - 1);
        arib_finalize_decoder(decoder);
        const std::u16string comparable = Comparable(Utf8ToUtf16(std::string(text, length)));
        if (!comparable.empty()) {
            decoded.insert(comparable);
        }
    }
    arib_instance_destroy(instance);
    for (const std::u16string& text : intended) {
        EXPECT_TRUE(decoded.count(text)) << "not decoded: " << Utf16ToUtf8(text);
    }
    for (const std::u16string& text : decoded) {
        EXPECT_TRUE(intended.count(text)) << "unexpected: " << Utf16ToUtf8(text);
    }
}

}  // namespace
}  // namespace isdbsim::test
