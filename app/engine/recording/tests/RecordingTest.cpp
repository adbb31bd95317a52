#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/engine/recording/CGraphRecorder.h"
#include "app/engine/recording/CRecFileList.h"
#include "app/stores/CChannelInfo.h"
#include "app/stores/CTuner.h"
#include "core/tests/TempFolder.h"
#include "sianalyzer/tests/SiTestSupport.h"
#include "sources/IQVTSSource.h"
#include "sources/integrity/TsIntegrity.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/streamkit/AribTime.h"
#include "tools/streamkit/PsiSection.h"

namespace {

using Bytes = std::vector<uint8_t>;

class TempFolder : public coretest::TempFolder {
public:
    TempFolder() : coretest::TempFolder("orv-recording") {}
    std::string Path() const { return path; }
};

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// Seconds of the simulator's first terrestrial channel.
Bytes SimulatedStream(double seconds) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(0, 0);
    isdbsim::TsStream stream(*info, streamkit::FromCivil({2026, 12, 10, 21, 0, 0}), 1);
    if (info == nullptr || !stream.Open(nullptr)) {
        return {};
    }
    const auto count = static_cast<size_t>(seconds * stream.PacketRate());
    Bytes out(count * 188);
    stream.Generate(out.data(), count);
    return out;
}

