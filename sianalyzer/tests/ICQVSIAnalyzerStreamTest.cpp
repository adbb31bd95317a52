// Tabrix.ax, created by class identifier through the registry, in a graph with the system
// reference clock, fed a simulated terrestrial broadcast in samples of 1024 packets.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "sianalyzer/tests/TabrixTestGraph.h"
#include "tools/isdbsim/TsStream.h"

using namespace tabrixtest;

namespace {

// The first terrestrial channel: three television services (the first on PIDs 0x100 video,
// 0x110 audio, 0x130 captions), a data service and a one-segment service; PCR on 0x1FF.
isdbsim::TransportStreamInfo Channel() {
    return *isdbsim::FindChannel(0, 0);
}

Bytes MakeStream(const isdbsim::TransportStreamInfo& ts, double seconds, std::string* error) {
    isdbsim::TsStream stream(ts, *isdbsim::ParseJstTime("2026-04-01 12:00:00"), 7);
    if (!stream.Open(error)) {
        return {};
    }
    const size_t packets = static_cast<size_t>(seconds * stream.PacketRate());
    Bytes bytes(packets * kTsPacketSize);
    stream.Generate(bytes.data(), packets);
    return bytes;
}

// Four seconds of the channel, made once.
const Bytes& DefaultStream() {
    static const Bytes stream = [] {
        std::string error;
        Bytes bytes = MakeStream(Channel(), 4.0, &error);
        if (bytes.empty()) {
            ADD_FAILURE() << "no stream: " << error;
        }
        return bytes;
    }();
    return stream;
}

Bytes Prefix(const Bytes& stream, double fraction) {
    const size_t packets = static_cast<size_t>(double(stream.size() / kTsPacketSize) * fraction);
    return Bytes(stream.begin(), stream.begin() + long(packets * kTsPacketSize));
}

// The SI comes at the stream's pace: ten seconds at the most.
bool WaitFor(const std::function<bool()>& done) {
    return WaitUntil(done, 10000);
}

class TabrixFromItsModule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(DefaultStream().empty());
        graph.Build();
    }
    void TearDown() override { graph.Teardown(); }

    IQVSIAnalyzer* Analyzer() { return graph.analyzer.Get(); }

    AnalyzerGraph graph;
};

}  // namespace

