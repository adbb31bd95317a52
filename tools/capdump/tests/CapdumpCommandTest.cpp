// capdump: how it cuts a caption elementary stream into data groups, and end to end the
// recorded caption streams against their reference transcripts, the subtitles it writes through
// ffmpeg, its PNG pages, and the captions of the simulator's transport stream through the SI
// analyzer.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <sstream>

#include "aribtext/ICAribSymbolMap.h"
#include "aribtext/ICJIS8Code.h"
#include "core/CodePage.h"
#include "tools/capdump/CaptionDump.h"
#include "tools/isdbsim/TsStream.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder, removed with the object.
struct TempFolder {
    TempFolder() {
        path = fs::temp_directory_path() /
               ("capdump-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }

    fs::path path;
    static inline int counter = 0;
};

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs `command` through the shell; `output` and `errors` get what it wrote to standard output
// and standard error. Returns its exit status, -1 when it did not exit.
int RunShell(const std::string& command, std::string& output, std::string& errors) {
    const TempFolder folder;
    const std::string errorFile = folder / "stderr";
    FILE* pipe = popen((command + " 2>" + errorFile).c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    output.clear();
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int status = pclose(pipe);
    errors = ReadText(errorFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Capdump(const std::string& arguments) {
    std::string output;
    std::string errors;
    EXPECT_EQ(RunShell(std::string(CAPDUMP_PATH) + " " + arguments, output, errors), 0) << errors;
    return output;
}

// The recorded caption streams beside their transcripts; empty when the shared data is absent.
std::vector<fs::path> CaptionStreams() {
    std::vector<fs::path> streams;
    const char* shared = std::getenv("ORV_SHARED_DIR");
    const fs::path folder = fs::path(shared != nullptr ? shared : "") / "testdata" / "captions";
    if (shared == nullptr || !fs::is_directory(folder)) {
        return streams;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".es" && fs::exists(entry.path().string() + ".txt")) {
            streams.push_back(entry.path());
        }
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

TEST(CaptionElementaryStream, SplitsIntoWholeDataGroupsPassingOverJunkAndATruncatedTail) {
    // Header length 2 and data group size 3: 2 + 3 + 10 bytes; then size 0 without private data.
    const std::vector<uint8_t> first{0x80, 0xFF, 0xF2, 0xAA, 0xBB, 0x00, 0x00, 0x00,
                                     0x00, 0x03, 1,    2,    3,    0x12, 0x34};
    const std::vector<uint8_t> second{0x80, 0xFF, 0xF0, 0x80, 0x00, 0x00, 0x00, 0x00, 0x56, 0x78};
    // Then bytes where no packet starts, the second group and the first cut short by a byte.
    std::vector<uint8_t> stream = first;
    for (uint8_t junk : {0x00, 0x80, 0x47}) {
        stream.push_back(junk);
    }
    for (size_t i = 0; i < second.size() + first.size() - 1; ++i) {
        stream.push_back(i < second.size() ? second[i] : first[i - second.size()]);
    }
    const capdump::DataGroups groups = capdump::SplitDataGroups(stream.data(), stream.size());
    ASSERT_EQ(groups.groups.size(), 2u);
    EXPECT_EQ(groups.groups[0], first);
    EXPECT_EQ(groups.groups[1], second);
    EXPECT_EQ(groups.skippedBytes, 3u);
    EXPECT_EQ(groups.truncatedBytes, first.size() - 1);
}

// --- the text comparison

// What decoders show in their own ways: the characters of the additional symbols of rows 90 to
// 94 as the decoder gives them (directly or through the map from its private-use codes), every
// character the map produces, and the two the reference transcripts write for symbols that
// the decoder gives otherwise (U+2048 for U+2049, U+266B for U+266C).
const std::set<char32_t>& AdditionalSymbols() {
    static const std::set<char32_t> symbols = [] {
        std::set<char32_t> set{U'\u2048', U'\u266B'};
        for (char32_t code = 0xE000; code <= 0xF8FF; ++code) {
            if (char32_t symbol = ICAribSymbolMap::ToUnicode(char16_t(code))) {
                set.insert(symbol);
            }
        }
        constexpr size_t kFirstSymbolRow = 0x7A - 0x75;
        const char16_t* table = ICJIS8Code::GetAdditionalSymbolTable();
        for (size_t i = kFirstSymbolRow * 94; i < 10 * 94; ++i) {
            const char32_t unit = table[i];
            const char32_t mapped = ICAribSymbolMap::ToUnicode(table[i]);
            set.insert(mapped != 0 ? mapped : unit);
        }
        return set;
    }();
    return symbols;
}

// The text as compared: U+FF5E as U+301C, additional symbols (and anything beyond the BMP or
// in the private-use area) left out, NFKC, no white space.
std::u32string Comparable(const std::string& utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    text.findAndReplace(icu::UnicodeString(u'\uFF5E'), icu::UnicodeString(u'\u301C'));
    icu::UnicodeString kept;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (c <= 0xFFFF && !(c >= 0xE000 && c <= 0xF8FF) && !AdditionalSymbols().count(c)) {
            kept.append(c);
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    const icu::UnicodeString normal = nfkc->normalize(kept, status);
    std::u32string result;
    for (int32_t i = 0; i < normal.length(); i = normal.moveIndex32(i, 1)) {
        if (!u_isUWhiteSpace(normal.char32At(i))) {
            result += char32_t(normal.char32At(i));
        }
    }
    return result;
}

// The caption text of a transcript: without its markup and without the pattern blocks of its
// downloaded characters.
std::string TranscriptText(const std::string& transcript) {
    static const std::regex patterns("<DRCS set=[^>]*>[\\s\\S]*?</DRCS>");
    static const std::regex tags("<[^>]*>");
    return std::regex_replace(std::regex_replace(transcript, patterns, ""), tags, "");
}

// Stretches where a and b differ: a[aBegin, aEnd) became b[bBegin, bEnd).
struct Hunk {
    size_t aBegin, aEnd, bBegin, bEnd;
};

struct Comparison {
    size_t edits = 0;         // characters deleted from a plus characters inserted from b
    std::vector<Hunk> hunks;  // empty when the edit script was too long to keep
};

// Myers' O(ND) difference on code points, keeping the furthest-reaching paths of each step
// (while there are few) to read the edit script back.
Comparison Compare(const std::u32string& a, const std::u32string& b) {
    constexpr size_t kMaxTracedEdits = 3000;
    const long n = long(a.size());
    const long m = long(b.size());
    const long offset = n + m + 1;
    std::vector<long> v(size_t(2 * offset + 1), 0);
    std::vector<std::vector<long>> trace;  // v[-d .. d] before step d
    long d = 0;
    for (;; ++d) {
        if (size_t(d) <= kMaxTracedEdits) {
            trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
        }
        bool done = false;
        for (long k = -d; k <= d && !done; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                         ? v[offset + k + 1]
                         : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[size_t(x)] == b[size_t(y)]) {
                ++x, ++y;
            }
            v[offset + k] = x;
            done = x >= n && y >= m;
        }
        if (done) {
            break;
        }
    }
    Comparison result{size_t(d), {}};
    if (size_t(d) > kMaxTracedEdits) {
        return result;
    }
    long x = n;
    long y = m;
    for (long step = d; step > 0; --step) {
        const std::vector<long>& before = trace[size_t(step)];
        auto at = [&](long k) { return before[size_t(k + step)]; };  // v[k] before `step`
        const long k = x - y;
        const long previousK = (k == -step || (k != step && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const long previousX = at(previousK);
        const long previousY = previousX - previousK;
        while (x > previousX && y > previousY) {
            --x, --y;
        }
        // One edit from (previousX, previousY) to (x, y), joined with the hunk after it.
        if (!result.hunks.empty() && result.hunks.back().aBegin == size_t(x) &&
            result.hunks.back().bBegin == size_t(y)) {
            result.hunks.back().aBegin = size_t(previousX);
            result.hunks.back().bBegin = size_t(previousY);
        } else {
            result.hunks.push_back({size_t(previousX), size_t(x), size_t(previousY), size_t(y)});
        }
        x = previousX;
        y = previousY;
    }
    std::reverse(result.hunks.begin(), result.hunks.end());
    return result;
}

std::string Utf8(const std::u32string& text, size_t begin, size_t end) {
    icu::UnicodeString unicode;
    for (size_t i = begin; i < std::min(end, text.size()); ++i) {
        unicode.append(UChar32(text[i]));
    }
    std::string out;
    return unicode.toUTF8String(out);
}

void ExpectTranscriptMatch(const fs::path& stream, const std::string& output) {
    const std::u32string ours = Comparable(output);
    const std::u32string reference = Comparable(TranscriptText(ReadText(stream.string() + ".txt")));
    const Comparison comparison = Compare(reference, ours);
    const size_t total = ours.size() + reference.size();
    const double similarity = total == 0 ? 1.0 : 1.0 - double(comparison.edits) / total;
    std::printf("%s: similarity %.4f (%zu reference, %zu decoded characters)\n",
                stream.filename().c_str(), similarity, reference.size(), ours.size());
    if (similarity < 0.99) {
        for (const Hunk& hunk : comparison.hunks) {
            const size_t context = std::min<size_t>(hunk.aBegin, 8);
            std::printf("  at %zu: ...%s [-%s-] [+%s+] %s...\n", hunk.aBegin,
                        Utf8(reference, hunk.aBegin - context, hunk.aBegin).c_str(),
                        Utf8(reference, hunk.aBegin, hunk.aEnd).c_str(),
                        Utf8(ours, hunk.bBegin, hunk.bEnd).c_str(),
                        Utf8(reference, hunk.aEnd, hunk.aEnd + 8).c_str());
        }
    }
    EXPECT_GE(similarity, 0.99) << stream;
}

void ExpectFfmpegReads(const std::string& path) {
    std::string output;
    std::string errors;
    if (RunShell("ffmpeg -version", output, errors) != 0) {
        std::printf("no ffmpeg: %s not checked\n", path.c_str());
        return;
    }
    EXPECT_GT(fs::file_size(path), 1000u) << path;
    // Decoding to ASS makes ffmpeg parse every event; the null muxer takes no subtitles
    // without an encoder.
    EXPECT_EQ(RunShell("ffmpeg -v error -i " + path + " -c:s ass -f null -", output, errors), 0)
        << path;
    EXPECT_EQ(errors, "") << path;
}

void ExpectPages(const fs::path& folder) {
    size_t pages = 0;
    size_t withCaption = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, entry.path().c_str())) << entry.path();
        // The writing format's rectangle: 960 x 540 or 720 x 480.
        EXPECT_TRUE((image.width == 960 && image.height == 540) ||
                    (image.width == 720 && image.height == 480))
            << entry.path() << " " << image.width << " x " << image.height;
        image.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
        ++pages;
        withCaption +=
            std::any_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v != 128; });
    }
    EXPECT_GT(pages, 100u);
    EXPECT_GT(withCaption, pages / 2);
}

// The renderer waits out the TIME controls of a statement in real time (minutes per
// programme), so the streams run side by side; one also writes its pages and subtitles.
TEST(CapdumpRecordedStreams, TextMatchesTheTranscriptsAndPagesAndSubtitlesAreReadable) {
    const std::vector<fs::path> streams = CaptionStreams();
    if (streams.empty()) {
        GTEST_SKIP() << "no shared caption streams";
    }
    const TempFolder folder;
    const std::string exports = " --png " + folder / "pages" + " --srt " + folder / "out.srt" +
                                " --ass " + folder / "out.ass" + " --vtt " + folder / "out.vtt";
    std::vector<std::future<std::string>> outputs;
    for (const fs::path& stream : streams) {
        const std::string arguments =
            stream.string() + (&stream == &streams.front() ? exports : "");
        outputs.push_back(
            std::async(std::launch::async, [arguments] { return Capdump(arguments); }));
    }
    for (size_t i = 0; i < streams.size(); ++i) {
        ExpectTranscriptMatch(streams[i], outputs[i].get());
    }
    for (const char* name : {"out.srt", "out.ass", "out.vtt"}) {
        ExpectFfmpegReads(folder / name);
    }
    ExpectPages(folder.path / "pages");
}

// --- through the SI analyzer

TEST(CapdumpTransportStream, PrintsTheSimulatorsCaptionsTimedFromTheFirstPcr) {
    using namespace isdbsim;
    const TransportStreamInfo& info = *FindChannel(0, 0);
    const ServiceInfo& service = info.services[0];
    // Six statements come every 4 s from 1 s on.
    TsStream generator(info, *ParseJstTime("2026-04-01 12:00:00"), 1);
    std::string error;
    ASSERT_TRUE(generator.Open(&error)) << error;
    const size_t count = size_t(26.0 * generator.PacketRate());
    Bytes stream(count * kTsPacketSize);
    generator.Generate(stream.data(), count);
    const Bytes tail = generator.Finish();
    stream.insert(stream.end(), tail.begin(), tail.end());
    const TempFolder folder;
    std::ofstream(folder / "sim.ts", std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));

    std::istringstream lines(Capdump("--times --service " + std::to_string(service.serviceId) +
                                     " " + folder / "sim.ts"));
    std::vector<std::pair<double, std::u16string>> captions;  // seconds, text without blanks
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        int hours = 0, minutes = 0;
        double seconds = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d:%d:%lf", &hours, &minutes, &seconds), 3) << line;
        std::u16string text = Utf8ToUtf16(line.substr(tab + 1));
        std::erase_if(text, [](char16_t c) { return c == u' ' || c == u'\u3000'; });
        captions.emplace_back(hours * 3600 + minutes * 60 + seconds, text);
    }
    ASSERT_FALSE(captions.empty());
    for (const CaptionStatement& statement : CaptionScript(service)) {
        std::u16string expected = statement.text;
        std::erase_if(expected, [](char16_t c) { return c == u' ' || c == u'\u3000'; });
        EXPECT_TRUE(std::any_of(captions.begin(), captions.end(), [&](const auto& caption) {
            return caption.second == expected;
        })) << Utf16ToUtf8(expected);
    }
    // Each statement clears the page first: the text lines come at 1 s into the programme (and
    // the multiplexer's delay) and then at multiples of 4 s.
    std::erase_if(captions, [](const auto& caption) { return caption.second.empty(); });
    ASSERT_FALSE(captions.empty());
    EXPECT_GT(captions.front().first, 0.5);
    EXPECT_LT(captions.front().first, 3.0);
    for (size_t i = 1; i < captions.size(); ++i) {
        const double steps = (captions[i].first - captions[i - 1].first) / 4.0;
        EXPECT_GE(steps, 0.95) << i;
        EXPECT_NEAR(steps, std::round(steps), 0.02) << i;
    }
}

}  // namespace
