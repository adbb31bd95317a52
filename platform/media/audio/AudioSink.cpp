#include "platform/media/audio/AudioSink.h"

#include <cstdlib>
#include <cstring>

namespace orvaudio {

std::unique_ptr<AudioSink> OpenAudioSink() {
    const char* choice = std::getenv(kSinkVariable);
    if (choice != nullptr && std::strcmp(choice, "silent") == 0) {
        return OpenSilentSink();
    }
    if (auto pulse = OpenPulseSink()) {
        return pulse;
    }
    return OpenSilentSink();
}

}  // namespace orvaudio
