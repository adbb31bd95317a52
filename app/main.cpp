#include <cstdio>
#include <cstring>

namespace {

// The stores' format version; the same four bytes are the application's version.
constexpr unsigned char kVersionBytes[4] = {0x15, 0x12, 0x02, 0x00};

void PrintVersion() {
    std::printf("Orvanta %02X.%02X.%02X.%02X\n", kVersionBytes[0], kVersionBytes[1],
                kVersionBytes[2], kVersionBytes[3]);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintVersion();
            return 0;
        }
    }
    PrintVersion();
    return 0;
}
