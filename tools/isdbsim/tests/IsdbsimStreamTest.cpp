#include <gtest/gtest.h>

#include <zlib.h>
#include "core/CRC16.h"

#include <algorithm>
#include <map>
#include <set>

#include "tools/isdbsim/AribText.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/EpgGenerator.h"
#include "tools/isdbsim/SiTables.h"
#include "tools/isdbsim/tests/StreamDemux.h"

namespace isdbsim::test {
namespace {

const std::vector<uint16_t> kSectionPids = {0x0000, 0x0010, 0x0011, 0x0012, 0x0014, 0x0023, 0x0024,
                                            0x0029, 0x01F0, 0x01F1, 0x01F2, 0x01F8, 0x1FC8, 0x0901};
const std::vector<uint16_t> kPesPids = {0x0100, 0x0101, 0x0110, 0x0111, 0x0130, 0x0181};

JstTime Start() {
    return *ParseJstTime("2026-04-01 12:00:00");
}

// Twelve seconds of the first terrestrial channel, shared by the tests of this file.
class TerrestrialStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        stream = new Bytes(Generate(0, 0, 12.0, Start()));
        demux = new DemuxResult(Demux(*stream, kSectionPids, kPesPids));
    }
    static void TearDownTestSuite() {
        delete demux;
        delete stream;
    }
    static std::vector<const Section*> Sections(uint16_t pid, uint8_t tableId) {
        std::vector<const Section*> found;
        for (const Section& s : demux->sections) {
            if (s.pid == pid && s.TableId() == tableId) {
                found.push_back(&s);
            }
        }
        return found;
    }
    static const TransportStreamInfo& Info() { return *FindChannel(0, 0); }
    static Bytes* stream;
    static DemuxResult* demux;
};
Bytes* TerrestrialStream::stream = nullptr;
DemuxResult* TerrestrialStream::demux = nullptr;

TEST_F(TerrestrialStream, IsWholePacketsWithValidSectionsAndNoContinuityErrors) {
    ASSERT_FALSE(stream->empty());
    EXPECT_EQ(stream->size() % 188, 0u);
    EXPECT_EQ(demux->syncErrors, 0u);
    EXPECT_EQ(demux->crcErrors, 0u);
    EXPECT_EQ(demux->continuityErrors, 0u);
    // The multiplex runs at its nominal rate: 12 s at 16.851 Mbit/s, plus the clean end.
    EXPECT_NEAR(static_cast<double>(demux->packets), 12.0 * 16'851'000 / 1504, 2000);
}

TEST_F(TerrestrialStream, PcrFollowsThePacketClockEvery30Milliseconds) {
    const auto& pcrs = demux->pcrs.at(Info().pcrPid);
    ASSERT_GT(pcrs.size(), 350u);
    for (size_t i = 1; i < pcrs.size(); ++i) {
        const uint64_t delta = pcrs[i].value - pcrs[i - 1].value;
        EXPECT_LE(delta, 27'000'000u * 40 / 1000);
        // The PCR is the time of the packet that carries it.
        const double expected = static_cast<double>(pcrs[i].packetIndex - pcrs[i - 1].packetIndex) *
                                1504 * 27e6 / Info().muxRate;
        EXPECT_NEAR(static_cast<double>(delta), expected, 2.0);
    }
}

TEST_F(TerrestrialStream, PatAndPmtsDescribeEveryService) {
    const auto pats = Sections(0x0000, 0x00);
    ASSERT_GE(pats.size(), 100u);  // every 100 ms
    const Bytes& pat = pats[0]->bytes;
    EXPECT_EQ(pats[0]->Extension(), Info().transportStreamId);
    std::map<uint16_t, uint16_t> programs;
    for (size_t i = 8; i + 4 < pat.size(); i += 4) {
        programs[static_cast<uint16_t>(pat[i] << 8 | pat[i + 1])] =
            static_cast<uint16_t>((pat[i + 2] & 0x1F) << 8 | pat[i + 3]);
    }
    EXPECT_EQ(programs.at(0), 0x0010);
    for (const ServiceInfo& service : Info().services) {
        EXPECT_EQ(programs.at(service.serviceId), service.pmtPid);
    }
    // The main service: PCR PID and three streams with component tags 0x00, 0x10, 0x30.
    const auto pmts = Sections(0x01F0, 0x02);
    ASSERT_FALSE(pmts.empty());
    const Bytes& pmt = pmts[0]->bytes;
    EXPECT_EQ(pmts[0]->Extension(), 0x0400);
    EXPECT_EQ((pmt[8] & 0x1F) << 8 | pmt[9], Info().pcrPid);
    size_t position = 12 + ((pmt[10] & 0x0F) << 8 | pmt[11]);
    std::vector<std::pair<int, int>> streams;  // stream type, component tag
    while (position + 4 < pmt.size()) {
        const int type = pmt[position];
        const size_t length = (pmt[position + 3] & 0x0F) << 8 | pmt[position + 4];
        int tag = -1;
        for (size_t d = position + 5; d < position + 5 + length; d += 2 + pmt[d + 1]) {
            if (pmt[d] == 0x52) {
                tag = pmt[d + 2];
            }
        }
        streams.emplace_back(type, tag);
        position += 5 + length;
    }
    EXPECT_EQ(streams,
              (std::vector<std::pair<int, int>>{{0x02, 0x00}, {0x0F, 0x10}, {0x06, 0x30}}));
}

