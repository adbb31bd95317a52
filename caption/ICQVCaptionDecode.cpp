// The caption renderer's decoding: data groups, caption management data, statement bodies
// through the 8-unit decoder's hooks, and the page model they act on.
#include <algorithm>
#include <chrono>
#include <thread>

#include "caption/ICCaptionPacket.h"
#include "caption/ICDRCSData.h"
#include "caption/ICQVCaptionRenderer.h"

namespace {

constexpr uint8_t kUnitSeparator = 0x1F;
constexpr uint8_t kUnitStatementBody = 0x20;
constexpr uint8_t kUnitDRCS1 = 0x30;
constexpr uint8_t kUnitDRCS2 = 0x31;

// Writing formats: size and spacings.
struct WritingFormat {
    int format;
    int width;
    int height;
    int horizontalSpacing;
    int verticalSpacing;
};
constexpr WritingFormat kWritingFormats[] = {
    {8, 960, 540, 4, 24},
    {9, 960, 540, 12, 24},
    {10, 720, 480, 4, 16},
    {11, 720, 480, 8, 24},
};

// Parameters of control sequences are kept below this, so that sizes stay sane.
constexpr int kMaxParameter = 9999;
// Font sizes beyond this would make glyphs larger than the page.
constexpr int kMaxFontSize = 540;

char ToUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int32_t DRCSBitsPerPixel(int32_t depth) {
    switch (depth) {
        case 0:
            return 1;
        case 1:
        case 2:
            return 2;
        case 14:
            return 4;
        case 254:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

// --- data groups

void ICQVCaptionRenderer::ProcessDataGroup(ICCaptionPacket* packet) {
    packet->SetPosition(0);
    packet->ReadUInt8();  // data_identifier
    packet->ReadUInt8();  // private_stream_id
    const int32_t headerLength = packet->ReadUInt8();
    if (headerLength < 0) {
        return;
    }
    packet->SetPosition(packet->GetPosition() + (headerLength & 0x0F));
    const int32_t idByte = packet->ReadUInt8();
    if (idByte < 0) {
        return;
    }
    packet->dataGroupId = static_cast<uint8_t>(idByte >> 2);
    packet->dataGroupVersion = static_cast<uint8_t>(idByte & 3);
    packet->linkNumber = static_cast<uint8_t>(packet->ReadUInt8());
    packet->lastLinkNumber = static_cast<uint8_t>(packet->ReadUInt8());
    packet->ReadUInt16();  // data_group_size
    const int id = packet->dataGroupId;
    if ((id & 0x0F) != 0) {
        if ((id & 0xF0) != currentGroup || (id & 0x0F) != selectedIndex.load() + 1) {
            return;  // another language, or the other set
        }
        const int32_t tmd = packet->ReadUInt8() >> 6;
        if (tmd == 1 || tmd == 2) {
            packet->SetPosition(packet->GetPosition() + 5);  // STM
        }
    } else {
        ReadManagement(packet);
    }
    drcsStore.RemoveAll(true);
    SetDisplayFormat(languages[selectedEntry].format);
    textAccumulator.Empty();

    const int32_t high = packet->ReadUInt16();
    const int32_t low = packet->ReadUInt8();
    if (high < 0 || low < 0) {
        return;
    }
    const LONG loopEnd =
        std::min<LONG>(packet->GetPosition() + (high << 8 | low), packet->GetLength());
    while (packet->GetPosition() < loopEnd && packet->ReadUInt8() == kUnitSeparator) {
        const int32_t parameter = packet->ReadUInt8();
        const int32_t sizeHigh = packet->ReadUInt16();
        const int32_t sizeLow = packet->ReadUInt8();
        if (parameter < 0 || sizeHigh < 0 || sizeLow < 0) {
            return;
        }
        const LONG size =
            std::min<LONG>(sizeHigh << 8 | sizeLow, packet->GetLength() - packet->GetPosition());
        const LONG unitEnd = packet->GetPosition() + size;
        switch (parameter) {
            case kUnitStatementBody:
                DecodeStatement(packet, size);
                Present();
                break;
            case kUnitDRCS1:
            case kUnitDRCS2:
                ReadDRCS(packet, unitEnd);
                break;
            default:
                break;
        }
        packet->SetPosition(unitEnd);
    }
}

void ICQVCaptionRenderer::ReadManagement(ICCaptionPacket* packet) {
    languageCount = 0;
    selectedEntry = 0;
    for (Language& language : languages) {
        language = Language{};
    }
    const int id = packet->dataGroupId;
    if (id != currentGroup) {
        ClearPage();
        Present();
        SendText(u"\f");
        currentGroup = id;
    }
    const int32_t tmd = packet->ReadUInt8() >> 6;
    if (tmd == 2) {
        packet->SetPosition(packet->GetPosition() + 5);  // OTM
    }
    const int32_t count = packet->ReadUInt8();
    const uint32_t wanted = selectionCode.load();
    for (int32_t i = 0; i < count && !packet->IsEnd(); ++i) {
        Language entry;
        const int32_t tagByte = packet->ReadUInt8();
        entry.tag = static_cast<uint8_t>((tagByte >> 5) & 7);
        entry.displayMode = static_cast<uint8_t>(tagByte & 0x0F);
        if (entry.displayMode >= 12 && entry.displayMode <= 14) {
            entry.displayCondition = static_cast<uint8_t>(packet->ReadUInt8());
        }
        for (int c = 0; c < 3; ++c) {
            entry.code[c] = static_cast<char>(packet->ReadUInt8());
        }
        const int32_t formatByte = packet->ReadUInt8();
        entry.format = static_cast<uint8_t>(formatByte >> 4);
        entry.characterCoding = static_cast<uint8_t>((formatByte >> 2) & 3);
        entry.rollupMode = static_cast<uint8_t>(formatByte & 3);
        if (packet->IsEnd()) {
            break;
        }
        if (selectByCode.load()) {
            bool same = true;
            for (int c = 0; c < 3; ++c) {
                same = same && ToUpper(entry.code[c]) ==
                                   ToUpper(static_cast<char>((wanted >> (8 * c)) & 0xFF));
            }
            if (same) {
                selectedIndex.store(entry.tag);
            }
        }
        // The table has room for eight; further entries are read past.
        if (languageCount < kMaxLanguages) {
            if (entry.tag == selectedIndex.load()) {
                selectedEntry = languageCount;
            }
            languages[languageCount++] = entry;
        }
    }
}

void ICQVCaptionRenderer::DecodeStatement(ICCaptionPacket* packet, LONG size) {
    textAccumulator.Empty();
    ICWString rest = Decode(packet->GetCurrent(), static_cast<size_t>(size));
    outputText = std::move(rest);
    FlushText();
    if (!textAccumulator.IsEmpty()) {
        SendText(textAccumulator.GetText());
    }
}

void ICQVCaptionRenderer::FlushText() {
    Flush();
    if (outputText.IsEmpty()) {
        return;
    }
    char16_t* units = outputText.GetBuffer();
    const int length = outputText.GetLength();
    for (int i = 0; i < length; ++i) {
        bool replaceText = false;
        const char16_t drawn = Replacement(units[i], &replaceText);
        if (replaceText) {
            units[i] = drawn;
        }
        DrawCell(drawn, units[i]);
    }
    textAccumulator.Append(outputText);
    outputText.Empty();
}

void ICQVCaptionRenderer::PutWide(char16_t unit) {
    FlushText();
    bool replaceText = false;
    const char16_t drawn = Replacement(unit, &replaceText);
    if (repeatCount != -1) {
        for (int32_t i = 0; i < repeatCount; ++i) {
            DrawCell(drawn, drawn);
        }
    }
    repeatCount = 0;
}

void ICQVCaptionRenderer::ExpandMacro(uint8_t byte) {
    FlushText();
    ICJIS8Code::ExpandMacro(byte);
}

// --- control codes

void ICQVCaptionRenderer::OnControl(uint8_t code) {
    FlushText();
    switch (code) {
        case 0x08:  // APB
            MoveBack();
            break;
        case 0x09:  // APF
            MoveForward();
            break;
        case 0x0A:  // APD
            MoveDown();
            break;
        case 0x0B:  // APU
            MoveUp();
            break;
        case 0x0C:  // CS
            ClearPage();
            SendText(u"\f");
            break;
        case 0x0D:  // APR
            MoveToNextRow();
            break;
        case 0x16: {  // PAPF
            const int p1 = ReadByte();
            for (int i = 0; i < (p1 & 0x3F) && p1 >= 0; ++i) {
                MoveForward();
            }
            break;
        }
        case 0x1C: {  // APS
            const int row = ReadByte();
            const int column = ReadByte();
            if (row < 0 || column < 0) {
                break;
            }
            page.cursorX = page.areaLeft;
            page.cursorY = page.areaTop + page.cellHeight;
            for (int i = 0; i < (row & 0x3F); ++i) {
                MoveDown();
            }
            for (int i = 0; i < (column & 0x3F); ++i) {
                MoveForward();
            }
            break;
        }
        case 0x80:
        case 0x81:
        case 0x82:
        case 0x83:
        case 0x84:
        case 0x85:
        case 0x86:
        case 0x87:  // BKF ... WHF
            page.foregroundRegister = ICAribColorTable::Get(page.palette * 16 + (code & 0x0F));
            SetForeground(page.foregroundRegister);
            break;
        case 0x88:  // SSZ
        case 0x89:  // MSZ
        case 0x8A:  // NSZ
            SetSize(code, 0);
            break;
        case 0x8B: {  // SZX
            const int p1 = ReadByte();
            if (p1 >= 0) {
                SetSize(code, static_cast<uint8_t>(p1));
            }
            break;
        }
        case 0x90: {  // COL
            const int p1 = ReadByte();
            if (p1 == 0x20) {
                const int p2 = ReadByte();
                if (p2 >= 0) {
                    page.palette = p2 & 0x0F;
                }
            } else if (p1 >= 0x40 && p1 <= 0x4F) {
                page.foregroundRegister = ICAribColorTable::Get(page.palette * 16 + (p1 & 0x0F));
                SetForeground(page.foregroundRegister);
            } else if (p1 >= 0x50 && p1 <= 0x5F) {
                page.backgroundRegister = ICAribColorTable::Get(page.palette * 16 + (p1 & 0x0F));
                SetBackground(page.backgroundRegister);
            }
            break;
        }
        case 0x91:  // FLC: flashing is not rendered
        case 0x94:  // WMM: writing modes are not rendered
            ReadByte();
            break;
        case 0x92: {  // CDC: conceal is not rendered; P1, or 0x20 and P2
            if (ReadByte() == 0x20) {
                ReadByte();
            }
            break;
        }
        case 0x93: {  // POL
            const int p1 = ReadByte();
            if (p1 == 0x40) {
                SetForeground(page.foregroundRegister);
                SetBackground(page.backgroundRegister);
            } else if (p1 == 0x41) {
                SetForeground(page.backgroundRegister);
                SetBackground(page.foregroundRegister);
            }
            break;
        }
        case 0x95:  // MACRO: definitions are read past up to MACRO 0x4F
            SkipMacroDefinition();
            break;
        case 0x97: {  // HLC
            const int p1 = ReadByte();
            if (p1 >= 0x40 && p1 <= 0x4F) {
                page.enclosure = static_cast<uint8_t>(p1 & 0x0F);
            }
            break;
        }
        case 0x98:  // RPC
            StartRepeat(ReadByte());
            break;
        case 0x99:  // SPL
            page.underline = false;
            break;
        case 0x9A:  // STL
            page.underline = true;
            break;
        case 0x9D:  // TIME
            ProcessTime();
            break;
        default:
            break;  // BEL, CAN, RS, US and the like: nothing to do, no parameter
    }
}

void ICQVCaptionRenderer::SkipMacroDefinition() {
    const int p1 = ReadByte();
    if (p1 < 0x40 || p1 > 0x4E) {
        return;  // the end of a definition, or nothing that starts one
    }
    int previous = -1;
    for (int c = ReadByte(); c >= 0; c = ReadByte()) {
        if (previous == 0x95 && c == 0x4F) {
            return;
        }
        previous = c;
    }
}

void ICQVCaptionRenderer::StartRepeat(int p1) {
    if (p1 < 0) {
        return;
    }
    if (p1 == 0x00) {
        repeatCount = -1;  // the next character is taken alone and not drawn
        return;
    }
    if (p1 < 0x40 || p1 > 0x7F) {
        return;
    }
    int count = p1 & 0x3F;
    if (count == 0) {
        // To the end of the row.
        const int rowEnd = page.areaLeft + page.areaWidth;
        count = page.cellWidth > 0 ? std::max(1, (rowEnd - page.cursorX) / page.cellWidth) : 1;
    }
    repeatCount = count;
}

void ICQVCaptionRenderer::ProcessTime() {
    const int p1 = ReadByte();
    if (p1 == 0x20) {
        const int p2 = ReadByte();
        if (p2 >= 0) {
            Wait100ms(p2 & 0x3F);
        }
    } else if (p1 == 0x28) {
        ReadByte();
    } else if (p1 == 0x29) {
        for (int c = ReadByte(); c >= 0 && c != 0x20; c = ReadByte()) {
        }
    }
}

void ICQVCaptionRenderer::PresentBeforeWait() {
    if (drawingDirty.IsEmpty() || drawingSurface == nullptr) {
        return;
    }
    // What the statement has drawn so far is shown during the wait, and the statement goes on
    // drawing on top of it.
    Present();
    drawingSurface->StretchBlt(shownDirty, *shownSurface, shownDirty, GdiSurface::RasterOp::kCopy);
    drawingDirty = shownDirty;
}

void ICQVCaptionRenderer::Wait100ms(int count) {
    PresentBeforeWait();
    // What follows the wait happens that much later in the stream.
    presentationTime += static_cast<REFERENCE_TIME>(count) * 100 * kUnitsPerMillisecond;
    if (!realTimeWaits.load()) {
        return;
    }
    auto abandoned = [this] {
        return rendererStopRequested.load(std::memory_order_acquire) || IsStopRequested();
    };
    const int belowSecond = (count % 10) * 100;
    if (belowSecond > 0 && !abandoned()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(belowSecond));
    }
    for (int second = 0; second < count / 10 && !abandoned(); ++second) {
        // Whole seconds in short steps, so that a stop is seen soon.
        for (int step = 0; step < 50 && !abandoned(); ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

// --- control sequences

void ICQVCaptionRenderer::ProcessCSI(uint8_t& final) {
    FlushText();
    final = 0;
    const int firstParam = PeekByte();
    int params[9] = {};
    int count = 0;
    int value = 0;
    for (;;) {
        const int c = ReadByte();
        if (c < 0) {
            return;
        }
        if (c >= '0' && c <= '9') {
            value = std::min(value * 10 + (c - '0'), kMaxParameter);
            continue;
        }
        if (c == 0x3B) {
            params[count++] = value;
            value = 0;
            if (count >= 8) {
                return;  // abandoned after the eighth separator
            }
            continue;
        }
        if (c == 0x20) {
            params[count++] = value;
            const int f = ReadByte();
            if (f < 0) {
                return;
            }
            final = static_cast<uint8_t>(f);
        } else {
            final = static_cast<uint8_t>(c);
        }
        break;
    }
    const int p1 = params[0];
    const int p2 = params[1];
    switch (final) {
        case 0x53:  // SWF
            if (count <= 1) {
                SetDisplayFormat(p1 + 1);
            }
            break;
        case 0x56:  // SDF
            page.areaWidth = p1;
            page.areaHeight = p2;
            break;
        case 0x57:  // SSM
            page.fontWidth = std::clamp(p1, 1, kMaxFontSize);
            page.fontHeight = std::clamp(p2, 1, kMaxFontSize);
            ComputeSizes();
            CreateCaptionFont();
            break;
        case 0x58:  // SHS
            page.horizontalSpacing = p1;
            ComputeSizes();
            break;
        case 0x59:  // SVS
            page.verticalSpacing = p1;
            ComputeSizes();
            break;
        case 0x5F:  // SDP
            page.areaLeft = p1;
            page.areaTop = p2;
            page.cursorX = p1;
            page.cursorY = p2 + page.cellHeight;
            break;
        case 0x61:  // ACPS
            page.cursorX = p1;
            page.cursorY = p2;
            break;
        case 0x6E:  // RCS
            FillDisplayArea(ICAribColorTable::Get(p1));
            break;
        default:
            // XCS, ACS and UED skip their bracketed text as the decoder does.
            SkipBracket(static_cast<uint8_t>(firstParam), final);
            break;
    }
}

// --- page model

void ICQVCaptionRenderer::SetDisplayFormat(int format) {
    Reset();
    page.foregroundRegister = {255, 255, 255, 255};
    SetForeground(page.foregroundRegister);
    page.backgroundRegister = {0, 0, 0, 255};
    SetBackground(page.backgroundRegister);
    page.palette = 0;
    page.enclosure = 0;
    page.underline = false;
    page.fontWidth = 36;
    page.fontHeight = 36;
    for (const WritingFormat& entry : kWritingFormats) {
        if (entry.format == format) {
            page.formatWidth = entry.width;
            page.formatHeight = entry.height;
            page.horizontalSpacing = entry.horizontalSpacing;
            page.verticalSpacing = entry.verticalSpacing;
        }
    }
    page.areaWidth = page.formatWidth;
    page.areaHeight = page.formatHeight;
    page.sizeControl = 0x8A;
    page.sizeParameter = 0;
    page.sizeMode = kSizeNormal;
    ComputeSizes();
    CreateCaptionFont();
    page.areaLeft = 0;
    page.areaTop = 0;
    page.cursorX = 0;
    page.cursorY = page.cellHeight;
    if (pageObserver != nullptr) {
        pageObserver->OnFormat(page.formatWidth, page.formatHeight);
    }
}

void ICQVCaptionRenderer::SetSize(uint8_t control, uint8_t parameter) {
    page.sizeControl = control;
    page.sizeParameter = parameter;
    switch (control) {
        case 0x88:
            page.sizeMode = kSizeSmall;
            break;
        case 0x89:
            page.sizeMode = kSizeMiddle;
            break;
        case 0x8A:
            page.sizeMode = kSizeNormal;
            break;
        default:
            if (parameter == 0x41) {
                page.sizeMode = kSizeDoubleHeight;
            } else if (parameter == 0x44) {
                page.sizeMode = kSizeDoubleWidth;
            } else if (parameter == 0x45) {
                page.sizeMode = kSizeDoubleSize;
            } else {
                return;  // recorded; sizes stay as they are
            }
            break;
    }
    ComputeSizes();
}

void ICQVCaptionRenderer::ComputeSizes() {
    const int fw = page.fontWidth;
    const int fh = page.fontHeight;
    const int hs = page.horizontalSpacing;
    const int vs = page.verticalSpacing;
    switch (page.sizeMode) {
        case kSizeSmall:
            page.charWidth = fw / 2;
            page.charHeight = fh / 2;
            page.cellWidth = fw / 2 + hs / 2;
            page.cellHeight = fh / 2 + vs / 2;
            break;
        case kSizeMiddle:
            page.charWidth = fw / 2;
            page.charHeight = fh;
            page.cellWidth = fw / 2 + hs / 2;
            page.cellHeight = fh + vs;
            break;
        case kSizeDoubleHeight:
            page.charWidth = fw;
            page.charHeight = 2 * fh;
            page.cellWidth = fw + hs;
            page.cellHeight = 2 * fh + 2 * vs;
            break;
        case kSizeDoubleWidth:
            page.charWidth = 2 * fw;
            page.charHeight = fh;
            page.cellWidth = 2 * fw + 2 * hs;
            page.cellHeight = fh + vs;
            break;
        case kSizeDoubleSize:
            page.charWidth = 2 * fw;
            page.charHeight = 2 * fh;
            page.cellWidth = 2 * fw + 2 * hs;
            page.cellHeight = 2 * fh + 2 * vs;
            break;
        default:
            page.charWidth = fw;
            page.charHeight = fh;
            page.cellWidth = fw + hs;
            page.cellHeight = fh + vs;
            break;
    }
}

void ICQVCaptionRenderer::MoveForward() {
    page.cursorX += page.cellWidth;
    if (page.cursorX >= page.areaLeft + page.areaWidth) {
        page.cursorX = page.areaLeft;
        MoveDown();
    }
}

void ICQVCaptionRenderer::MoveBack() {
    page.cursorX -= page.cellWidth;
    if (page.cursorX < page.areaLeft) {
        page.cursorX = page.areaLeft + page.areaWidth - page.cellWidth;
        MoveUp();
    }
}

void ICQVCaptionRenderer::MoveDown() {
    page.cursorY += page.cellHeight;
    if (page.cursorY > page.areaTop + page.areaHeight) {
        page.cursorY = page.areaTop + page.cellHeight;
    }
}

void ICQVCaptionRenderer::MoveUp() {
    page.cursorY -= page.cellHeight;
    if (page.cursorY < page.areaTop + page.cellHeight) {
        page.cursorY = page.areaTop + page.areaHeight;
    }
}

void ICQVCaptionRenderer::MoveToNextRow() {
    page.cursorX = page.areaLeft;
    MoveDown();
}

// --- downloaded characters

void ICQVCaptionRenderer::ReadDRCS(ICCaptionPacket* packet, LONG unitEnd) {
    const int32_t codeCount = packet->ReadUInt8();
    for (int32_t i = 0; i < codeCount && packet->GetPosition() < unitEnd; ++i) {
        const int32_t characterCode = packet->ReadUInt16();
        const int32_t fontCount = packet->ReadUInt8();
        if (characterCode < 0 || fontCount < 0) {
            return;
        }
        auto* data = new ICDRCSData(static_cast<uint16_t>(characterCode));
        for (int32_t f = 0; f < fontCount; ++f) {
            ICDRCSData::Font font;
            const int32_t mode = packet->ReadUInt8();
            if (mode < 0 || (mode & 0x0F) > 1) {
                break;  // geometric and compressed patterns are not stored
            }
            font.mode = static_cast<uint8_t>(mode);
            font.depth = packet->ReadUInt8();
            font.width = packet->ReadUInt8();
            font.height = packet->ReadUInt8();
            font.bitsPerPixel = DRCSBitsPerPixel(font.depth);
            if (font.bitsPerPixel == 0 || font.width < 0 || font.height < 0) {
                break;
            }
            // The pattern is one run of bits, row after row, without padding between rows.
            const LONG size = (font.bitsPerPixel * font.width * font.height + 7) / 8;
            if (size > std::min<LONG>(unitEnd, packet->GetLength()) - packet->GetPosition()) {
                break;  // the pattern is cut short
            }
            font.pattern.assign(packet->GetCurrent(), packet->GetCurrent() + size);
            packet->SetPosition(packet->GetPosition() + size);
            data->fonts.push_back(std::move(font));
        }
        if (data->fonts.empty()) {
            delete data;
            return;
        }
        drcsStore.AddTail(data);
    }
}

int32_t ICQVCaptionRenderer::GetDRCSCount() {
    return drcsStore.GetCount();
}

const ICDRCSData* ICQVCaptionRenderer::GetDRCS(int32_t index) {
    return static_cast<const ICDRCSData*>(drcsStore.GetAt(index));
}

void ICQVCaptionRenderer::OnDRCS2(uint16_t code) {
    FlushText();
    DrawDRCSCode(code);
}

void ICQVCaptionRenderer::OnDRCS1(uint32_t setCode, uint8_t byte) {
    FlushText();
    const uint32_t set = setCode - kSetDrcs1 + 1;
    DrawDRCSCode(static_cast<uint16_t>(((0x40 + set) << 8) + (byte & 0x7F)));
}

void ICQVCaptionRenderer::DrawDRCSCode(uint16_t code) {
    for (ICListItem* item = drcsStore.GetHead(); item != nullptr; item = item->next) {
        const auto& data = *static_cast<ICDRCSData*>(item);
        if (data.characterCode != code) {
            continue;
        }
        size_t chosen = 0;
        for (size_t i = 0; i < data.fonts.size(); ++i) {
            const ICDRCSData::Font& font = data.fonts[i];
            if (font.width == page.fontWidth && font.height == page.fontHeight && font.depth == 2) {
                chosen = i;
                break;
            }
        }
        DrawDRCS(data, chosen);
        return;
    }
}
