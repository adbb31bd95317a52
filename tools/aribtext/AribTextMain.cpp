// aribtext: decodes ARIB 8-unit code to UTF-8, or encodes UTF-8 text to 8-unit code.
//
//   aribtext [--caption] HEX...           bytes as hexadecimal ("1B 24 3B", "1b243b", "0x1B")
//   aribtext [--caption] -                raw bytes from standard input
//   aribtext [--caption] --encode TEXT    the 8-unit code of TEXT as hexadecimal
//
// Decoding starts from the initial state of service-information text unless --caption asks for
// that of caption statements.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "aribtext/ICJIS8Code.h"
#include "aribtext/ICJIS8SICode.h"
#include "core/CodePage.h"
#include "tools/aribencode/AribEncoder.h"

namespace {

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: aribtext [--caption] HEX...\n"
                 "       aribtext [--caption] -\n"
                 "       aribtext [--caption] --encode TEXT\n"
                 "Decodes ARIB 8-unit code given as hexadecimal arguments (or raw bytes on "
                 "standard input with -)\nand prints it as UTF-8; --encode prints the 8-unit "
                 "code of a UTF-8 text. --caption uses the\ninitial state of caption text "
                 "instead of that of service information.\n");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Appends the bytes of one argument; separators (spaces, commas, colons) and "0x" prefixes are
// allowed. False for anything else or an odd number of digits in a group.
bool ParseHex(const std::string& argument, std::vector<uint8_t>& bytes) {
    size_t i = 0;
    while (i < argument.size()) {
        char c = argument[i];
        if (c == ' ' || c == ',' || c == ':' || c == '\t') {
            ++i;
            continue;
        }
        if (c == '0' && i + 1 < argument.size() &&
            (argument[i + 1] == 'x' || argument[i + 1] == 'X')) {
            i += 2;
        }
        size_t start = i;
        while (i < argument.size() && HexDigit(argument[i]) >= 0) {
            ++i;
        }
        size_t digits = i - start;
        if (digits == 0 || digits % 2 != 0) {
            return false;
        }
        for (size_t d = start; d < i; d += 2) {
            bytes.push_back(
                static_cast<uint8_t>(HexDigit(argument[d]) * 16 + HexDigit(argument[d + 1])));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool caption = false;
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--caption") == 0) {
        caption = true;
        ++first;
    }
    if (first >= argc || std::strcmp(argv[first], "-h") == 0 ||
        std::strcmp(argv[first], "--help") == 0) {
        PrintUsage();
        return first >= argc ? 2 : 0;
    }

    if (std::strcmp(argv[first], "--encode") == 0) {
        if (first + 2 != argc) {
            PrintUsage();
            return 2;
        }
        AribEncoder encoder(caption ? AribEncoder::InitialState::kCaption
                                    : AribEncoder::InitialState::kServiceInformation);
        size_t missing = encoder.AppendUtf8(argv[first + 1]);
        std::string line;
        char digits[4];
        for (uint8_t b : encoder.GetBytes()) {
            std::snprintf(digits, sizeof(digits), "%02X", b);
            if (!line.empty()) {
                line += ' ';
            }
            line += digits;
        }
        std::printf("%s\n", line.c_str());
        if (missing > 0) {
            std::fprintf(stderr,
                         "aribtext: %zu character(s) have no code and were written as U+3013\n",
                         missing);
            return 1;
        }
        return 0;
    }

    std::vector<uint8_t> bytes;
    if (std::strcmp(argv[first], "-") == 0 && first + 1 == argc) {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        for (int i = first; i < argc; ++i) {
            if (!ParseHex(argv[i], bytes)) {
                std::fprintf(stderr, "aribtext: not hexadecimal bytes: %s\n", argv[i]);
                return 2;
            }
        }
    }
    ICJIS8SICode siDecoder;
    ICJIS8Code captionDecoder;
    ICJIS8Code& decoder = caption ? captionDecoder : siDecoder;
    ICWString text = decoder.Decode(bytes.data(), bytes.size());
    std::printf("%s\n", Utf16ToUtf8(text.GetView()).c_str());
    return 0;
}
