#include "platform/media/MediaClasses.h"

HRESULT MediaRegisterAudioBuiltins() {
    return S_OK;
}
