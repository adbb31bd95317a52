#include "core/ICObject.h"

void ICObject::SetName(const char* text) {
    name.Set(text);
}

void ICObject::SetName(const ICString& text) {
    name.Set(text);
}
