// Throughput of the code page 932 conversions and of the MPEG-2 CRC-32.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/CRC32.h"
#include "core/CodePage.h"

namespace {

// Programme-guide style text: mostly double-byte kanji and kana, with some full-width and
// ASCII digits, punctuation and half-width katakana.
const char16_t* const kGuideTexts[] = {
    u"【字】ニュース７　全国の天気と交通情報をお伝えします。今日の主なニュース：経済対策、"
    u"国会審議の行方、各地の話題。",
    u"連続テレビ小説「朝の光」（１２３）　主人公の春子は東京での新しい生活に戸惑いながらも、"
    u"仲間たちと共に夢に向かって歩き出す。出演：山田花子，鈴木一郎ほか",
    u"［映］土曜映画劇場　名作アニメーション映画を放送。監督・脚本：佐藤次郎　音楽：高橋三郎"
    u"　２０２４年製作　ｶﾗｰ　ステレオ　字幕放送",
    u"プロ野球中継　巨人×阪神（東京ドーム）解説：田中　実況：伊藤　※試合終了まで延長の場合"
    u"あり。以降の番組は繰り下げて放送します。",
    u"ドキュメンタリー「日本の里山」　四季折々の自然と、そこに暮らす人々の営みを美しい映像で"
    u"描く。語り：渡辺真理子",
};

std::string GuideTextCp932(size_t minimumBytes) {
    std::string text;
    while (text.size() < minimumBytes) {
        for (const char16_t* guide : kGuideTexts) {
            text += Utf16ToCp932(guide);
        }
    }
    return text;
}

void BM_Cp932ToUtf16_GuideText(benchmark::State& state) {
    std::string text = GuideTextCp932(static_cast<size_t>(state.range(0)));
    std::vector<char16_t> out(text.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(Cp932ToUtf16(text.data(), text.size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Cp932ToUtf16_GuideText)->Arg(64 << 10)->Arg(1 << 20);

// One conversion per guide text, as the SI decoding path calls it.
void BM_Cp932ToUtf16_ShortStrings(benchmark::State& state) {
    std::vector<std::string> texts;
    size_t bytes = 0;
    for (const char16_t* guide : kGuideTexts) {
        texts.push_back(Utf16ToCp932(guide));
        bytes += texts.back().size();
    }
    for (auto _ : state) {
        for (const std::string& text : texts) {
            benchmark::DoNotOptimize(Cp932ToUtf16(text));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Cp932ToUtf16_ShortStrings);

void BM_Utf16ToCp932_GuideText(benchmark::State& state) {
    std::u16string text = Cp932ToUtf16(GuideTextCp932(64 << 10));
    std::vector<char> out(text.size() * 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Utf16ToCp932(text.data(), text.size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}
BENCHMARK(BM_Utf16ToCp932_GuideText);

void BM_CalcCRC32(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    std::mt19937 random(1);
    for (uint8_t& byte : data) {
        byte = static_cast<uint8_t>(random());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(CalcCRC32(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
// A short section, a long section, a large buffer (EPG.data).
BENCHMARK(BM_CalcCRC32)->Arg(188)->Arg(4096)->Arg(4 << 20);

}  // namespace

BENCHMARK_MAIN();
