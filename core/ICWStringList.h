#pragma once

#include <cstdint>

#include "core/ICList.h"
#include "core/ICWString.h"

// A list of owned UTF-16 ICWStrings (strings are list items themselves). Each string's list-item
// user value serves as a per-item number. Removing all strings, and destroying the list, frees
// them; items linked in through the ICList operations must be ICWStrings made with `new`.
class ICWStringList : public ICList {
public:
    ICWStringList() = default;
    ~ICWStringList() override;

    // The strings are owned: removing all always frees them.
    void RemoveAll(bool deleteItems = true) override;

    // The string at index, or null.
    ICWString* GetStringAt(int32_t index) const;
    ICWString* AddString(const char16_t* text);
    ICWString* AddString(const ICWString& text) { return AddString(text.GetText()); }
    // Appends text with `number` as its user value.
    ICWString* AddString(const char16_t* text, uint32_t number);
    // A negative index inserts at the head, an index at or beyond the count appends.
    ICWString* InsertString(int32_t index, const char16_t* text);
    // Unlinks and frees item; false when it is not in the list.
    bool RemoveString(ICWString* item);
    // Ignored when out of range.
    void SetStringAt(int32_t index, const char16_t* text);
    // Exact comparison; -1 when absent.
    int32_t IndexOfString(const char16_t* text) const;
    // Replaces the contents with the pieces of text cut at each occurrence of delimiter. A
    // double-quoted run is never cut; a piece that begins and ends with a double quote is stored
    // without them. An empty text gives no pieces, an empty delimiter the whole text.
    void Split(const char16_t* text, const char16_t* delimiter);
};
