#pragma once

// The programme search of the guide without its dialog: text matching that ignores the case of
// ASCII letters and the difference between full-width and half-width forms, and the walk through
// a tuning space's channels and events from a remembered position.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/stores/CEventInfo.h"

class CTuningSpace;

namespace guide {

// Text in the form the search compares: compatibility forms unified (NFKC: "ＺＥＲＯ" is
// "ZERO", "ｶﾞ" is "ガ") and ASCII letters in lower case.
std::u16string FoldForSearch(std::u16string_view text);

// A keyword folded once, matched against many texts. Most characters fold on their own through
// a table derived from the normaliser; a text with characters that combine with their
// neighbours or expand goes through the normaliser whole.
class FoldedKeyword {
public:
    explicit FoldedKeyword(std::u16string_view keyword);

    bool IsFoundIn(std::u16string_view text) const;
    const std::u16string& Folded() const { return folded; }

private:
    std::u16string folded;
    mutable std::u16string scratch;
};

// The position of the search and its walk (one per application, like its dialog).
class EpgSearch {
public:
    static constexpr int kAll = -1;

    struct Position {
        int channel = 0;
        int event = 0;
    };

    // Starts over at the first channel's first event when `space` is not the space of the last
    // search.
    void UseSpace(const CTuningSpace* space);
    // The next event from the position that starts at or after `base`, has a genre value in
    // `genre` (content_nibble_level_1, or kAll) and whose title or, failing that, text holds the
    // keyword; only the channel at index `channel` unless kAll. The position moves just after a
    // match; when nothing is left it returns to the start (of that channel), so the next call
    // starts over. Null when nothing matched.
    CEventInfo* FindNext(const CTuningSpace& space, std::u16string_view keyword, int channel,
                         int genre, TimeValue base);

    Position GetPosition() const { return position; }

private:
    const CTuningSpace* lastSpace = nullptr;
    Position position;
};

}  // namespace guide
