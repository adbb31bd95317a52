// The analyzer filter on hand-made packets: its pins and media types, its interface, and in a
// graph the clock lock, PES assembly, time stamps, lateness, allocation time-outs, and the
// stop and flush rules.
#include "sianalyzer/ICQVSIAnalyzer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/TaskAllocator.h"
#include "sianalyzer/ICQVSIAnalyzerOutputPin.h"
#include "sianalyzer/tests/TabrixTestGraph.h"

using namespace tabrixtest;

namespace {

constexpr uint16_t kPcrPid = 0x01FF;
constexpr uint16_t kVideoPid = 0x0100;
constexpr uint16_t kAudioPid = 0x0110;
constexpr uint16_t kCaptionPid = 0x0130;
constexpr uint64_t kBase = 1000000000;  // 90 kHz value of the locking PCR

ComPtr<IBaseFilter> MakeAnalyzer(ICQVSIAnalyzer** raw = nullptr) {
    HRESULT hr = E_FAIL;
    CUnknown* object = ICQVSIAnalyzer::CreateInstance(nullptr, &hr);
    auto* filter = static_cast<ICQVSIAnalyzer*>(object);
    if (raw != nullptr) {
        *raw = filter;
    }
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
}

std::vector<CMediaType> TypesOf(IPin* pin) {
    std::vector<CMediaType> types;
    ComPtr<IEnumMediaTypes> enumerator;
    if (FAILED(pin->EnumMediaTypes(enumerator.GetAddressOf()))) {
        return types;
    }
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    while (enumerator->Next(1, &type, &fetched) == S_OK && fetched == 1) {
        types.emplace_back(*type);
        DeleteMediaType(type);
    }
    return types;
}

Bytes PacketAt(const Bytes& packets, size_t index) {
    return Bytes(packets.begin() + long(index * kTsPacketSize),
                 packets.begin() + long((index + 1) * kTsPacketSize));
}

}  // namespace

// --- the filter alone

TEST(ICQVSIAnalyzer, HasTheInputAndFiveOutputsWithTheirMediaTypes) {
    ComPtr<IBaseFilter> filter = MakeAnalyzer();
    const char16_t* names[] = {u"Input", u"TS", u"Video", u"Audio", u"Caption", u"Section"};
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.GetAddressOf()), S_OK);
    std::vector<ComPtr<IPin>> found;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
        found.push_back(ComPtr<IPin>::Attach(pin));
    }
    ASSERT_EQ(found.size(), 6u);
    for (size_t i = 0; i < found.size(); ++i) {
        PIN_INFO info{};
        ASSERT_EQ(found[i]->QueryPinInfo(&info), S_OK);
        info.pFilter->Release();
        EXPECT_EQ(std::u16string(info.achName), names[i]);
        EXPECT_EQ(info.dir, i == 0 ? PINDIR_INPUT : PINDIR_OUTPUT);
        LPWSTR id = nullptr;
        ASSERT_EQ(found[i]->QueryId(&id), S_OK);
        EXPECT_EQ(std::u16string(id), names[i]);
        CoTaskMemFree(id);
    }

    std::vector<CMediaType> ts = TypesOf(found[1].Get());
    ASSERT_EQ(ts.size(), 1u);
    EXPECT_EQ(*ts[0].Subtype(), MEDIASUBTYPE_MPEG2_TRANSPORT);
    EXPECT_EQ(*ts[0].FormatType(), FORMAT_None);

    std::vector<CMediaType> video = TypesOf(found[2].Get());
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(*video[0].Type(), MEDIATYPE_Video);
    EXPECT_EQ(*video[0].Subtype(), MEDIASUBTYPE_MPEG2_VIDEO);
    EXPECT_EQ(*video[0].FormatType(), FORMAT_MPEG2Video);
    ASSERT_EQ(video[0].FormatLength(), 136u);
    MPEG2VIDEOINFO info;
    std::memcpy(&info, video[0].Format(), sizeof(info));
    EXPECT_EQ(info.hdr.rcSource.right, 1920);
    EXPECT_EQ(info.hdr.rcSource.bottom, 1080);
    EXPECT_EQ(info.hdr.dwBitRate, 20000000u);
    EXPECT_EQ(info.hdr.AvgTimePerFrame, 333667);
    EXPECT_EQ(info.hdr.dwPictAspectRatioX, 16u);
    EXPECT_EQ(info.hdr.dwPictAspectRatioY, 9u);
    EXPECT_EQ(info.hdr.bmiHeader.biSize, 40u);
    EXPECT_EQ(info.hdr.bmiHeader.biWidth, 1920);
    EXPECT_EQ(info.hdr.bmiHeader.biHeight, 1080);
    EXPECT_EQ(info.dwProfile, 4u);
    EXPECT_EQ(info.dwLevel, 4u);
    EXPECT_EQ(info.hdr.rcTarget.right, 0);
    EXPECT_EQ(info.cbSequenceHeader, 0u);

    std::vector<CMediaType> audio = TypesOf(found[3].Get());
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(*audio[0].Subtype(), MEDIASUBTYPE_MPEG_ADTS_AAC);
    EXPECT_EQ(*audio[1].Subtype(), MEDIASUBTYPE_RAW_AAC1);
    const Bytes wave = {0xFF, 0x00, 0x02, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x02, 0x00, 0x11, 0x90};
    for (const CMediaType& type : audio) {
        EXPECT_EQ(*type.FormatType(), FORMAT_WaveFormatEx);
        ASSERT_EQ(type.FormatLength(), 20u);
        EXPECT_EQ(Bytes(type.Format(), type.Format() + 20), wave);
    }

    std::vector<CMediaType> caption = TypesOf(found[4].Get());
    ASSERT_EQ(caption.size(), 1u);
    EXPECT_EQ(GuidToString(*caption[0].Subtype()), "{E436EB8E-524F-11CE-9F53-0020AF0BA770}");
    std::vector<CMediaType> section = TypesOf(found[5].Get());
    ASSERT_EQ(section.size(), 1u);
    EXPECT_EQ(*section[0].Type(), MEDIATYPE_MPEG2_SECTIONS);
    EXPECT_EQ(*section[0].Subtype(), MEDIASUBTYPE_MPEG2DATA);

    // Each output takes only its own types; the input any transport stream.
    EXPECT_EQ(found[2]->QueryAccept(&audio[0]), S_FALSE);
    EXPECT_EQ(found[3]->QueryAccept(&audio[1]), S_OK);
    EXPECT_EQ(found[1]->QueryAccept(&caption[0]), S_FALSE);
    CMediaType transport = TransportStreamType();
    transport.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_EQ(found[0]->QueryAccept(&transport), S_OK);
    EXPECT_EQ(found[0]->QueryAccept(&video[0]), S_FALSE);
}