TEST_F(TabrixFromItsModule, PassesTheStreamThroughAndDeliversTheServiceLockedToTheClock) {
    const isdbsim::ServiceInfo service = Channel().services[0];
    IQVSIAnalyzer* a = Analyzer();
    a->SetAutoSelect(0);
    a->SetPCRPID(Channel().pcrPid);
    a->SetVideoPID(service.videoPid);
    a->SetAudioPID(service.audioPid);
    a->SetCaptionPID(service.captionPid);
    // Pushed faster than real time, the samples are due later than they would be live; a
    // longer latency keeps them well within the 10 s window.
    const REFERENCE_TIME latency = 30000000;
    a->SetLatency(latency);
    const Bytes stream = Prefix(DefaultStream(), 0.75);
    graph.Run();
    size_t lockIndex = 0;
    uint64_t lockPcr = 0;
    ASSERT_TRUE(FirstPcr(stream, Channel().pcrPid, &lockIndex, &lockPcr));
    ASSERT_LT(lockIndex, kSamplePackets);
    const REFERENCE_TIME before = graph.ClockNow() - graph.startTime;
    ASSERT_EQ(graph.source->PushSample(stream.data(), kSamplePackets * kTsPacketSize), S_OK);
    const REFERENCE_TIME after = graph.ClockNow() - graph.startTime;
    ASSERT_EQ(graph.source->Push(
                  Bytes(stream.begin() + long(kSamplePackets * kTsPacketSize), stream.end())),
              S_OK);
    ASSERT_TRUE(graph.Finish());

    EXPECT_TRUE(graph.sinks[AnalyzerGraph::kTS]->Concatenated() == stream);
    for (const Received& sample : graph.sinks[AnalyzerGraph::kTS]->Samples()) {
        EXPECT_LE(sample.data.size(), kSamplePackets * kTsPacketSize);
    }

    // What should arrive: every PES that begins after the lock and is ended by the next.
    auto expected = [&](uint16_t pid) {
        std::vector<Pes> all = SplitPes(stream, pid);
        std::vector<Pes> wanted;
        for (size_t i = 0; i + 1 < all.size(); ++i) {
            if (all[i].firstPacket > lockIndex) {
                wanted.push_back(all[i]);
            }
        }
        return wanted;
    };
    auto checkTime = [&](const Received& sample, const Bytes& pes) {
        ASSERT_TRUE(sample.timed);
        const int64_t ticks = (PtsOf(pes) * 300 - int64_t(lockPcr)) * 10 / 27;
        EXPECT_GE(sample.start, ticks + latency + before);
        EXPECT_LE(sample.start, ticks + latency + after);
    };

    std::vector<Pes> video = expected(service.videoPid);
    std::vector<Received> videoSamples = graph.sinks[AnalyzerGraph::kVideo]->Samples();
    ASSERT_GT(video.size(), 60u);
    ASSERT_EQ(videoSamples.size(), video.size());
    for (size_t i = 0; i < video.size(); ++i) {
        ASSERT_GE(videoSamples[i].data.size(), 4u);
        EXPECT_EQ(videoSamples[i].data[3], 0xE0);
        ASSERT_TRUE(videoSamples[i].data == video[i].data) << "video PES " << i;
        checkTime(videoSamples[i], video[i].data);
    }

    std::vector<Pes> audio = expected(service.audioPid);
    std::vector<Received> audioSamples = graph.sinks[AnalyzerGraph::kAudio]->Samples();
    ASSERT_GT(audio.size(), 60u);
    ASSERT_EQ(audioSamples.size(), audio.size());
    for (size_t i = 0; i < audio.size(); ++i) {
        const Bytes& pes = audio[i].data;
        ASSERT_EQ(pes[8], 5);  // PTS only: the frame starts at the 15th byte
        ASSERT_TRUE(audioSamples[i].data == Bytes(pes.begin() + 14, pes.end())) << "audio " << i;
        // An ADTS frame.
        EXPECT_EQ(audioSamples[i].data[0], 0xFF);
        EXPECT_EQ(audioSamples[i].data[1] & 0xF0, 0xF0);
        checkTime(audioSamples[i], pes);
    }

    std::vector<Pes> captions = expected(service.captionPid);
    std::vector<Received> captionSamples = graph.sinks[AnalyzerGraph::kCaption]->Samples();
    ASSERT_FALSE(captions.empty());
    ASSERT_EQ(captionSamples.size(), captions.size());
    for (size_t i = 0; i < captions.size(); ++i) {
        EXPECT_TRUE(captionSamples[i].data == captions[i].data);
        checkTime(captionSamples[i], captions[i].data);
    }
    DWORD counts[4] = {};
    a->GetStatistics(&counts[0], &counts[1], &counts[2], &counts[3]);
    EXPECT_EQ(counts[0], 0u);
    EXPECT_EQ(counts[1], 0u);
    EXPECT_EQ(counts[2], 0u);
    EXPECT_EQ(counts[3], 0u);
}

TEST_F(TabrixFromItsModule, WithoutAGraphClockOnlyTheTransportStreamFlows) {
    ASSERT_EQ(graph.mediaFilter->SetSyncSource(nullptr), S_OK);
    const Bytes stream = Prefix(DefaultStream(), 0.5);
    graph.Run();
    ASSERT_EQ(graph.source->PushPaced(stream), S_OK);
    ASSERT_TRUE(graph.Finish());
    EXPECT_TRUE(graph.sinks[AnalyzerGraph::kTS]->Concatenated() == stream);
    // The SI is analysed and the service selected all the same.
    EXPECT_TRUE(WaitFor([&] { return Analyzer()->GetVideoPID() == 0x0100; }));
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kVideo]->Count(), 0u);
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kAudio]->Count(), 0u);
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kCaption]->Count(), 0u);
}

TEST_F(TabrixFromItsModule, DropsLateVideoAndAudioButDeliversLateCaptions) {
    const isdbsim::ServiceInfo service = Channel().services[0];
    IQVSIAnalyzer* a = Analyzer();
    a->SetAutoSelect(0);
    a->SetPCRPID(Channel().pcrPid);
    a->SetVideoPID(service.videoPid);
    a->SetAudioPID(service.audioPid);
    a->SetCaptionPID(service.captionPid);
    // Everything is due half a minute in the past.
    a->SetLatency(-300000000);
    graph.Run();
    ASSERT_EQ(graph.source->Push(DefaultStream()), S_OK);
    ASSERT_TRUE(graph.Finish());
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kVideo]->Count(), 0u);
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kAudio]->Count(), 0u);
    EXPECT_GE(graph.sinks[AnalyzerGraph::kCaption]->Count(), 1u);
    DWORD late = 0;
    const DWORD sum = a->GetStatistics(nullptr, nullptr, nullptr, &late);
    // Video and audio PES of about four seconds, less those lost while locking again.
    EXPECT_GT(late, 100u);
    EXPECT_GE(sum, late);
    EXPECT_EQ(a->GetStatistics(nullptr, nullptr, nullptr, &late), 0u);
    EXPECT_EQ(late, 0u);
}