ICSIDateTime At(int year, int month, int day, int hour, int minute, int second) {
    ICSIDateTime when;
    when.year = static_cast<uint16_t>(year);
    when.month = static_cast<uint8_t>(month);
    when.day = static_cast<uint8_t>(day);
    when.hour = static_cast<uint8_t>(hour);
    when.minute = static_cast<uint8_t>(minute);
    when.second = static_cast<uint8_t>(second);
    return when;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

TEST(RecordingInfoPacket, WritesEveryFieldAndReadsItBack) {
    RecordingInfo info;
    info.remoteKeyAndSpaceType = 0x12;
    info.physicalIndex = 27;
    info.networkId = 0x7FE0;
    info.transportStreamId = 0x7FE1;
    info.serviceId = 0x0400;
    info.eventId = 0x1234;
    info.pmtPid = 0x1F0;
    info.videoPid = 0x111;
    info.audioPid = 0x112;
    info.captionPid = 0x130;
    info.videoComponentType = 0xB3;
    info.audioComponentType = 0x03;
    info.startTime = 63'900'000'000;
    info.channelName = u"みなと放送テレビジョン第一";  // 13 characters: 10 are kept
    info.title = std::u16string(45, u'字');            // 40 are kept
    info.genre = {0x01, 0x32, 0xEE, 0xEE};

    const RecordingInfoPacket packet = WriteRecordingInfo(info);
    // Read as a transport packet: a null packet with the error and unit-start flags.
    EXPECT_EQ(packet[0], 0x47);
    EXPECT_EQ(((packet[1] & 0x1F) << 8) | packet[2], 0x1FFF);
    EXPECT_EQ(packet[8], 0x00);
    EXPECT_EQ(packet[11], 0x15);
    EXPECT_EQ(packet[12], 1);
    EXPECT_EQ(packet[14], 0x12);
    EXPECT_EQ(packet[24] | packet[25] << 8, 0x1F0);

    const auto read = ReadRecordingInfo(packet.data(), packet.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->serviceId, 0x0400);
    EXPECT_EQ(read->eventId, 0x1234);
    EXPECT_EQ(read->captionPid, 0x130);
    EXPECT_EQ(read->startTime, 63'900'000'000);
    EXPECT_EQ(read->channelName, info.channelName.substr(0, 10));
    EXPECT_EQ(read->title, info.title.substr(0, 40));
    EXPECT_EQ(read->genre, info.genre);
    EXPECT_EQ(read->durationSeconds, 0u);

    // The stop rewrites the programme and the duration and nothing else.
    RecordingInfoPacket stopped = packet;
    UpdateRecordingInfoAtStop(stopped, 0x4321, 0xE1, 0x09, u"次の番組", {0x40, 0xEE, 0xEE, 0xEE},
                              1800);
    const auto after = ReadRecordingInfo(stopped.data(), stopped.size());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->eventId, 0x4321);
    EXPECT_EQ(after->title, u"次の番組");
    EXPECT_EQ(after->durationSeconds, 1800u);
    EXPECT_EQ(after->audioComponentType, 0x09);
    for (size_t i : {size_t{0}, size_t{14}, size_t{20}, size_t{36}, size_t{48}, size_t{156}}) {
        EXPECT_EQ(stopped[i], packet[i]) << "offset " << i;
    }

    // A title cut inside a surrogate pair loses the whole character.
    info.title = std::u16string(39, u'a') + u"\U0001F211";
    const auto cut = WriteRecordingInfo(info);
    EXPECT_EQ(ReadRecordingInfo(cut.data(), cut.size())->title, std::u16string(39, u'a'));

    RecordingInfoPacket foreign = packet;
    foreign[1] = 0x1F;
    EXPECT_FALSE(ReadRecordingInfo(foreign.data(), foreign.size()));
    EXPECT_FALSE(ReadRecordingInfo(packet.data(), 187));
}

TEST(RecordingPath, NamesFollowTheDateChannelAndTitle) {
    TempFolder folder;
    const ICSIDateTime newYear = At(2024, 1, 1, 12, 0, 0);
    CTuningSpace bs(nullptr);
    bs.type = CTuningSpace::kBS;
    CChannelInfo channel(&bs);
    channel.channelNumber = 101;
    channel.name = u"ＢＳオルバ１";
    const RecordingChannelName bs101 = RecordingChannelName::Of(&channel);

    EXPECT_EQ(FileName(MakeRecordingPath(folder.Path(), &newYear, &bs101, u"ニュース", ".ts")),
              "20240101-120000-BS101-ニュース.ts");
    // The folder may end in its separator.
    EXPECT_EQ(MakeRecordingPath(folder.Path() + "/", &newYear, nullptr, u"", ".ts"),
              folder.File("20240101-120000.ts"));
    // A slash becomes the full-width one; the registered sign and other private-use symbols go;
    // symbols with a standard character become it.
    EXPECT_EQ(FileName(MakeRecordingPath(folder.Path(), nullptr, nullptr, u"A/B\\C®\uE0FD\uE2FF～",
                                         ".ts")),
              "-A／B￥C㉑〜.ts");
    // A space without a prefix, or a channel without a number, is named by the channel's name.
    bs.type = CTuningSpace::kOther;
    channel.name = u"局/1";
    const RecordingChannelName other = RecordingChannelName::Of(&channel);
    EXPECT_EQ(FileName(MakeRecordingPath(folder.Path(), &newYear, &other, u"", ".bmp")),
              "20240101-120000-局／1.bmp");

    // A taken name gets " (2)", " (3)", ... before the extension.
    Touch(folder.File("20240101-120000-BS101-ニュース.ts"));
    Touch(folder.File("20240101-120000-BS101-ニュース (2).ts"));
    EXPECT_EQ(FileName(MakeRecordingPath(folder.Path(), &newYear, &bs101, u"ニュース", ".ts")),
              "20240101-120000-BS101-ニュース (3).ts");

    // A very long title is shortened to what a file name can hold, between characters.
    const std::string longName = FileName(
        MakeRecordingPath(folder.Path(), &newYear, &bs101, std::u16string(200, u'長'), ".ts"));
    EXPECT_LE(longName.size() + 6, 255u);
    EXPECT_EQ(longName.substr(longName.size() - 3), ".ts");
    EXPECT_EQ((longName.size() - std::string("20240101-120000-BS101-.ts").size()) % 3, 0u);
}

TEST(RecordingPath, WindowRecordingsInTheSameSecondAreNumberedAndTheFolderIsMade) {
    TempFolder folder;
    const std::string nested = folder.File("rec/sub");
    const ICSIDateTime when = At(2026, 12, 10, 21, 5, 9);
    const std::string first = MakeWindowRecordingPath(nested, when, ".ts");
    EXPECT_EQ(first, nested + "/20261210-210509.ts");
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    Touch(first);
    EXPECT_EQ(MakeWindowRecordingPath(nested, when, ".ts"), nested + "/20261210-210509 (2).ts");
    // An empty folder is the current directory.
    EXPECT_EQ(MakeWindowRecordingPath("", when, ".ts"), "20261210-210509.ts");
    EXPECT_GT(AvailableBytes(folder.Path()), 0u);
}

// The transport-stream source as a recording sees it: it writes the header and then a stream.
class FakeTsSource : public IQVTSSource {
public:
    explicit FakeTsSource(Bytes stream) : stream(std::move(stream)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IQVTSSource) {
            *object = static_cast<IQVTSSource*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT SetStartDelay(DWORD) override { return S_OK; }
    DWORD GetStartDelay() override { return 0; }
    DWORD StartRecording(const char16_t* path, const BYTE* header, DWORD headerLength,
                         const WORD* excludedPids, DWORD excludedCount, BOOL) override {
        excluded.assign(excludedPids, excludedPids + excludedCount);
        file.open(std::filesystem::path(std::u16string(path)), std::ios::binary);
        if (!file) {
            return 3;  // path not found
        }
        file.write(reinterpret_cast<const char*>(header), headerLength);
        file.flush();
        return 0;
    }
    HRESULT StopRecording() override {
        file.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
        file.close();
        ++stops;
        return S_OK;
    }
    DWORD GetBitrate() override { return 0; }
    DWORD GetErrorCounts(DWORD*, DWORD*, DWORD*) override { return 0; }

    std::vector<WORD> excluded;
    int stops = 0;

private:
    std::atomic<ULONG> references{1};
    Bytes stream;
    std::ofstream file;
};

TEST(GraphRecorder, RecordsRenamesToTheTitleAndKeepsTheIntegrityReportBeside) {
    TempFolder folder;
    FakeTsSource source(SimulatedStream(2.0));
    CTuningSpace uhf(nullptr);
    uhf.type = CTuningSpace::kTerrestrial;
    CChannelInfo channel(&uhf);
    channel.name = u"みなと放送";
    channel.channelNumber = 11;
    channel.remoteKey = 1;
    channel.physicalIndex = 27;
    RecordingTune tune;
    tune.channel = &channel;
    tune.transportStreamId = 0x7FE1;
    tune.serviceId = 0x0400;
    RecordingProgramme programme;
    programme.eventId = 7;
    programme.title = u"朝のニュース";
    const int64_t start = sitime::ToValue(At(2026, 12, 10, 21, 0, 0));
    const std::string path = folder.File("20261210-210000.ts");

    CGraphRecorder recorder;
    ASSERT_EQ(recorder.Start(&source, nullptr, tune, programme, start, path), S_OK);
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(recorder.Start(&source, nullptr, tune, programme, start, path), E_FAIL);
    EXPECT_EQ(recorder.StartPacket()[14], 0x10);
    EXPECT_EQ(recorder.StartPacket()[15], 27);

    programme.eventId = 8;
    programme.title = u"昼/ニュース";
    recorder.Stop(&source, programme, start + 95);
    recorder.Stop(&source, programme, start + 99);  // idle: nothing
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(source.stops, 1);
    EXPECT_EQ(recorder.Path(), folder.File("20261210-210000-UHF011-昼／ニュース.ts"));
    EXPECT_FALSE(std::filesystem::exists(path));

    const Bytes file = ReadAll(recorder.Path());
    const auto info = ReadRecordingInfo(file.data(), file.size());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->durationSeconds, 95u);
    EXPECT_EQ(info->eventId, 8);
    EXPECT_EQ(info->channelName, u"みなと放送");

    CGraphRecorder::WaitForReports();
    const Bytes reportBytes = ReadAll(recorder.Path() + ".check.json");
    const std::string report(reportBytes.begin(), reportBytes.end());
    EXPECT_NE(report.find("\"drops\": 0"), std::string::npos) << report;
}

TEST(GraphRecorder, AFailedStartLeavesItIdleAndAForeignFileHeaderAlone) {
    TempFolder folder;
    FakeTsSource source({});
    RecordingTune tune;
    CGraphRecorder recorder;
    EXPECT_EQ(recorder.Start(&source, nullptr, tune, {}, 0, folder.File("no/such/x.ts")),
              HRESULT_FROM_WIN32(3));
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(recorder.Start(nullptr, nullptr, tune, {}, 0, folder.File("x.ts")), E_POINTER);

    // Without a title the name stays; a file that lost its header is not written to.
    ASSERT_EQ(recorder.Start(&source, nullptr, tune, {}, 0, folder.File("x.ts")), S_OK);
    std::filesystem::resize_file(folder.File("x.ts"), 0);
    recorder.Stop(&source, {}, 10);
    CGraphRecorder::WaitForReports();
    EXPECT_EQ(recorder.Path(), folder.File("x.ts"));
    EXPECT_TRUE(ReadAll(folder.File("x.ts")).empty());
}

TEST(GraphRecorder, OtherServicesStreamsAreExcludedOnce) {
    sitest::TestAnalyzer analyzer;
    using sitest::EsEntry;
    analyzer.FeedSection(
        0x0000,
        streamkit::BuildSection(
            {0x00, 0x7FE1, 0, 0, 0, false},
            sitest::PatBody({{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}, {0x0402, 0x01F2}})));
    const auto pmt = [&](uint16_t pid, uint16_t program, std::vector<EsEntry> streams) {
        analyzer.FeedSection(pid, streamkit::BuildSection({0x02, program, 0, 0, 0, false},
                                                          sitest::PmtBody(0x01FF, {}, streams)));
    };
    pmt(0x01F0, 0x0400, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}, {0x06, 0x0130, {}}});
    pmt(0x01F1, 0x0401, {{0x02, 0x0121, {}}, {0x0F, 0x0112, {}}});  // shares the audio
    pmt(0x01F2, 0x0402, {{0x02, 0x0121, {}}, {0x0F, 0x0122, {}}});
    ICSIList* store = analyzer.GetSIList();
    EXPECT_EQ(ExcludedPids(store, 0x7FE1, 0x0400), (std::vector<WORD>{0x0121, 0x0122}));
    EXPECT_EQ(FindPmtPid(store, 0x7FE1, 0x0401), 0x01F1);
    EXPECT_TRUE(ExcludedPids(store, 0x7FE1, 0x0409).empty());  // no PMT of the service
    EXPECT_TRUE(ExcludedPids(store, 0x1234, 0x0400).empty());  // no PAT
    EXPECT_TRUE(ExcludedPids(nullptr, 0x7FE1, 0x0400).empty());
}

