// Writes the conversion tables of code page 932 as C++ source, from the system's iconv "CP932"
// mapping (the Windows CP932 mapping). It runs once at build time: the tables are fixed data, so
// nothing is computed at start-up, the tables live in read-only memory shared by every process,
// and running programs do not depend on the installed iconv modules.
//
// Usage: orv_cp932_table_gen OUTPUT

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

enum class Result { Converted, Incomplete, Invalid };

// Converts one character with iconv; `output` receives the converted bytes.
Result Convert(iconv_t converter, const unsigned char* input, size_t inputLength,
               std::vector<unsigned char>& output) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    unsigned char buffer[16];
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(input));
    size_t inLeft = inputLength;
    char* out = reinterpret_cast<char*>(buffer);
    size_t outLeft = sizeof buffer;
    size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    if (result == static_cast<size_t>(-1)) {
        return errno == EINVAL ? Result::Incomplete : Result::Invalid;
    }
    if (inLeft != 0) {
        return Result::Invalid;
    }
    output.assign(buffer, buffer + (sizeof buffer - outLeft));
    return Result::Converted;
}

bool IsTrail(int byte) {
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

void WriteArray(FILE* file, const char* declaration, const std::vector<unsigned>& values,
                int digits) {
    std::fprintf(file, "%s = {", declaration);
    for (size_t i = 0; i < values.size(); ++i) {
        std::fprintf(file, "%s0x%0*X,", i % 12 == 0 ? "\n    " : " ", digits, values[i]);
    }
    std::fprintf(file, "\n};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    iconv_t decoder = iconv_open("UTF-16LE", "CP932");
    iconv_t encoder = iconv_open("CP932", "UTF-16LE");
    if (decoder == reinterpret_cast<iconv_t>(-1) || encoder == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "iconv has no CP932 conversion\n");
        return 1;
    }
    constexpr unsigned kInvalid = 0x30FB;
    std::vector<unsigned char> output;

    // Single bytes; a byte that iconv reports as incomplete leads a double-byte character.
    std::vector<unsigned> single(256, kInvalid);
    std::vector<unsigned> leadRow(256, 0);
    std::vector<int> leads;
    for (int byte = 0; byte < 256; ++byte) {
        unsigned char input = static_cast<unsigned char>(byte);
        Result result = Convert(decoder, &input, 1, output);
        if (result == Result::Converted && output.size() == 2) {
            single[byte] = output[0] | (output[1] << 8);
        } else if (result == Result::Incomplete) {
            leads.push_back(byte);
            leadRow[byte] = static_cast<unsigned>(leads.size());
        }
        if (byte < 0x80 && single[byte] != static_cast<unsigned>(byte)) {
            // The converter copies ASCII runs without the tables.
            std::fprintf(stderr, "CP932 byte %02X is not ASCII\n", byte);
            return 1;
        }
    }

    // Double bytes, one row of 256 per lead byte after an unused row 0 (so that the row number of
    // kCp932LeadRow indexes it directly). 0 marks a byte that cannot be a trail byte (the lead
    // byte is then invalid on its own); a possible trail byte without a mapping gives the
    // invalid character for the pair.
    std::vector<unsigned> pairs((leads.size() + 1) * 256, 0);
    for (size_t row = 0; row < leads.size(); ++row) {
        for (int trail = 0; trail < 256; ++trail) {
            if (!IsTrail(trail)) {
                continue;
            }
            unsigned char input[2] = {static_cast<unsigned char>(leads[row]),
                                      static_cast<unsigned char>(trail)};
            unsigned value = kInvalid;
            if (Convert(decoder, input, 2, output) == Result::Converted && output.size() == 2) {
                value = output[0] | (output[1] << 8);
            }
            pairs[(row + 1) * 256 + trail] = value;
        }
    }

    // The reverse direction, asked of iconv for every character of the basic plane so that
    // characters with several codes get the code iconv chooses. Code 0 means unmappable (U+0000
    // itself is handled by the ASCII path). Blocks of 256 characters without any code share
    // block 0.
    std::vector<unsigned> pageBlock(256, 0);
    std::vector<unsigned> blocks(256, 0);
    for (int page = 0; page < 256; ++page) {
        std::vector<unsigned> block(256, 0);
        bool any = false;
        for (int low = 0; low < 256; ++low) {
            unsigned c = static_cast<unsigned>(page * 256 + low);
            if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF)) {
                continue;
            }
            unsigned char input[2] = {static_cast<unsigned char>(c),
                                      static_cast<unsigned char>(c >> 8)};
            if (Convert(encoder, input, 2, output) != Result::Converted) {
                continue;
            }
            if (output.size() == 1) {
                block[low] = output[0];
            } else if (output.size() == 2) {
                block[low] = (output[0] << 8) | output[1];
            } else {
                continue;
            }
            any = true;
        }
        if (any) {
            pageBlock[page] = static_cast<unsigned>(blocks.size() / 256);
            blocks.insert(blocks.end(), block.begin(), block.end());
        }
    }
    iconv_close(decoder);
    iconv_close(encoder);

    FILE* file = std::fopen(argv[1], "w");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(file,
                 "// Code page 932 conversion tables, written at build time by "
                 "orv_cp932_table_gen.\n\n");
    std::fprintf(file, "constexpr size_t kCp932LeadCount = %zu;\n\n", leads.size());
    WriteArray(file, "constexpr uint8_t kCp932LeadRow[256]", leadRow, 2);
    WriteArray(file, "constexpr char16_t kCp932Single[256]", single, 4);
    WriteArray(file, "constexpr char16_t kCp932Pairs[(kCp932LeadCount + 1) * 256]", pairs, 4);
    WriteArray(file, "constexpr uint8_t kCp932ReversePage[256]", pageBlock, 2);
    std::fprintf(file, "constexpr size_t kCp932ReverseBlockCount = %zu;\n\n", blocks.size() / 256);
    WriteArray(file, "constexpr uint16_t kCp932ReverseBlocks[kCp932ReverseBlockCount * 256]",
               blocks, 4);
    if (std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
