#include "core/ICStringArray.h"

#include <string_view>

#include "core/ICSplit.h"

ICStringArray::~ICStringArray() {
    FreeFrom(0);
}

void ICStringArray::FreeFrom(int32_t index) {
    for (int32_t i = index < 0 ? 0 : index; i < count; ++i) {
        delete static_cast<ICString*>(items[i]);
        items[i] = nullptr;
    }
}

void ICStringArray::SetCapacity(int32_t n) {
    if (n < count) {
        FreeFrom(n);
    }
    ICArray::SetCapacity(n);
}

void ICStringArray::SetCount(int32_t n) {
    if (n < count) {
        FreeFrom(n);
    }
    ICArray::SetCount(n);
}

void ICStringArray::CopyFrom(const ICArray& other) {
    if (&other == this) {
        return;
    }
    RemoveAll();
    const auto* strings = dynamic_cast<const ICStringArray*>(&other);
    if (strings == nullptr) {
        return;
    }
    SetCount(strings->count);
    for (int32_t i = 0; i < count; ++i) {
        if (const auto* source = static_cast<const ICString*>(strings->items[i])) {
            items[i] = new ICString(*source);
        }
    }
}

bool ICStringArray::RemoveAt(int32_t index) {
    if (index < 0 || index >= count) {
        return false;
    }
    delete static_cast<ICString*>(items[index]);
    items[index] = nullptr;
    return ICArray::RemoveAt(index);
}

void ICStringArray::SetAt(int32_t index, void* item) {
    if (index < 0 || index >= count || items[index] == item) {
        return;
    }
    delete static_cast<ICString*>(items[index]);
    items[index] = item;
}

ICString* ICStringArray::GetString(int32_t index) {
    if (index < 0 || index >= count) {
        return nullptr;
    }
    if (items[index] == nullptr) {
        items[index] = new ICString;
    }
    return static_cast<ICString*>(items[index]);
}

ICString ICStringArray::GetCopy(int32_t index) const {
    if (const auto* text = static_cast<const ICString*>(GetAt(index))) {
        return *text;
    }
    return ICString();
}

void ICStringArray::SetString(int32_t index, const char* text) {
    if (ICString* slot = GetString(index)) {
        slot->Set(text);
    }
}

int32_t ICStringArray::AddString(const char* text) {
    auto* string = new ICString(text);
    int32_t index = Add(string);
    if (index < 0) {
        delete string;
    }
    return index;
}

int32_t ICStringArray::IndexOfString(const char* text) const {
    if (text == nullptr) {
        text = "";
    }
    for (int32_t i = 0; i < count; ++i) {
        const auto* string = static_cast<const ICString*>(items[i]);
        if (string == nullptr ? *text == '\0' : string->IsEqual(text)) {
            return i;
        }
    }
    return -1;
}

void ICStringArray::Split(const char* text, const char* delimiter) {
    RemoveAll();
    std::string_view whole = text != nullptr ? text : "";
    std::string_view cut = delimiter != nullptr ? delimiter : "";
    ICSplitText(whole, cut, true, [this](std::string_view piece) {
        auto* string = new ICString(piece.data(), piece.size());
        if (Add(string) < 0) {
            delete string;
        }
    });
}