TEST(BitmapFile, WritesTheFileHeaderBeforeThePackedBitmap) {
    TempFolder folder;
    Bytes dib(40 + 2 * 2 * 4, 0);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = 2;
    header.biHeight = 2;
    header.biPlanes = 1;
    header.biBitCount = 32;
    std::memcpy(dib.data(), &header, sizeof(header));
    dib[40] = 0xAB;
    ASSERT_EQ(WriteBitmapFile(folder.File("snap.bmp"), dib.data()), 0u);
    const Bytes file = ReadAll(folder.File("snap.bmp"));
    ASSERT_EQ(file.size(), 14u + 40 + 16);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(file[2], 70);   // file size
    EXPECT_EQ(file[10], 54);  // pixel offset
    EXPECT_EQ(file[54], 0xAB);
    EXPECT_EQ(WriteBitmapFile(folder.File("missing/snap.bmp"), dib.data()), 2u);
}

// ---- the recorded-file list

// A recording: its information packet, then `body` bytes of stream.
void WriteRecording(const std::string& path, int64_t start, const std::u16string& title,
                    size_t body = 188 * 4) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    RecordingInfo info;
    info.startTime = start;
    info.durationSeconds = 1800;
    info.title = title;
    info.channelName = u"みなと放送1";
    info.genre = {0x61, 0xEE, 0xEE, 0xEE};
    const RecordingInfoPacket packet = WriteRecordingInfo(info);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(packet.data()), packet.size());
    out << std::string(body, char(0x47));
}

