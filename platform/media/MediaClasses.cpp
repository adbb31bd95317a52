#include "platform/media/MediaClasses.h"

#include <mutex>

HRESULT MediaRegisterBuiltins() {
    static std::once_flag once;
    static HRESULT result = S_OK;
    std::call_once(once, [] {
        const HRESULT video = MediaRegisterVideoBuiltins();
        const HRESULT audio = MediaRegisterAudioBuiltins();
        result = FAILED(video) ? video : audio;
    });
    return result;
}

namespace {

struct Registration {
    Registration() { MediaRegisterBuiltins(); }
};
const Registration registerAtStart;

}  // namespace

// Referenced by the link options so that the registration above is kept in every program.
extern "C" {
int OrvMediaBuiltinAnchor = 0;
}
