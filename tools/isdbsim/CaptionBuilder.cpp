#include "tools/isdbsim/CaptionBuilder.h"

#include <string>

#include "core/CRC16.h"
#include "tools/aribencode/AribEncoder.h"

namespace isdbsim {
namespace {

constexpr uint8_t kCs = 0x0C;
constexpr uint8_t kAps = 0x1C;
constexpr uint8_t kMsz = 0x89;
constexpr uint8_t kNsz = 0x8A;
constexpr uint8_t kSzx = 0x8B;
constexpr uint8_t kSs3 = 0x1D;
constexpr uint8_t kEsc = 0x1B;

void PageSetup(AribEncoder& out) {
    out.AppendControl({kCs});
    out.AppendCsi({960, 540}, 0x56);  // SDF: display area
    out.AppendCsi({0, 0}, 0x5F);      // SDP: its position
    out.AppendCsi({36, 36}, 0x57);    // SSM: character size
    out.AppendCsi({4}, 0x58);         // SHS
    out.AppendCsi({24}, 0x59);        // SVS
}

void Position(AribEncoder& out, int row, int column) {
    out.AppendControl(
        {kAps, static_cast<uint8_t>(0x40 + row), static_cast<uint8_t>(0x40 + column)});
}

void Text(AribEncoder& out, std::u16string& intended, std::u16string_view text) {
    out.AppendText(text);
    intended += text;
}

Bytes StatementData(const Bytes& units) {
    ByteWriter data;
    data.U8(0x3F);  // TMD 00 (free), reserved
    data.U24(static_cast<uint32_t>(units.size()));
    data.Append(units);
    return data.Take();
}

void DataUnit(ByteWriter& out, uint8_t parameter, const Bytes& body) {
    out.U8(0x1F);
    out.U8(parameter);
    out.U24(static_cast<uint32_t>(body.size()));
    out.Append(body);
}

// A 36 x 36 four-level pattern: a ring (a station mark).
Bytes DrcsUnit() {
    ByteWriter unit;
    unit.U8(1);        // NumberOfCode
    unit.U16(0x4121);  // DRCS-1, character 0x21
    unit.U8(1);        // NumberOfFont
    unit.U8(0x01);     // fontId 0, mode 1 (multi-level)
    unit.U8(2);        // depth: 4 levels, 2 bits per pixel
    unit.U8(36);
    unit.U8(36);
    for (int y = 0; y < 36; ++y) {
        uint32_t bits = 0;
        int count = 0;
        for (int x = 0; x < 36; ++x) {
            const int dx = x - 18;
            const int dy = y - 18;
            const int r2 = dx * dx + dy * dy;
            const int level = r2 < 100 ? 0 : r2 < 196 ? 3 : r2 < 256 ? 2 : 0;
            bits = bits << 2 | static_cast<uint32_t>(level);
            if (++count == 4) {
                unit.U8(bits);
                bits = 0;
                count = 0;
            }
        }
        if (count != 0) {
            unit.U8(bits << (2 * (4 - count)));
        }
    }
    return unit.Take();
}

}  // namespace

Bytes WrapDataGroup(uint8_t dataGroupId, const Bytes& dataGroupData) {
    ByteWriter out;
    out.U8(0x80);  // data_identifier: captions
    out.U8(0xFF);  // private_stream_id
    out.U8(0xF0);  // reserved, PES_data_packet_header_length 0
    const size_t group = out.Size();
    out.U8(static_cast<uint32_t>(dataGroupId << 2));  // data_group_version 0
    out.U8(0);                                        // data_group_link_number
    out.U8(0);                                        // last_data_group_link_number
    out.U16(static_cast<uint32_t>(dataGroupData.size()));
    out.Append(dataGroupData);
    out.U16(CalcCRC16(out.Data().data() + group, out.Size() - group));
    return out.Take();
}

Bytes CaptionManagement() {
    ByteWriter data;
    data.U8(0x3F);                     // TMD 00 (free), reserved
    data.U8(1);                        // num_languages
    data.U8(0x00 << 5 | 0x10 | 0x00);  // language_tag 0, reserved, DMF 0000
    data.Append(std::string_view("jpn"));
    data.U8(0x8 << 4 | 0x0);  // format 8 (960 x 540 horizontal), TCS 0, rollup off
    data.U24(0);              // no data units
    return WrapDataGroup(0x00, data.Data());
}

std::vector<CaptionStatement> CaptionScript(const ServiceInfo& service) {
    std::vector<CaptionStatement> script;
    auto finish = [&](AribEncoder& body, std::u16string text, bool drcs, const Bytes& tail = {}) {
        ByteWriter units;
        if (drcs) {
            DataUnit(units, 0x30, DrcsUnit());
        }
        Bytes statementBody = body.TakeBytes();
        statementBody.insert(statementBody.end(), tail.begin(), tail.end());
        DataUnit(units, 0x20, statementBody);
        CaptionStatement statement;
        statement.pesPayload = WrapDataGroup(0x01, StatementData(units.Data()));
        statement.text = std::move(text);
        statement.hasDrcs = drcs;
        script.push_back(std::move(statement));
    };
    {
        AribEncoder body(AribEncoder::InitialState::kCaption);
        std::u16string text;
        PageSetup(body);
        Position(body, 10, 4);
        body.AppendControl({0x87});  // WHF
        Text(body, text, u"こんにちは。" + service.name + u"です。");
        finish(body, text, false);
    }
    {
        AribEncoder body(AribEncoder::InitialState::kCaption);
        std::u16string text;
        PageSetup(body);
        Position(body, 9, 6);
        body.AppendControl({0x83});  // YLF
        Text(body, text, u"♪港の朝に　鐘が鳴る");
        Position(body, 10, 6);
        body.AppendControl({0x86});  // CYF
        Text(body, text, u"カモメが空を　わたってゆく♪");
        finish(body, text, false);
    }
    {
        AribEncoder body(AribEncoder::InitialState::kCaption);
        std::u16string text;
        PageSetup(body);
        Position(body, 8, 2);
        body.AppendControl({kSzx, 0x45});  // double size
        body.AppendControl({0x82});        // GRF
        Text(body, text, u"ニュース速報");
        body.AppendControl({kNsz});
        Position(body, 10, 2);
        body.AppendControl({0x87});
        Text(body, text, u"午後も晴れるでしょう");
        body.AppendControl({kMsz});
        Text(body, text, u"（気象情報）");
        body.AppendControl({kNsz});
        finish(body, text, false);
    }
    {
        AribEncoder body(AribEncoder::InitialState::kCaption);
        std::u16string text;
        PageSetup(body);
        Position(body, 10, 3);
        body.AppendControl({0x85});  // MGF
        Text(body, text, u"\U0001F211字幕放送をお楽しみください");
        finish(body, text, false);
    }
    {
        AribEncoder body(AribEncoder::InitialState::kCaption);
        std::u16string text;
        PageSetup(body);
        Position(body, 10, 5);
        body.AppendControl({0x87});
        Text(body, text, u"この放送局のしるしは");
        // The downloaded character, last in the statement (the encoder does not follow a
        // designation it did not write): DRCS-1 designated to G3 and single-shifted in.
        const Bytes drcs{kEsc, 0x2B, 0x20, 0x41, kSs3, 0x21};
        finish(body, text, true, drcs);
    }
    {
        // Clear screen only: the page is emptied between scenes.
        AribEncoder body(AribEncoder::InitialState::kCaption);
        body.AppendControl({kCs});
        finish(body, u"", false);
    }
    return script;
}

}  // namespace isdbsim
