#pragma once

#include <cstdint>

#include "core/ICArray.h"
#include "core/ICString.h"

// An array of owned ICStrings. A slot may be empty (null); reading it through GetString creates
// an empty string there. Items put into the array through the ICArray operations (Add, InsertAt,
// SetAt) must be ICStrings made with `new`: the array frees them.
class ICStringArray : public ICArray {
public:
    ICStringArray() = default;
    // Frees every string.
    ~ICStringArray() override;

    // Shrinking frees the strings that no longer fit.
    void SetCapacity(int32_t n) override;
    void SetCount(int32_t n) override;
    // Copies the strings of another string array; from a plain pointer array nothing is copied,
    // since its items are not known to be strings.
    void CopyFrom(const ICArray& other) override;
    // Frees the string at index.
    bool RemoveAt(int32_t index) override;
    // Frees the string previously in the slot.
    void SetAt(int32_t index, void* item) override;

    // The string at index; an empty slot gets an empty string. Null when out of range.
    ICString* GetString(int32_t index);
    // A copy of the string at index; empty when out of range or the slot is empty.
    ICString GetCopy(int32_t index) const;
    // Ignored when out of range.
    void SetString(int32_t index, const char* text);
    // Appends a copy of text; returns its index.
    int32_t AddString(const char* text);
    int32_t AddString(const ICString& text) { return AddString(text.GetText()); }
    // Exact comparison; an empty slot matches the empty text. -1 when absent.
    int32_t IndexOfString(const char* text) const;
    // Replaces the contents with the pieces of text cut at each occurrence of delimiter. A
    // double-quoted run is never cut; a piece that begins and ends with a double quote is stored
    // without them. An empty text gives no pieces, an empty delimiter the whole text.
    void Split(const char* text, const char* delimiter);

private:
    void FreeFrom(int32_t index);
};