TEST_F(TerrestrialStream, PtsAdvancesEvenlyAcrossTheVideoLoopAndLeadsThePcr) {
    const auto& video = demux->pes.at(0x0100);
    ASSERT_GT(video.size(), 300u);  // more than five loops of 60 pictures
    const auto& pcrs = demux->pcrs.at(Info().pcrPid);
    size_t pcrIndex = 0;
    for (size_t i = 0; i < video.size(); ++i) {
        ASSERT_TRUE(video[i].HasPts());
        if (i > 0) {
            EXPECT_EQ(video[i].Pts() - video[i - 1].Pts(), 3003u) << "picture " << i;
        }
        // The last PCR before the picture was sent: its PTS is ahead, by less than a second.
        while (pcrIndex + 1 < pcrs.size() &&
               pcrs[pcrIndex + 1].packetIndex < video[i].packetIndex) {
            ++pcrIndex;
        }
        const double lead = static_cast<double>(video[i].Pts()) - pcrs[pcrIndex].value / 300.0;
        EXPECT_GT(lead, 0.0);
        EXPECT_LT(lead, 90000.0);
    }
    const auto& audio = demux->pes.at(0x0110);
    ASSERT_GT(audio.size(), 500u);
    for (size_t i = 1; i < audio.size(); ++i) {
        EXPECT_EQ(audio[i].Pts() - audio[i - 1].Pts(), 1920u);
        EXPECT_EQ(audio[i].Payload()[0], 0xFF);  // ADTS syncword
    }
}

TEST_F(TerrestrialStream, EitScheduleCoversEightDaysInSegmentCorrectSections) {
    const JstTime first = DayStart(Start());
    for (const ServiceInfo& service : Info().services) {
        if (!service.hasEit) {
            continue;
        }
        std::map<uint16_t, std::pair<JstTime, int>> events;  // event_id -> start, duration
        std::set<std::pair<int, int>> sectionsSeen;
        for (const Section& s : demux->sections) {
            if (s.pid != 0x0012 || s.TableId() < 0x50 || s.TableId() > 0x57 ||
                s.Extension() != service.serviceId) {
                continue;
            }
            const Bytes& b = s.bytes;
            const int segmentLast = b[12];
            EXPECT_EQ(b[13], 0x51);  // last_table_id
            EXPECT_EQ(segmentLast & 0xF8, s.Number() & 0xF8);
            EXPECT_LE(s.Number(), segmentLast);
            EXPECT_LE(segmentLast, s.LastNumber());
            sectionsSeen.insert({s.TableId(), s.Number()});
            for (size_t p = 14; p + 12 <= b.size() - 4;) {
                const uint16_t id = static_cast<uint16_t>(b[p] << 8 | b[p + 1]);
                const JstTime start = ReadAribTime(&b[p + 2]);
                const int duration = ReadBcdDuration(&b[p + 7]);
                // The event belongs to the 3-hour segment of its start time.
                const int64_t segment = (start - first) / (3 * 3600);
                EXPECT_EQ(s.TableId(), 0x50 + segment / 32) << "event " << id;
                EXPECT_EQ(s.Number() / 8, segment % 32) << "event " << id;
                events[id] = {start, duration};
                p += 12 + ((b[p + 10] & 0x0F) << 8 | b[p + 11]);
            }
        }
        // Every segment of both tables was sent.
        EXPECT_EQ(sectionsSeen.size() >= 64u, true) << service.serviceId;
        std::vector<std::pair<JstTime, int>> sorted;
        for (const auto& [id, event] : events) {
            sorted.push_back(event);
        }
        std::sort(sorted.begin(), sorted.end());
        ASSERT_FALSE(sorted.empty());
        EXPECT_EQ(sorted.front().first, first);
        for (size_t i = 1; i < sorted.size(); ++i) {
            EXPECT_EQ(sorted[i].first, sorted[i - 1].first + sorted[i - 1].second);
        }
        EXPECT_EQ(sorted.back().first + sorted.back().second, first + 8 * kSecondsPerDay);
    }
}

