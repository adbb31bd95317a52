// Decoding speed of ARIB 8-unit text: our decoder against libaribb24's arib_decode_buffer on the
// same realistic service-information texts (event titles of 20-80 bytes and descriptions of up
// to 400 bytes, mostly Kanji and kana with some alphanumerics and symbols).

// libaribb24's headers do not declare C linkage themselves.
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "aribtext/ICJIS8SICode.h"
#include "tools/aribencode/AribEncoder.h"

namespace {

const char16_t* const kWords[] = {
    u"ニュース", u"天気予報", u"番組",     u"紹介",   u"ドラマ",       u"第１話",
    u"再放送",   u"出演",     u"東京",     u"大阪",   u"スポーツ",     u"中継",
    u"音楽",     u"映画",     u"特集",     u"解説",   u"世界",         u"日本",
    u"旅",       u"料理",     u"歴史",     u"情報",   u"生活",         u"経済",
    u"政治",     u"野球",     u"サッカー", u"アニメ", u"バラエティー", u"ドキュメンタリー",
    u"美しい",   u"自然",     u"季節",     u"春",     u"夏",           u"秋",
    u"冬",       u"山",       u"海",       u"街",     u"人々",         u"物語",
    u"最新",     u"話題",     u"健康",     u"家族",   u"子ども",       u"教育",
    u"科学",     u"技術",     u"未来",     u"放送",   u"司会",         u"ゲスト",
    u"お笑い",   u"全国",     u"地方",     u"駅",     u"鉄道",         u"温泉",
    u"名所",     u"伝統",     u"文化",     u"芸術",   u"展覧会",       u"NHK",
    u"BS",       u"4K",       u"2024",     u"J1",     u"ほか",
};
const char16_t* const kParticles[] = {u"の", u"を",   u"に",   u"は", u"が", u"と", u"で",
                                      u"へ", u"から", u"まで", u"、", u"。", u"・", u"　"};
const char16_t* const kMarks[] = {u"\uE0FD", u"\uE0FE", u"\uE180", u"【", u"】", u"「", u"」"};

// Encoded texts of roughly the given size in bytes.
std::vector<std::vector<uint8_t>> MakeTexts(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<uint8_t>> texts;
    for (size_t i = 0; i < count; ++i) {
        bool title = i % 3 == 0;
        size_t target = title ? 20 + random() % 61 : 80 + random() % 321;
        std::u16string text;
        while (EncodeAribText(text).size() + 12 < target) {
            if (random() % 10 == 0) {
                text += kMarks[random() % std::size(kMarks)];
            }
            text += kWords[random() % std::size(kWords)];
            text += kParticles[random() % std::size(kParticles)];
        }
        texts.push_back(EncodeAribText(text));
    }
    return texts;
}

const std::vector<std::vector<uint8_t>>& Texts() {
    static const std::vector<std::vector<uint8_t>> texts = MakeTexts(3000, 2015);
    return texts;
}

int64_t TotalBytes() {
    int64_t total = 0;
    for (const auto& text : Texts()) {
        total += static_cast<int64_t>(text.size());
    }
    return total;
}

void BM_ICJIS8CodeDecode(benchmark::State& state) {
    const auto& texts = Texts();
    ICJIS8SICode decoder;
    for (auto _ : state) {
        for (const auto& text : texts) {
            ICWString decoded = decoder.Decode(text.data(), text.size());
            benchmark::DoNotOptimize(decoded.GetText());
        }
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes());
}
BENCHMARK(BM_ICJIS8CodeDecode);

// Each text starts from the initial state, as ours does.
void BM_Aribb24DecodeBuffer(benchmark::State& state) {
    const auto& texts = Texts();
    arib_instance_t* instance = arib_instance_new(nullptr);
    arib_decoder_t* decoder = arib_get_decoder(instance);
    std::vector<char> output(4096);
    for (auto _ : state) {
        for (const auto& text : texts) {
            arib_initialize_decoder(decoder);
            size_t length =
                arib_decode_buffer(decoder, text.data(), text.size(), output.data(), output.size());
            arib_finalize_decoder(decoder);
            benchmark::DoNotOptimize(length);
        }
    }
    arib_instance_destroy(instance);
    state.SetBytesProcessed(state.iterations() * TotalBytes());
}
BENCHMARK(BM_Aribb24DecodeBuffer);

}  // namespace

BENCHMARK_MAIN();
