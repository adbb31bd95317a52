#include "core/ICStringList.h"

#include <string_view>

#include "core/ICSplit.h"

ICStringList::~ICStringList() {
    RemoveAll(true);
}

void ICStringList::RemoveAll(bool) {
    ICList::RemoveAll(true);
}

ICString* ICStringList::GetStringAt(int32_t index) const {
    return static_cast<ICString*>(GetAt(index));
}

ICString* ICStringList::AddString(const char* text) {
    auto* string = new ICString(text);
    AddTail(string);
    return string;
}

ICString* ICStringList::AddString(const char* text, uint32_t number) {
    ICString* string = AddString(text);
    string->userValue = number;
    return string;
}

ICString* ICStringList::InsertString(int32_t index, const char* text) {
    auto* string = new ICString(text);
    InsertAt(index, string);
    return string;
}

bool ICStringList::RemoveString(ICString* item) {
    return Remove(item, true);
}

void ICStringList::SetStringAt(int32_t index, const char* text) {
    if (ICString* string = GetStringAt(index)) {
        string->Set(text);
    }
}

int32_t ICStringList::IndexOfString(const char* text) const {
    if (text == nullptr) {
        text = "";
    }
    int32_t index = 0;
    for (ICListItem* item = head; item != nullptr; item = item->next, ++index) {
        if (static_cast<ICString*>(item)->IsEqual(text)) {
            return index;
        }
    }
    return -1;
}

void ICStringList::Split(const char* text, const char* delimiter) {
    RemoveAll(true);
    std::string_view whole = text != nullptr ? text : "";
    std::string_view cut = delimiter != nullptr ? delimiter : "";
    ICSplitText(whole, cut, true, [this](std::string_view piece) {
        AddTail(new ICString(piece.data(), piece.size()));
    });
}
