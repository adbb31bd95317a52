#include "app/ui/guide/GuideSearch.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <array>
#include <memory>

#include "app/stores/CTuner.h"

namespace guide {

namespace {

// A table entry of a character that cannot be folded on its own.
constexpr char16_t kNeedsNormaliser = 0xFFFF;

char16_t LowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

const icu::Normalizer2* Nfkc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    return U_SUCCESS(status) ? nfkc : nullptr;
}

// The folded form of every BMP character that starts a normalisation segment of its own and
// normalises to one unit; the others (combining marks, expansions, surrogates) are
// kNeedsNormaliser. A text made only of the former folds character by character, which is what
// the normaliser would give, since a boundary before every character makes each one a segment.
using FoldTable = std::array<char16_t, 0x10000>;

std::unique_ptr<FoldTable> MakeFoldTable() {
    auto table = std::make_unique<FoldTable>();
    const icu::Normalizer2* nfkc = Nfkc();
    for (uint32_t c = 0; c < 0x10000; ++c) {
        char16_t folded = kNeedsNormaliser;
        if (nfkc != nullptr && !U16_IS_SURROGATE(c) && nfkc->hasBoundaryBefore(UChar32(c))) {
            UErrorCode status = U_ZERO_ERROR;
            const icu::UnicodeString one = nfkc->normalize(icu::UnicodeString(UChar32(c)), status);
            if (U_SUCCESS(status) && one.length() == 1) {
                folded = LowerAscii(one.charAt(0));
            }
        } else if (nfkc == nullptr && c != kNeedsNormaliser) {
            folded = LowerAscii(char16_t(c));
        }
        (*table)[c] = folded;
    }
    return table;
}

const FoldTable& Table() {
    static const std::unique_ptr<FoldTable> table = MakeFoldTable();
    return *table;
}

}  // namespace

std::u16string FoldForSearch(std::u16string_view text) {
    std::u16string folded;
    const icu::Normalizer2* nfkc = Nfkc();
    const icu::UnicodeString source(false, text.data(), int32_t(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString normal =
        nfkc != nullptr ? nfkc->normalize(source, status) : icu::UnicodeString();
    if (nfkc != nullptr && U_SUCCESS(status)) {
        folded.assign(normal.getBuffer(), size_t(normal.length()));
    } else {
        folded.assign(text);
    }
    for (char16_t& c : folded) {
        c = LowerAscii(c);
    }
    return folded;
}

FoldedKeyword::FoldedKeyword(std::u16string_view keyword) : folded(FoldForSearch(keyword)) {
    Table();
}

bool FoldedKeyword::IsFoundIn(std::u16string_view text) const {
    const FoldTable& table = Table();
    scratch.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = table[text[i]];
        if (c == kNeedsNormaliser) {
            scratch = FoldForSearch(text);
            break;
        }
        scratch[i] = c;
    }
    return scratch.find(folded) != std::u16string::npos;
}

void EpgSearch::UseSpace(const CTuningSpace* space) {
    if (space != lastSpace) {
        lastSpace = space;
        position = {};
    }
}

namespace {

bool HasGenre(const CEventInfo& event, int genre) {
    for (int i = 0; i < event.genreCount && i < CEventInfo::kMaxGenres; ++i) {
        if (event.genres[size_t(i)] >> 12 == genre) {
            return true;
        }
    }
    return false;
}

}  // namespace

CEventInfo* EpgSearch::FindNext(const CTuningSpace& space, std::u16string_view keyword, int channel,
                                int genre, TimeValue base) {
    UseSpace(&space);
    if (channel != kAll && position.channel != channel) {
        position = {channel, 0};
    }
    const FoldedKeyword key(keyword);
    int channelIndex = 0;
    for (CChannelInfo* info : space.physicalChannels) {
        if (channelIndex < position.channel) {
            ++channelIndex;
            continue;
        }
        if (channel != kAll && channelIndex != channel) {
            break;
        }
        info->events.Lock();
        int eventIndex = 0;
        for (CEventInfo* event : info->events) {
            const bool before = channelIndex == position.channel && eventIndex < position.event;
            ++eventIndex;
            if (before || event->startTime < base || (genre != kAll && !HasGenre(*event, genre))) {
                continue;
            }
            if (key.IsFoundIn(event->title.GetView()) || key.IsFoundIn(event->text.GetView())) {
                info->events.Unlock();
                position = {channelIndex, eventIndex};
                return event;
            }
        }
        info->events.Unlock();
        ++channelIndex;
    }
    position = {channel == kAll ? 0 : channel, 0};
    return nullptr;
}

}  // namespace guide
