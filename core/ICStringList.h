#pragma once

#include <cstdint>

#include "core/ICList.h"
#include "core/ICString.h"

// A list of owned ICStrings (strings are list items themselves). Each string's list-item user
// value serves as a per-item number. Removing all strings, and destroying the list, frees them;
// items linked in through the ICList operations must be ICStrings made with `new`.
class ICStringList : public ICList {
public:
    ICStringList() = default;
    ~ICStringList() override;

    // The strings are owned: removing all always frees them.
    void RemoveAll(bool deleteItems = true) override;

    // The string at index, or null.
    ICString* GetStringAt(int32_t index) const;
    ICString* AddString(const char* text);
    ICString* AddString(const ICString& text) { return AddString(text.GetText()); }
    // Appends text with `number` as its user value.
    ICString* AddString(const char* text, uint32_t number);
    // A negative index inserts at the head, an index at or beyond the count appends.
    ICString* InsertString(int32_t index, const char* text);
    // Unlinks and frees item; false when it is not in the list.
    bool RemoveString(ICString* item);
    // Ignored when out of range.
    void SetStringAt(int32_t index, const char* text);
    // Exact comparison; -1 when absent.
    int32_t IndexOfString(const char* text) const;
    // Replaces the contents with the pieces of text cut at each occurrence of delimiter. A
    // double-quoted run is never cut; a piece that begins and ends with a double quote is stored
    // without them. An empty text gives no pieces, an empty delimiter the whole text.
    void Split(const char* text, const char* delimiter);
};
