#pragma once

// What the guide's tests and benchmark build on: channels and events put into an EPG store the way
// the merge puts them, a week of programmes for many channels, and a host whose EPG store and
// reservations run on a clock the test sets.

#include <cstdint>
#include <memory>
#include <string>

#include "app/stores/CEpgStore.h"
#include "sianalyzer/ICSITime.h"

namespace guidetest {

inline TimeValue At(uint16_t year, uint8_t month, uint8_t day, uint8_t hour = 0,
                    uint8_t minute = 0) {
    ICSIDateTime date;
    date.year = year;
    date.month = month;
    date.day = day;
    date.hour = hour;
    date.minute = minute;
    return sitime::ToValue(date);
}

// A service of the EPG tuning space of `type` (CTuningSpace::kTerrestrial, kBS, kCS).
inline CChannelInfo* AddChannel(CEpgStore& store, int32_t type, uint16_t transportStreamId,
                                uint16_t serviceId, std::u16string_view name) {
    CTuningSpace* space = store.SpaceOfType(type);
    auto* channel = new CChannelInfo(space);
    channel->name = ICWString(name);
    channel->transportStreamId = transportStreamId;
    channel->serviceId = serviceId;
    channel->networkId = type == CTuningSpace::kTerrestrial ? transportStreamId : 4;
    channel->channelNumber = space->physicalChannels.GetCount() + 1;
    CEpgStore::InsertChannelByNumber(*space, channel);
    return channel;
}

// An event of the channel; `genre` is the first genre value (content nibbles and user nibbles).
inline CEventInfo* AddEvent(CEpgStore& store, CChannelInfo& channel, uint16_t eventId,
                            TimeValue start, int32_t duration, std::u16string_view title,
                            std::u16string_view text = {}, uint16_t genre = 0xFFFF) {
    auto* event = new CEventInfo(&channel, eventId);
    event->startTime = start;
    event->duration = duration;
    event->title = ICWString(title);
    event->text = ICWString(text);
    if (genre != 0xFFFF) {
        event->genres[0] = genre;
        event->genreCount = 1;
    }
    event->videoType = 0xB3;
    event->audioType = 3;
    store.InsertEvent(channel, event);
    return event;
}

// `channels` services in the space of `type`, each with programmes of `minutes` from `base` for
// `days` days; every programme has a title and text of the length a broadcast gives, its genre
// by its index. The last channel's events are numbered from 1 like every other channel's.
inline void FillGuide(CEpgStore& store, int32_t type, int channels, int days, TimeValue base,
                      int minutes, uint16_t firstTransportStream = 0x7FE0) {
    const int perChannel = days * 24 * 60 / minutes;
    for (int c = 0; c < channels; ++c) {
        std::u16string name = u"テレビ" + std::u16string(1, char16_t(u'Ａ' + c % 26)) +
                              std::u16string(1, char16_t(u'0' + c / 26 % 10));
        CChannelInfo* channel = AddChannel(store, type, uint16_t(firstTransportStream + c / 2),
                                           uint16_t(0x400 + c), name);
        for (int e = 0; e < perChannel; ++e) {
            const std::u16string title = u"番組タイトル第" +
                                         std::u16string(1, char16_t(u'0' + e % 10)) +
                                         u"話「特集　ニュースの時間です」";
            const std::u16string text =
                u"今日の出来事をわかりやすく解説します。出演者：山田太郎、鈴木花子。"
                u"天気予報、スポーツ、経済の話題をお伝えします。字幕放送あり。";
            AddEvent(store, *channel, uint16_t(e + 1), base + TimeValue(e) * minutes * 60,
                     minutes * 60, title, text, uint16_t((e % 12) << 12 | (e % 16) << 8));
        }
    }
}

}  // namespace guidetest
