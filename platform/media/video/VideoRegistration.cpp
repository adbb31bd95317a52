#include "platform/media/MediaClasses.h"

HRESULT MediaRegisterVideoBuiltins() {
    return S_OK;
}
