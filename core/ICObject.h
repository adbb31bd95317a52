#pragma once

#include "core/ICString.h"

// The base of the named objects of the core (lists, worker threads): a name, empty unless set,
// and a parent pointer that the object does not own.
class ICObject {
public:
    ICObject() = default;

    const char* GetName() const { return name.GetText(); }
    const ICString& GetNameString() const { return name; }
    void SetName(const char* text);
    void SetName(const ICString& text);

    ICObject* GetParent() const { return parent; }
    void SetParent(ICObject* object) { parent = object; }

private:
    ICString name;
    ICObject* parent = nullptr;
};
