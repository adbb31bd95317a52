#include "core/ICWStringList.h"

#include <string_view>

#include "core/ICSplit.h"

ICWStringList::~ICWStringList() {
    RemoveAll(true);
}

void ICWStringList::RemoveAll(bool) {
    ICList::RemoveAll(true);
}

ICWString* ICWStringList::GetStringAt(int32_t index) const {
    return static_cast<ICWString*>(GetAt(index));
}

ICWString* ICWStringList::AddString(const char16_t* text) {
    auto* string = new ICWString(text);
    AddTail(string);
    return string;
}

ICWString* ICWStringList::AddString(const char16_t* text, uint32_t number) {
    ICWString* string = AddString(text);
    string->userValue = number;
    return string;
}

ICWString* ICWStringList::InsertString(int32_t index, const char16_t* text) {
    auto* string = new ICWString(text);
    InsertAt(index, string);
    return string;
}

bool ICWStringList::RemoveString(ICWString* item) {
    return Remove(item, true);
}

void ICWStringList::SetStringAt(int32_t index, const char16_t* text) {
    if (ICWString* string = GetStringAt(index)) {
        string->Set(text);
    }
}

int32_t ICWStringList::IndexOfString(const char16_t* text) const {
    if (text == nullptr) {
        text = u"";
    }
    int32_t index = 0;
    for (ICListItem* item = head; item != nullptr; item = item->next, ++index) {
        if (static_cast<ICWString*>(item)->IsEqual(text)) {
            return index;
        }
    }
    return -1;
}

void ICWStringList::Split(const char16_t* text, const char16_t* delimiter) {
    RemoveAll(true);
    std::u16string_view whole = text != nullptr ? text : u"";
    std::u16string_view cut = delimiter != nullptr ? delimiter : u"";
    ICSplitText(whole, cut, false, [this](std::u16string_view piece) {
        AddTail(new ICWString(piece.data(), piece.size()));
    });
}