TEST(ICQVSIAnalyzer, StartsWithTheDefaultsAndOffersTheVersionPage) {
    ComPtr<IBaseFilter> filter = MakeAnalyzer();
    ComPtr<IQVSIAnalyzer> analyzer;
    ASSERT_EQ(filter.As(&analyzer), S_OK);
    EXPECT_EQ(analyzer->GetLatency(), 5000000);
    EXPECT_EQ(analyzer->GetAutoSelect(), 1);
    EXPECT_EQ(analyzer->GetPCRPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetVideoPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetAudioPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetCaptionPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetNotifyFlags(), 0u);
    EXPECT_EQ(analyzer->GetServiceID(), 0u);
    EXPECT_EQ(analyzer->GetTransportStreamID(), 0u);
    EXPECT_EQ(analyzer->GetStatistics(nullptr, nullptr, nullptr, nullptr), 0u);
    // Only the low 16 bits of an identifier count.
    analyzer->SetVideoPID(0x10111);
    EXPECT_EQ(analyzer->GetVideoPID(), 0x0111u);
    // Without a PMT in the store nothing is selected.
    EXPECT_EQ(analyzer->SetServiceID(0x0400, 1), 0);
    EXPECT_EQ(analyzer->GetServiceID(), 0x0400u);

    ICSIList* store = analyzer->GetSIList();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->GetLockCount(), 1);
    store->Release();
    EXPECT_EQ(store->GetLockCount(), 0);
    WORD year = 0;
    EXPECT_EQ(analyzer->GetCurrentTime(&year, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_GT(year, 2000);

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(filter.As(&pages), S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_QVSIAnalyzerVersionPage);
    CoTaskMemFree(list.pElems);
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

// --- in a graph, with the PIDs chosen by hand

namespace {

class AnalyzerOnPackets : public ::testing::Test {
protected:
    void SetUp() override {
        ComPtr<IBaseFilter> instance = MakeAnalyzer(&direct);
        graph.Build(instance.Get());
        if (HasFatalFailure()) {
            return;
        }
        IQVSIAnalyzer* a = graph.analyzer.Get();
        a->SetAutoSelect(0);
        a->SetPCRPID(kPcrPid);
        a->SetVideoPID(kVideoPid);
        a->SetAudioPID(kAudioPid);
        a->SetCaptionPID(kCaptionPid);
    }
    void TearDown() override { graph.Teardown(); }

    // Pushes the bytes as one sample, noting the clock around it (the lock happens inside).
    void PushLocking(const Bytes& bytes) {
        lockBefore = graph.ClockNow() - graph.startTime;
        ASSERT_EQ(graph.source->PushSample(bytes.data(), bytes.size()), S_OK);
        lockAfter = graph.ClockNow() - graph.startTime;
    }

    AnalyzerGraph graph;
    ICQVSIAnalyzer* direct = nullptr;
    REFERENCE_TIME lockBefore = 0;
    REFERENCE_TIME lockAfter = 0;
    uint8_t videoCounter = 0;
    uint8_t audioCounter = 0;
    uint8_t captionCounter = 0;
};

}  // namespace

TEST_F(AnalyzerOnPackets, TimesPESPacketsFromTheLockingPCRAndStripsTheAudioHeader) {
    graph.Run();
    const Bytes video1 = PesPacket(0xE0, kBase + 90000, Filler(400, 1));
    const Bytes video2 = PesPacket(0xE0, kBase + 93003, Filler(300, 2));
    const Bytes audio1 = PesPacket(0xC0, kBase + 90000, Filler(250, 3));
    const Bytes audio2 = PesPacket(0xC0, kBase + 91920, Filler(200, 4), 8);
    const Bytes caption1 = PesPacket(0xBD, kBase + 90000, Filler(50, 5));
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    for (const Bytes* pes : {&video1, &audio1, &caption1, &video2, &audio2}) {
        const uint16_t pid = (*pes)[3] == 0xE0   ? kVideoPid
                             : (*pes)[3] == 0xC0 ? kAudioPid
                                                 : kCaptionPid;
        uint8_t& counter = pid == kVideoPid   ? videoCounter
                           : pid == kAudioPid ? audioCounter
                                              : captionCounter;
        Append(stream, Packetize(pid, *pes, counter));
    }
    // The unit starts that end the last PES of each stream.
    Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase + 96006, {1}), videoCounter));
    Append(stream, Packetize(kAudioPid, PesPacket(0xC0, kBase + 93840, {1}), audioCounter));
    Append(stream, Packetize(kCaptionPid, PesPacket(0xBD, kBase + 93003, {1}), captionCounter));
    PushLocking(stream);
    ASSERT_TRUE(graph.Finish());

    EXPECT_EQ(graph.sinks[AnalyzerGraph::kTS]->Concatenated(), stream);

    const REFERENCE_TIME latency = 5000000;
    std::vector<Received> video = graph.sinks[AnalyzerGraph::kVideo]->Samples();
    ASSERT_EQ(video.size(), 2u);
    EXPECT_EQ(video[0].data, video1);
    EXPECT_EQ(video[1].data, video2);
    ASSERT_TRUE(video[0].timed);
    // PTS one second after the PCR: one second plus the latency plus the clock offset.
    EXPECT_GE(video[0].start, 10000000 + latency + lockBefore);
    EXPECT_LE(video[0].start, 10000000 + latency + lockAfter);
    EXPECT_EQ(video[0].start, 10000000 + latency + direct->GetClockOffset());
    // (93003 x 300) x 10 / 27 = 10333666.
    EXPECT_EQ(video[1].start - video[0].start, 333666);
    EXPECT_TRUE(video[0].syncPoint);
    EXPECT_EQ(direct->GetLockPCR(), kBase * 300);

    std::vector<Received> audio = graph.sinks[AnalyzerGraph::kAudio]->Samples();
    ASSERT_EQ(audio.size(), 2u);
    // PES_header_data_length 5: the data starts at the 15th byte; with 8 at the 18th.
    EXPECT_EQ(audio[0].data, Bytes(audio1.begin() + 14, audio1.end()));
    EXPECT_EQ(audio[0].data, Filler(250, 3));
    EXPECT_EQ(audio[1].data, Filler(200, 4));
    EXPECT_EQ(audio[0].start, video[0].start);

    std::vector<Received> caption = graph.sinks[AnalyzerGraph::kCaption]->Samples();
    ASSERT_EQ(caption.size(), 1u);
    EXPECT_EQ(caption[0].data, caption1);
    EXPECT_EQ(caption[0].start, video[0].start);
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, nullptr, nullptr, nullptr), 0u);
}

