// libFuzzer target over the Logo.data loader: nothing may crash, read outside the file or leak,
// whatever the counts and sizes claim; what loads saves again to a file that loads the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/stores/CLogo.h"
#include "app/stores/CTunerList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CTunerList tuners("", "");
    CLogoList logos(tuners);
    logos.Deserialize(data, size);
    const std::vector<uint8_t> saved = logos.Serialize();
    CLogoList again(tuners);
    again.Deserialize(saved.data(), saved.size());
    if (again.Serialize() != saved) {
        std::abort();
    }
    return 0;
}