TEST(CRecFileList, ScanListsRecordingsOldestFirstAndNothingElse) {
    TempFolder folder;
    const int64_t noon = sitime::ToValue(At(2026, 12, 10, 12, 0, 0));
    WriteRecording(folder.File("b.ts"), noon + 60, u"二番目");
    WriteRecording(folder.File("sub/deeper/a.ts"), noon, u"朝\uFF5E昼");
    WriteRecording(folder.File("c.ts"), noon + 60, u"同時刻");
    std::ofstream(folder.File("short.ts"), std::ios::binary) << std::string(187, char(0x47));
    Bytes foreign(188, 0);
    foreign[0] = 0x47;
    std::ofstream(folder.File("foreign.ts"), std::ios::binary)
        .write(reinterpret_cast<const char*>(foreign.data()), 188);

    CRecFileList list;
    EXPECT_EQ(list.ScanFolder(folder.Path()).size(), 3u);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(FileName(list.At(0)->path), "a.ts");
    EXPECT_EQ(list.At(0)->title, u"朝\u301C昼");
    EXPECT_EQ(list.At(0)->genre, 0x61);
    EXPECT_EQ(list.At(0)->size, 188u * 5);
    // Equal starts keep the order they were found in, after each other.
    EXPECT_EQ(list.At(1)->start, list.At(2)->start);
    // A second scan adds nothing that is already listed, and merges what is new in start
    // order, after the listed ones of the same start.
    EXPECT_TRUE(list.ScanFolder(folder.Path()).empty());
    WriteRecording(folder.File("d.ts"), noon, u"後から");
    EXPECT_EQ(list.ScanFolder(folder.Path()).size(), 1u);
    ASSERT_EQ(list.GetCount(), 4);
    EXPECT_EQ(FileName(list.At(1)->path), "d.ts");
    EXPECT_EQ(list.At(2)->start, noon + 60);
}