TEST_F(AnalyzerOnPackets, DropsRepeatedPacketsOnceAndLosesAPESAtAGap) {
    graph.Run();
    auto threePackets = [&](uint8_t seed) {
        return Packetize(kVideoPid, PesPacket(0xE0, kBase + 90000 + seed * 3003, Filler(500, seed)),
                         videoCounter);
    };
    const Bytes pes1 = threePackets(1);
    const Bytes pes2 = threePackets(2);
    const Bytes pes3 = threePackets(3);
    const Bytes pes4 = threePackets(4);
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    // A repeated packet, and two packets without payload (they do not advance the counter).
    Append(stream, PacketAt(pes1, 0));
    Append(stream, PacketAt(pes1, 1));
    Append(stream, PacketAt(pes1, 1));
    const uint8_t counter = PacketAt(pes1, 1)[3] & 0x0F;
    Append(stream, TsPacket(kVideoPid, false, counter, {}));
    Append(stream, TsPacket(kVideoPid, false, counter, {}));
    Append(stream, PacketAt(pes1, 2));
    // A lost packet.
    Append(stream, PacketAt(pes2, 0));
    Append(stream, PacketAt(pes2, 2));
    // A packet repeated twice.
    Append(stream, PacketAt(pes3, 0));
    Append(stream, PacketAt(pes3, 1));
    Append(stream, PacketAt(pes3, 1));
    Append(stream, PacketAt(pes3, 1));
    Append(stream, PacketAt(pes3, 2));
    Append(stream, pes4);
    Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase + 120000, {1}), videoCounter));
    PushLocking(stream);
    ASSERT_TRUE(graph.Finish());

    std::vector<Received> video = graph.sinks[AnalyzerGraph::kVideo]->Samples();
    ASSERT_EQ(video.size(), 2u);
    EXPECT_EQ(video[0].data, PesPacket(0xE0, kBase + 93003, Filler(500, 1)));
    EXPECT_EQ(video[1].data, PesPacket(0xE0, kBase + 90000 + 4 * 3003, Filler(500, 4)));
    DWORD continuity = 0;
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, &continuity, nullptr, nullptr), 2u);
    EXPECT_EQ(continuity, 2u);
}