TEST_F(TerrestrialStream, TotComesEveryFiveSecondsWithTheJapaneseOffset) {
    const auto tots = Sections(0x0014, 0x73);
    ASSERT_EQ(tots.size(), 3u);
    for (size_t i = 0; i < tots.size(); ++i) {
        const Bytes& b = tots[i]->bytes;
        EXPECT_EQ(ReadAribTime(&b[3]), Start() + static_cast<JstTime>(5 * i));
        ASSERT_EQ(b[10], 0x58);  // local_time_offset_descriptor
        EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 15), "JPN");
        EXPECT_EQ(b[16] << 8 | b[17], 0x0900);
    }
}

TEST_F(TerrestrialStream, SiTablesCarryTheIntendedNames) {
    const auto nits = Sections(0x0010, 0x40);
    ASSERT_FALSE(nits.empty());
    const Bytes name = EncodeAribText(Info().networkName);
    const Bytes& nit = nits[0]->bytes;
    EXPECT_EQ(nit[10], 0x40);
    EXPECT_EQ(Bytes(nit.begin() + 12, nit.begin() + 12 + nit[11]), name);
    EXPECT_GE(Sections(0x0011, 0x42).size(), 6u);  // every 2 s
    EXPECT_FALSE(Sections(0x0024, 0xC4).empty());
    EXPECT_FALSE(Sections(0x0023, 0xC3).empty());
    // Present/following for every service with EIT, sections 0 and 1.
    std::set<std::pair<int, int>> pf;
    for (const Section* s : Sections(0x0012, 0x4E)) {
        pf.insert({s->Extension(), s->Number()});
    }
    EXPECT_EQ(pf.size(), 2u * 4u);
}

TEST_F(TerrestrialStream, CdtLogosArePalettePngsWithoutPaletteChunks) {
    const auto cdts = Sections(0x0029, 0xC8);
    std::set<int> types;
    for (const Section* s : cdts) {
        const Bytes& b = s->bytes;
        EXPECT_EQ(s->Extension(), Info().logoDownloadDataId);
        EXPECT_EQ(b[10], 0x01);  // data_type: logo
        const size_t module = 13 + ((b[11] & 0x0F) << 8 | b[12]);
        const int type = b[module];
        types.insert(type);
        EXPECT_EQ((b[module + 1] << 8 | b[module + 2]) & 0x1FF, Info().services[0].logoId);
        const size_t size = b[module + 5] << 8 | b[module + 6];
        const Bytes png(b.begin() + static_cast<ptrdiff_t>(module) + 7,
                        b.begin() + static_cast<ptrdiff_t>(module + 7 + size));
        ASSERT_GE(png.size(), 33u);
        EXPECT_EQ(png[1], 'P');
        EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
        EXPECT_EQ(png[25], 3);  // palette colour type
        Bytes image;
        for (size_t p = 8; p + 8 <= png.size();) {
            const size_t length = png[p] << 24 | png[p + 1] << 16 | png[p + 2] << 8 | png[p + 3];
            const std::string chunk(png.begin() + static_cast<ptrdiff_t>(p) + 4,
                                    png.begin() + static_cast<ptrdiff_t>(p) + 8);
            EXPECT_NE(chunk, "PLTE");
            EXPECT_NE(chunk, "tRNS");
            if (chunk == "IDAT") {
                image.insert(image.end(), png.begin() + static_cast<ptrdiff_t>(p) + 8,
                             png.begin() + static_cast<ptrdiff_t>(p + 8 + length));
            }
            p += 12 + length;
        }
        const uint32_t width = png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19];
        const uint32_t height = png[20] << 24 | png[21] << 16 | png[22] << 8 | png[23];
        Bytes raw((width + 1) * height + 1);
        uLongf rawSize = static_cast<uLongf>(raw.size());
        ASSERT_EQ(uncompress(raw.data(), &rawSize, image.data(), static_cast<uLong>(image.size())),
                  Z_OK);
        EXPECT_EQ(rawSize, (width + 1) * height);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 1; x <= width; ++x) {
                EXPECT_LT(raw[y * (width + 1) + x], 128);  // an index of the common colour table
            }
        }
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(TerrestrialStream, CaptionsAlternateManagementAndStatementDataGroups) {
    const auto& captions = demux->pes.at(0x0130);
    ASSERT_GE(captions.size(), 5u);
    int management = 0;
    int statements = 0;
    for (const Pes& pes : captions) {
        EXPECT_EQ(pes.bytes[3], 0xBD);  // private_stream_1
        ASSERT_TRUE(pes.HasPts());
        const Bytes payload = pes.Payload();
        ASSERT_GE(payload.size(), 10u);
        EXPECT_EQ(payload[0], 0x80);
        const size_t size = payload[6] << 8 | payload[7];
        ASSERT_EQ(payload.size(), size + 10);
        EXPECT_EQ(CalcCRC16(payload.data() + 3, payload.size() - 3), 0);
        const int group = payload[3] >> 2;
        (group == 0 ? management : statements)++;
        if (group == 0) {
            EXPECT_EQ(std::string(payload.begin() + 11, payload.begin() + 14), "jpn");
        }
    }
    EXPECT_GE(management, 2);
    EXPECT_GE(statements, 2);
}