TEST(CRecFileList, PacketFieldsAreRewrittenInPlaceAndNothingElse) {
    TempFolder folder;
    const std::string path = folder.File("r.ts");
    WriteRecording(path, 1000, u"古い題名", 188 * 1000);
    const Bytes before = ReadAll(path);

    EXPECT_TRUE(CRecFileList::SetResume(path, 3725000));
    EXPECT_TRUE(CRecFileList::SetProgrammeName(path, std::u16string(50, u'新')));
    const Bytes after = ReadAll(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin() + 188, before.end(), after.begin() + 188));
    const std::optional<CRecFile> read = CRecFileList::ReadRecording(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->resumePosition, 3725000u);
    EXPECT_EQ(read->title, std::u16string(40, u'新'));
    EXPECT_EQ(read->start, 1000);

    // A file that is not a recording is left alone.
    const std::string other = folder.File("other.ts");
    std::ofstream(other, std::ios::binary) << std::string(400, 'x');
    EXPECT_FALSE(CRecFileList::SetResume(other, 5));
    EXPECT_EQ(ReadAll(other), Bytes(400, 'x'));
}

TEST(CRecFileList, FreeingSpaceDeletesTheFoldersOldestRecordingsUntilEnough) {
    TempFolder folder;
    for (int i = 0; i < 4; ++i) {
        WriteRecording(folder.File("rec/" + std::to_string(i) + ".ts"), 1000 + i, u"t");
    }
    WriteRecording(folder.File("other/old.ts"), 1, u"t");
    CRecFileList list;
    list.ScanFolder(folder.File("rec"));
    list.ScanFolder(folder.File("other"));
    ASSERT_EQ(list.GetCount(), 5);

    int deleted = 0;
    std::vector<std::string> removed;
    list.FreeSpace(
        folder.File("rec"),
        [&](const std::string&) {
            return ++deleted >= 2 ? CRecFileList::kWantedFree : CRecFileList::kWantedFree - 1;
        },
        [&](CRecFile* file) { removed.push_back(FileName(file->path)); });
    EXPECT_EQ(removed, (std::vector<std::string>{"0.ts", "1.ts"}));
    EXPECT_FALSE(std::filesystem::exists(folder.File("rec/0.ts")));
    EXPECT_TRUE(std::filesystem::exists(folder.File("rec/2.ts")));
    EXPECT_TRUE(std::filesystem::exists(folder.File("other/old.ts")));
    EXPECT_EQ(list.GetCount(), 3);
}

TEST(CRecFileList, TheIntegrityReportBesideARecordingIsRead) {
    TempFolder folder;
    const std::string path = folder.File("r.ts");
    EXPECT_FALSE(CRecFileList::ReadCheck(path).present);

    integrity::IntegrityReport report;
    report.drops = 12;
    integrity::PidIntegrity video;
    video.pid = 0x100;
    video.drops = 12;
    video.gaps = {{65.5, 6, false, 10}, {{}, 1, false, 20}, {300.0, 6, false, 30}};
    integrity::PidIntegrity audio;
    audio.pid = 0x110;
    audio.gaps = {{65.9, 1, false, 11}};
    report.pids = {video, audio};
    std::ofstream(CRecFileList::CheckPath(path)) << integrity::FormatIntegrityJson(path, report);
    const RecordingCheck check = CRecFileList::ReadCheck(path);
    EXPECT_TRUE(check.present && check.readable);
    EXPECT_EQ(check.drops, 12u);
    EXPECT_EQ(check.gapSeconds, (std::vector<double>{65.5, 300.0}));

    std::ofstream(CRecFileList::CheckPath(path)) << "{ damaged";
    EXPECT_FALSE(CRecFileList::ReadCheck(path).readable);
}

}  // namespace