TEST_F(AnalyzerOnPackets, CountsEveryAllocationTimeOutOfAStarvedPin) {
    graph.sinks[AnalyzerGraph::kVideo]->Keep(true);
    graph.Run();
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    const int count = ICQVSIAnalyzerOutputPin::kBufferCount + 3;
    for (int k = 0; k < count; ++k) {
        Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase + 90000 + k * 3003, {uint8_t(k)}),
                                 videoCounter));
    }
    PushLocking(stream);
    // The pin's 180 packets are all held downstream: the last three unit starts each wait
    // 200 ms in vain.
    ASSERT_TRUE(graph.sinks[AnalyzerGraph::kVideo]->WaitForCount(180));
    DWORD timeouts = 0;
    DWORD late = 0;
    graph.analyzer->GetStatistics(nullptr, nullptr, &timeouts, &late);
    EXPECT_EQ(timeouts, 3u);
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, nullptr, &timeouts, nullptr), 0u);
    EXPECT_EQ(timeouts, 0u);

    // With the packets back, the stream goes on.
    graph.sinks[AnalyzerGraph::kVideo]->ReleaseKept();
    Bytes more;
    Append(more, Packetize(kVideoPid, PesPacket(0xE0, kBase + 900000, {7}), videoCounter));
    Append(more, Packetize(kVideoPid, PesPacket(0xE0, kBase + 903003, {8}), videoCounter));
    ASSERT_EQ(graph.source->PushSample(more.data(), more.size()), S_OK);
    ASSERT_TRUE(graph.sinks[AnalyzerGraph::kVideo]->WaitForCount(181));
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kVideo]->Samples().back().data,
              PesPacket(0xE0, kBase + 900000, {7}));
}

TEST_F(AnalyzerOnPackets, DropsLateVideoButDeliversLateCaptions) {
    graph.Run();
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    // Presented a second before the locking PCR: half a second late even with the latency.
    for (int k = 0; k < 5; ++k) {
        Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase - 90000 + k, {uint8_t(k)}),
                                 videoCounter));
        Append(stream, Packetize(kCaptionPid, PesPacket(0xBD, kBase - 90000 + k, {uint8_t(k)}),
                                 captionCounter));
    }
    PushLocking(stream);
    ASSERT_TRUE(graph.Finish());
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kVideo]->Count(), 0u);
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kCaption]->Count(), 4u);
    EXPECT_EQ(direct->GetLateScore(), 8);
    DWORD late = 0;
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, nullptr, nullptr, &late), 4u);
    EXPECT_EQ(late, 4u);
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, nullptr, nullptr, &late), 0u);
    EXPECT_EQ(late, 0u);
}