TEST_F(TabrixFromItsModule, ASelectionMadeBeforeItsPMTTakesEffectWhenThePMTArrives) {
    const isdbsim::ServiceInfo second = Channel().services[1];
    EXPECT_EQ(Analyzer()->SetServiceID(second.serviceId, 1), 0);
    EXPECT_EQ(Analyzer()->GetVideoPID(), 0xFFFFu);
    graph.Run();
    ASSERT_EQ(graph.source->PushPaced(Prefix(DefaultStream(), 0.5)), S_OK);
    EXPECT_TRUE(WaitFor([&] { return Analyzer()->GetVideoPID() == second.videoPid; }));
    EXPECT_EQ(Analyzer()->GetAudioPID(), second.audioPid);
    EXPECT_EQ(Analyzer()->GetCaptionPID(), second.captionPid);
    EXPECT_EQ(Analyzer()->GetPCRPID(), Channel().pcrPid);
    // The NIT does not override a selection.
    EXPECT_EQ(Analyzer()->GetServiceID(), second.serviceId);
    EXPECT_EQ(Analyzer()->GetTransportStreamID(), Channel().transportStreamId);
    EXPECT_TRUE(WaitFor([&] { return Analyzer()->GetNetworkID() == Channel().networkId; }));
}

TEST_F(TabrixFromItsModule, TheFirstCompleteNITSelectsTheFirstServiceOfTheCurrentStream) {
    EXPECT_EQ(Analyzer()->GetServiceID(), 0u);
    graph.Run();
    ASSERT_EQ(graph.source->PushPaced(Prefix(DefaultStream(), 0.5)), S_OK);
    const isdbsim::ServiceInfo first = Channel().services[0];
    EXPECT_TRUE(WaitFor([&] { return Analyzer()->GetServiceID() == first.serviceId; }));
    EXPECT_TRUE(WaitFor([&] { return Analyzer()->GetVideoPID() == first.videoPid; }));
    EXPECT_EQ(Analyzer()->GetAudioPID(), first.audioPid);
    EXPECT_EQ(Analyzer()->GetCaptionPID(), first.captionPid);
    ICSIList* store = Analyzer()->GetSIList();
    EXPECT_NE(store->FindPMT(Channel().transportStreamId, first.serviceId), nullptr);
    store->Release();
}

TEST_F(TabrixFromItsModule, WithTheCompletedPMTMaskOnlyThoseEventsAreRaised) {
    Analyzer()->SetNotifyFlags(si::kEventPMTComplete.bit);
    graph.Run();
    ASSERT_EQ(graph.source->PushPaced(Prefix(DefaultStream(), 0.5)), S_OK);
    std::vector<AnalyzerGraph::Event> events;
    const size_t services = Channel().services.size();
    EXPECT_TRUE(WaitFor([&] {
        for (const AnalyzerGraph::Event& event : graph.TakeEvents()) {
            events.push_back(event);
        }
        return events.size() >= services;
    }));
    std::map<uint16_t, int> programs;
    for (const AnalyzerGraph::Event& event : events) {
        EXPECT_EQ(event.code, kQVEventPMTComplete);
        EXPECT_EQ(event.param1, reinterpret_cast<LONG_PTR>(graph.filter.Get()));
        EXPECT_EQ(uint32_t(event.param2) >> 16, Channel().transportStreamId);
        programs[uint16_t(event.param2)]++;
    }
    for (const isdbsim::ServiceInfo& service : Channel().services) {
        EXPECT_EQ(programs.count(service.serviceId), 1u) << service.serviceId;
    }
}

