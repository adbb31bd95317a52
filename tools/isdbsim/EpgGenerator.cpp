#include "tools/isdbsim/EpgGenerator.h"

#include <array>

namespace isdbsim {
namespace {

struct GenreProgrammes {
    uint16_t genre;
    bool series;
    std::array<const char16_t*, 4> titles;
    std::array<const char16_t*, 3> texts;
};

// Genres (content_nibble_level_1 / level_2) and programmes of the simulated stations.
constexpr GenreProgrammes kProgrammes[] = {
    {0x00FF,
     false,
     {u"ニュース", u"おはようニュース", u"正午のニュース・気象情報", u"夕方ニュース"},
     {u"国内外の最新ニュースと全国の天気をお伝えします。",
      u"きょうの主な出来事と交通情報、気象情報。",
      u"政治・経済・社会のニュースを分かりやすく解説します。"}},
    {0x01FF,
     false,
     {u"天気予報", u"気象情報", u"週間天気", u"各地の天気"},
     {u"全国と地域の天気、週間予報をお伝えします。", u"雨雲の動きと気温の予想。",
      u"あすの天気と洗濯指数。"}},
    {0x11FF,
     false,
     {u"プロ野球中継　みなと対さくら", u"高校野球ハイライト", u"プロ野球ニュース", u"野球の時間"},
     {u"港スタジアムから生中継。解説は元投手の山田一郎さん。",
      u"きょうの全試合の結果とハイライト。", u"注目選手のインタビューをお届けします。"}},
    {0x12FF,
     false,
     {u"サッカー　リーグ中継", u"サッカーダイジェスト", u"週末サッカー情報", u"海外サッカー"},
     {u"首位攻防の一戦を生中継でお届けします。", u"今節の全ゴールを一挙紹介。",
      u"代表戦に向けた最新情報。"}},
    {0x20FF,
     false,
     {u"街角グルメ散歩", u"暮らしの知恵袋", u"情報ワイド　ひるまえ", u"週末おでかけガイド"},
     {u"下町の商店街で見つけた絶品コロッケを紹介。", u"冬の省エネ術と簡単な掃除のコツ。",
      u"話題のスポットと季節の味覚を訪ねます。"}},
    {0x30FF,
     true,
     {u"連続ドラマ　港町の灯り", u"刑事ドラマ　湾岸署の夜", u"時代劇　風の旅人",
      u"ドラマ　春を待つ家"},
     {u"灯台守の娘・ひかりは、嵐の夜に一人の青年と出会う。",
      u"湾岸署に届いた一通の手紙が事件の始まりだった。",
      u"旅の浪人・新之助は宿場町で不思議な少女を助ける。"}},
    {0x40FF,
     false,
     {u"歌謡ステージ", u"クラシック音楽館", u"音楽の広場", u"ジャズの夜"},
     {u"懐かしの名曲を豪華歌手陣が歌います。", u"交響楽団の定期演奏会から。",
      u"話題のアーティストがスタジオライブ。"}},
    {0x50FF,
     false,
     {u"笑いの広場", u"クイズ・港の大冒険", u"どうぶつ大集合", u"土曜バラエティ"},
     {u"人気芸人が勢ぞろい、笑いの祭典。", u"全問正解で豪華賞品、家族で挑戦。",
      u"かわいい動物たちの面白映像を一挙公開。"}},
    {0x60FF,
     false,
     {u"土曜映画劇場「遠い汽笛」", u"名作映画「海の向こうへ」", u"映画「星降る丘」",
      u"日曜シネマ「雪の駅」"},
     {u"昭和の港町を舞台にした感動の名作。", u"別れた家族が再び出会うまでの物語。",
      u"丘の上の天文台で起きた小さな奇跡。"}},
    {0x70FF,
     true,
     {u"アニメ　星のこどもたち", u"アニメ　ねこの町", u"アニメ　ロボと僕",
      u"アニメ　まほうのパン屋"},
     {u"ミナとソラは流れ星を追って森へ向かう。", u"ねこの町に新しい郵便屋さんがやって来た。",
      u"ロボのピコが初めて海を見る日。"}},
    {0x80FF,
     false,
     {u"ドキュメント　海と生きる", u"自然紀行　北の森", u"技の継承　職人たち", u"地球ドキュメント"},
     {u"漁師の一家の一年を追いました。", u"原生林に暮らす動物たちの四季。",
      u"三代続く鍛冶職人の仕事に密着。"}},
    {0xA0FF,
     true,
     {u"やさしい英会話", u"こども科学教室", u"きょうの料理", u"囲碁・将棋の時間"},
     {u"旅先で使える英語のフレーズを学びます。", u"磁石のふしぎを実験で確かめよう。",
      u"冬野菜のあったかスープとさばの味噌煮。"}},
};

constexpr const char16_t* kCast[] = {
    u"山田花子", u"佐藤健一", u"鈴木美咲",   u"高橋誠",   u"田中優子",   u"伊藤翔太",
    u"渡辺直美", u"中村大輔", u"小林さくら", u"加藤雄一", u"吉田真理子", u"松本拓也",
};

constexpr int kDurations[] = {15, 30, 30, 30, 45, 60, 60, 60, 90, 120};  // minutes

uint64_t Mix(uint64_t seed, uint16_t serviceId, int64_t day) {
    return seed * 0x100000001B3ull ^ (uint64_t{serviceId} << 40) ^ static_cast<uint64_t>(day);
}

}  // namespace

std::vector<ProgramEvent> EventsOfDay(const ServiceInfo& service, uint64_t seed, int64_t day) {
    if (service.simulcastOf != 0) {
        // A one-segment service repeats the programmes of its main service.
        ServiceInfo main;
        main.serviceId = service.simulcastOf;
        std::vector<ProgramEvent> events = EventsOfDay(main, seed, day);
        for (ProgramEvent& event : events) {
            event.simulcast = true;
            event.simulcastServiceId = service.simulcastOf;
        }
        return events;
    }
    Prng prng(Mix(seed, service.serviceId, day));
    std::vector<ProgramEvent> events;
    const JstTime dayStart = day * kSecondsPerDay;
    int minute = 0;
    int index = 0;
    while (minute < 24 * 60) {
        int duration = kDurations[prng.Below(std::size(kDurations))];
        duration = std::min(duration, 24 * 60 - minute);
        ProgramEvent event;
        event.eventId = static_cast<uint16_t>((day % 680) * 96 + index + 1);
        event.start = dayStart + minute * 60;
        event.duration = duration * 60;
        const CivilTime civil = ToCivil(event.start);
        // News on the hour in the morning, noon and evening; the rest drawn from the genres.
        size_t genreIndex = prng.Below(std::size(kProgrammes));
        if (minute % 60 == 0 && (civil.hour == 7 || civil.hour == 12 || civil.hour == 19)) {
            genreIndex = 0;
        }
        const GenreProgrammes& genre = kProgrammes[genreIndex];
        const uint32_t titleIndex = prng.Below(genre.titles.size());
        event.title = genre.titles[titleIndex];
        event.text = genre.texts[prng.Below(genre.texts.size())];
        event.genre = genre.genre;
        if (genreIndex == 0) {
            event.title += u"\U0001F211";  // [字]: captioned
        }
        if (genre.series) {
            event.series = true;
            event.seriesId = static_cast<uint16_t>(0x1000 + genreIndex * 8 + titleIndex);
            event.lastEpisode = 12;
            event.episode = static_cast<int>((day + titleIndex) % 12) + 1;
            event.seriesName = genre.titles[titleIndex];
            // Full-width digits, as programme guides write them.
            std::u16string number = u"第";
            if (event.episode >= 10) {
                number += u'１';
            }
            number += static_cast<char16_t>(u'０' + event.episode % 10);
            number += u"話";
            event.title += u"　" + number;
            if (event.episode == 1) {
                event.title += u"\U0001F21F";  // [新]: a new series
            }
        }
        const char16_t* first = kCast[prng.Below(std::size(kCast))];
        const char16_t* second = kCast[prng.Below(std::size(kCast))];
        event.items.push_back({u"番組内容", event.text + u"お楽しみに。"});
        event.items.push_back({u"出演者", std::u16string(first) + u"、" + second});
        if (prng.Below(2) == 0) {
            event.items.push_back({u"制作", service.name + u"制作部"});
        }
        events.push_back(std::move(event));
        minute += duration;
        ++index;
    }
    return events;
}

std::vector<ProgramEvent> EventsBetween(const ServiceInfo& service, uint64_t seed, JstTime from,
                                        JstTime to) {
    std::vector<ProgramEvent> result;
    for (int64_t day = DayOf(from); day * kSecondsPerDay < to; ++day) {
        for (ProgramEvent& event : EventsOfDay(service, seed, day)) {
            if (event.start < to && event.start + event.duration > from) {
                result.push_back(std::move(event));
            }
        }
    }
    return result;
}

PresentFollowing PresentFollowingAt(const ServiceInfo& service, uint64_t seed, JstTime time) {
    // A day's last programme is followed by the first of the next day.
    std::vector<ProgramEvent> events = EventsBetween(service, seed, time, time + 121 * 60);
    PresentFollowing result;
    result.present = events.at(0);
    result.following =
        events.size() > 1 ? events[1] : EventsOfDay(service, seed, DayOf(time) + 1)[0];
    return result;
}

}  // namespace isdbsim