TEST(IsdbsimStream, SameSeedAndStartGiveTheSameBytes) {
    const Bytes a = Generate(0, 1, 1.5, Start(), 5);
    const Bytes b = Generate(0, 1, 1.5, Start(), 5);
    const Bytes c = Generate(0, 1, 1.5, Start(), 6);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
}

TEST(IsdbsimStream, PresentFollowingChangesVersionWhenTheProgrammeChanges) {
    const ServiceInfo& service = FindChannel(0, 2)->services[0];
    const PresentFollowing pf = PresentFollowingAt(service, 1, Start());
    const JstTime change = pf.present.start + pf.present.duration;
    const Bytes stream = Generate(0, 2, 4.0, change - 2, 1);
    const DemuxResult demux = Demux(stream, {0x0012}, {});
    std::vector<std::pair<uint8_t, uint16_t>> seen;  // version, present event_id
    for (const Section& s : demux.sections) {
        if (s.TableId() == 0x4E && s.Extension() == service.serviceId && s.Number() == 0) {
            const uint16_t id = static_cast<uint16_t>(s.bytes[14] << 8 | s.bytes[15]);
            if (seen.empty() || seen.back().second != id) {
                seen.emplace_back(s.Version(), id);
            }
        }
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].second, pf.present.eventId);
    EXPECT_EQ(seen[1].second, pf.following.eventId);
    EXPECT_NE(seen[0].first, seen[1].first);
}

TEST(IsdbsimStream, SatelliteEngineeringServiceCarriesLogoModules) {
    const TransportStreamInfo& info = *FindChannel(1, 0);
    const Bytes stream = Generate(1, 0, 10.5, Start());
    const DemuxResult demux = Demux(stream, {0x0010, 0x0901}, {});
    EXPECT_EQ(demux.crcErrors, 0u);
    EXPECT_EQ(demux.continuityErrors, 0u);
    const Section* dii = nullptr;
    std::map<int, std::map<int, Bytes>> blocks;  // module -> block -> data
    bool nitListsEngineering = false;
    for (const Section& s : demux.sections) {
        if (s.TableId() == 0x3B && dii == nullptr) {
            dii = &s;
        } else if (s.TableId() == 0x3C) {
            const Bytes& b = s.bytes;
            const int module = b[8 + 12] << 8 | b[8 + 13];
            const int block = b[8 + 16] << 8 | b[8 + 17];
            blocks[module][block] = Bytes(b.begin() + 8 + 18, b.end() - 4);
        } else if (s.TableId() == 0x40) {
            const Bytes& b = s.bytes;
            for (size_t i = 0; i + 2 < b.size(); ++i) {
                nitListsEngineering |= b[i] == 0x03 && b[i + 1] == 0xA1 && b[i + 2] == 0xA4;
            }
        }
    }
    EXPECT_TRUE(nitListsEngineering);
    ASSERT_NE(dii, nullptr);
    const Bytes& d = dii->bytes;
    const size_t modules = d[8 + 12 + 18] << 8 | d[8 + 12 + 19];  // after the fixed fields
    ASSERT_EQ(modules, 6u);
    size_t p = 8 + 12 + 20;
    for (size_t m = 0; m < modules; ++m) {
        const int id = d[p] << 8 | d[p + 1];
        const size_t size =
            static_cast<size_t>(d[p + 2]) << 24 | d[p + 3] << 16 | d[p + 4] << 8 | d[p + 5];
        const size_t infoLength = d[p + 7];
        EXPECT_EQ(std::string(d.begin() + static_cast<ptrdiff_t>(p) + 10,
                              d.begin() + static_cast<ptrdiff_t>(p) + 8 +
                                  static_cast<ptrdiff_t>(infoLength)),
                  "LOGO-0" + std::to_string(m));
        Bytes data;
        for (const auto& [block, bytes] : blocks[id]) {
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        ASSERT_EQ(data.size(), size) << "module " << id;
        EXPECT_EQ(data[0], m);  // logo_type
        const int logos = data[1] << 8 | data[2];
        EXPECT_EQ(logos, static_cast<int>(info.services.size() - 1 + info.otherServices.size()));
        // The first logo lists the service that uses it.
        EXPECT_EQ(data[5], 1);
        EXPECT_EQ(data[10] << 8 | data[11], info.services[0].serviceId);
        p += 8 + infoLength;
    }
}

}  // namespace
}  // namespace isdbsim::test