TEST_F(AnalyzerOnPackets, PersistentLatenessLocksAgainOnTheNextPCR) {
    graph.Run();
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    for (int k = 0; k < 51; ++k) {
        Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase - 90000 + k, {uint8_t(k)}),
                                 videoCounter));
    }
    PushLocking(stream);
    // The 50th late sample takes the score past 99.
    EXPECT_FALSE(direct->IsClockLocked());
    EXPECT_EQ(direct->GetLateScore(), 0);
    DWORD late = 0;
    graph.analyzer->GetStatistics(nullptr, nullptr, nullptr, &late);
    EXPECT_EQ(late, 50u);

    const Bytes relock = PcrPacket(kPcrPid, (kBase + 450000) * 300);
    ASSERT_EQ(graph.source->PushSample(relock.data(), relock.size()), S_OK);
    EXPECT_TRUE(direct->IsClockLocked());
    EXPECT_EQ(direct->GetLockPCR(), (kBase + 450000) * 300);
    // A discontinuity indicator drops the lock; the PCR in the same packet locks again.
    const Bytes jump = PcrPacket(kPcrPid, 5 * 300, 0, true);
    ASSERT_EQ(graph.source->PushSample(jump.data(), jump.size()), S_OK);
    EXPECT_TRUE(direct->IsClockLocked());
    EXPECT_EQ(direct->GetLockPCR(), 5u * 300);
}

TEST_F(AnalyzerOnPackets, StopClearsTheStreamStateAndKeepsTheChoices) {
    graph.analyzer->SetLatency(1234567);
    graph.analyzer->SetNotifyFlags(si::kEventPATSection.bit | si::kEventPMTComplete.bit);
    graph.Run();
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    for (int k = 0; k < 3; ++k) {
        Append(stream, Packetize(kVideoPid, PesPacket(0xE0, kBase - 90000 + k, {uint8_t(k)}),
                                 videoCounter));
    }
    PushLocking(stream);
    EXPECT_TRUE(direct->IsClockLocked());
    FILTER_STATE state;
    graph.control->Pause();
    EXPECT_EQ(graph.filter->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
    EXPECT_FALSE(direct->IsClockLocked());
    EXPECT_EQ(direct->GetLateScore(), 0);
    EXPECT_EQ(graph.analyzer->GetStatistics(nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(graph.analyzer->GetLatency(), 1234567);
    EXPECT_EQ(graph.analyzer->GetNotifyFlags(), 0x00020001u);
    EXPECT_EQ(graph.analyzer->GetVideoPID(), kVideoPid);
    EXPECT_EQ(graph.analyzer->GetAutoSelect(), 0);
    EXPECT_EQ(graph.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(AnalyzerOnPackets, FlushesAndSegmentsReachEveryPinAndDropTheUnfinishedPES) {
    graph.Run();
    Bytes stream = PcrPacket(kPcrPid, kBase * 300);
    Append(stream,
           Packetize(kVideoPid, PesPacket(0xE0, kBase + 90000, Filler(300, 1)), videoCounter));
    PushLocking(stream);
    ASSERT_EQ(graph.source->pin->DeliverBeginFlush(), S_OK);
    ASSERT_EQ(graph.source->pin->DeliverEndFlush(), S_OK);
    ASSERT_EQ(graph.source->pin->DeliverNewSegment(0, 50000000, 1.0), S_OK);
    for (RecordingSink* sink : graph.sinks) {
        EXPECT_TRUE(sink->WaitForCall(RecordingSink::kBeginFlush));
        EXPECT_TRUE(sink->WaitForCall(RecordingSink::kEndFlush));
        EXPECT_TRUE(sink->WaitForCall(RecordingSink::kNewSegment));
    }
    EXPECT_FALSE(direct->IsClockLocked());

    Bytes after = PcrPacket(kPcrPid, (kBase + 10) * 300);
    const Bytes wanted = PesPacket(0xE0, kBase + 93003, Filler(300, 2));
    Append(after, Packetize(kVideoPid, wanted, videoCounter));
    Append(after, Packetize(kVideoPid, PesPacket(0xE0, kBase + 96006, {1}), videoCounter));
    ASSERT_EQ(graph.source->PushSample(after.data(), after.size()), S_OK);
    ASSERT_TRUE(graph.Finish());
    std::vector<Received> video = graph.sinks[AnalyzerGraph::kVideo]->Samples();
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].data, wanted);
}