TEST_F(TabrixFromItsModule, AServiceWithoutCaptionsGetsCaptionPIDZeroAndThePATStillArrives) {
    isdbsim::TransportStreamInfo ts = Channel();
    ts.services[1].captionPid = 0;
    std::string error;
    const Bytes stream = MakeStream(ts, 2.0, &error);
    ASSERT_FALSE(stream.empty()) << error;
    Analyzer()->SetNotifyFlags(si::kEventPATSection.bit);  // every PAT section
    graph.Run();
    ASSERT_EQ(graph.source->PushPaced(Prefix(stream, 0.5)), S_OK);
    ASSERT_TRUE(WaitFor([&] { return Analyzer()->GetVideoPID() == ts.services[0].videoPid; }));
    EXPECT_EQ(Analyzer()->SetServiceID(ts.services[1].serviceId, 1), 1);
    EXPECT_EQ(Analyzer()->GetCaptionPID(), 0u);
    EXPECT_EQ(Analyzer()->GetVideoPID(), ts.services[1].videoPid);
    EXPECT_EQ(Analyzer()->GetAudioPID(), ts.services[1].audioPid);

    // PAT sections are still assembled on PID 0 while the caption PID is 0: the second
    // second of the stream brings about ten more (one every 100 ms).
    ASSERT_EQ(graph.source->PushPaced(
                  Bytes(stream.begin() + long(stream.size() / kTsPacketSize / 2 * kTsPacketSize),
                        stream.end())),
              S_OK);
    size_t patEvents = 0;
    EXPECT_TRUE(WaitFor([&] {
        for (const AnalyzerGraph::Event& event : graph.TakeEvents()) {
            patEvents += event.code == kQVEventPATSection ? 1 : 0;
        }
        return patEvents >= 16;
    }));
    EXPECT_EQ(Analyzer()->GetCaptionPID(), 0u);
    EXPECT_EQ(graph.sinks[AnalyzerGraph::kCaption]->Count(), 0u);
}

TEST_F(TabrixFromItsModule, ADamagedStreamPlaysThroughWithoutCrashHangOrLeak) {
    std::mt19937 random(20261209);
    const Bytes& clean = DefaultStream();
    std::uniform_int_distribution<int> permille(0, 999);
    std::uniform_int_distribution<int> byte(0, 255);
    auto garbage = [&](size_t length) {
        Bytes bytes(length);
        for (uint8_t& value : bytes) {
            value = uint8_t(byte(random));
        }
        return bytes;
    };
    Bytes damaged;
    for (size_t offset = 0; offset + kTsPacketSize <= clean.size(); offset += kTsPacketSize) {
        const int roll = permille(random);
        if (roll < 2) {
            continue;  // a lost packet
        }
        const Bytes packet(clean.begin() + long(offset),
                           clean.begin() + long(offset + kTsPacketSize));
        Append(damaged, packet);
        if (roll < 4) {
            Append(damaged, packet);  // a repeated packet
        } else if (roll < 6) {
            // A packet of garbage behind a sync byte: any PID, any flags, any lengths.
            Bytes junk = garbage(kTsPacketSize);
            junk[0] = 0x47;
            Append(damaged, junk);
        }
    }
    // One byte in 10,000 has a bit flipped.
    std::uniform_int_distribution<size_t> position(0, damaged.size() - 1);
    for (size_t n = damaged.size() / 10000; n > 0; --n) {
        damaged[position(random)] ^= uint8_t(1 << (byte(random) % 8));
    }
    // Samples of 1024 packets; one in ten gets garbage that breaks its packet alignment.
    std::vector<Bytes> samples;
    Bytes delivered;
    for (size_t offset = 0; offset < damaged.size(); offset += kSamplePackets * kTsPacketSize) {
        const size_t end = std::min(damaged.size(), offset + kSamplePackets * kTsPacketSize);
        Bytes sample(damaged.begin() + long(offset), damaged.begin() + long(end));
        if (permille(random) < 100) {
            const Bytes junk = garbage(1 + size_t(byte(random)));
            sample.insert(sample.begin() + long(sample.size() / 2), junk.begin(), junk.end());
        }
        Append(delivered, sample);
        samples.push_back(std::move(sample));
    }

    Analyzer()->SetNotifyFlags(0xFFFFFFFF);
    Analyzer()->SetLatency(30000000);
    graph.Run();
    for (const Bytes& sample : samples) {
        ASSERT_EQ(graph.source->PushSample(sample.data(), sample.size()), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(graph.Finish());
    EXPECT_TRUE(graph.sinks[AnalyzerGraph::kTS]->Concatenated() == delivered);
    EXPECT_GT(graph.sinks[AnalyzerGraph::kVideo]->Count(), 0u);
    DWORD sections = 0;
    DWORD continuity = 0;
    Analyzer()->GetStatistics(&sections, &continuity, nullptr, nullptr);
    EXPECT_GT(continuity, 0u);
    ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
    // Run again on the clean stream after the damage.
    graph.Run();
    ASSERT_EQ(graph.source->Push(Prefix(clean, 0.25)), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
    graph.TakeEvents();
    graph.Teardown();
    // Every object of the module is gone.
    EXPECT_EQ(TabrixModule::Get().CanUnloadNow(), S_OK);
}
