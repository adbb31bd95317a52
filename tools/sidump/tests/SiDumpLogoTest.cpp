// Logos, the data carousel and the download trigger table in sidump's output, on the broadcast
// simulator's streams: what --json reports must be what the simulator sent, and the files of
// --logos must be the logos the simulator drew, as an image viewer reads them.

#include <gtest/gtest.h>

#include <zlib.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "aribtext/ICAribColorTable.h"
#include "sianalyzer/tests/LogoPngReader.h"
#include "tools/isdbsim/LogoImage.h"
#include "tools/isdbsim/SiTables.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/sidump/SiDump.h"
#include "tools/sidump/tests/SiDumpCommand.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr const char* kStart = "2026-04-01 12:00:00";
constexpr double kSeconds = 20.0;  // one cycle of every table the simulator sends

const Bytes& Stream(int space, int channel) {
    static std::map<std::pair<int, int>, Bytes> streams;
    auto [it, inserted] = streams.try_emplace({space, channel});
    if (inserted) {
        isdbsim::TsStream stream(*isdbsim::FindChannel(space, channel),
                                 *isdbsim::ParseJstTime(kStart), 1);
        if (stream.Open(nullptr)) {
            const size_t count = static_cast<size_t>(kSeconds * stream.PacketRate());
            it->second.resize(count * 188);
            stream.Generate(it->second.data(), count);
            const Bytes tail = stream.Finish();
            it->second.insert(it->second.end(), tail.begin(), tail.end());
        }
    }
    return it->second;
}

json Dump(const Bytes& stream) {
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    reader.Feed(stream.data(), stream.size());
    reader.Finish();
    return sidump::ToJson(analyzer,
                          {reader.GetBytes(), reader.GetPackets(), reader.GetSkippedBytes()});
}

// A folder of its own under the temporary folder, removed at the end of the test.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : path(fs::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    const fs::path path;
};

std::string WriteFile(const fs::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return path.string();
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The colour indexes the simulator drew: the transmitted image's pixels, row by row (its rows
// all use filter type None).
Bytes DrawnIndexes(const Bytes& transmitted, int width, int height) {
    Bytes compressed;
    for (const logopng::Chunk& chunk : logopng::Chunks(transmitted)) {
        if (chunk.type == "IDAT") {
            compressed.insert(compressed.end(), transmitted.begin() + chunk.offset + 8,
                              transmitted.begin() + chunk.offset + 8 + chunk.length);
        }
    }
    const size_t stride = static_cast<size_t>(width) + 1;
    Bytes raw(stride * height);
    uLongf size = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &size, compressed.data(), static_cast<uLong>(compressed.size())) !=
            Z_OK ||
        size != raw.size()) {
        return {};
    }
    Bytes indexes;
    for (int y = 0; y < height; ++y) {
        indexes.insert(indexes.end(), raw.begin() + y * stride + 1, raw.begin() + (y + 1) * stride);
    }
    return indexes;
}

// The file reads as the simulator's logo of this type and id, in the fixed colour table.
void ExpectLogoFile(const fs::path& file, int logoType, uint16_t logoId) {
    SCOPED_TRACE(file.filename().string());
    const Bytes transmitted = isdbsim::MakeLogoPng(logoType, logoId);
    const Bytes png = ReadFile(file);
    ASSERT_EQ(png.size(), transmitted.size() + 536);
    const logopng::Image image = logopng::Decode(png);
    ASSERT_TRUE(image.ok) << image.error;
    const isdbsim::LogoSize size = isdbsim::LogoSizeOf(logoType);
    ASSERT_EQ(image.width, static_cast<uint32_t>(size.width));
    ASSERT_EQ(image.height, static_cast<uint32_t>(size.height));
    const Bytes indexes = DrawnIndexes(transmitted, size.width, size.height);
    ASSERT_EQ(indexes.size(), static_cast<size_t>(size.width * size.height));
    int wrong = 0;
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const ICAribColor expected = ICAribColorTable::Get(indexes[y * size.width + x]);
            const uint8_t* pixel = image.Pixel(x, y);
            const bool same =
                pixel[3] == expected.alpha &&
                (expected.alpha == 0 || (pixel[0] == expected.red && pixel[1] == expected.green &&
                                         pixel[2] == expected.blue));
            wrong += same ? 0 : 1;
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels not in the colour the simulator drew";
}

std::string LogoName(int network, int logoId, int type, int version) {
    return "logo_" + std::to_string(network) + "_" + std::to_string(logoId) + "_" +
           std::to_string(type) + "_v" + std::to_string(version) + ".png";
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(SiDumpLogos, TerrestrialCdtLogosAreWrittenAsTheSimulatorDrewThem) {
    const Bytes& stream = Stream(0, 0);
    ASSERT_FALSE(stream.empty());
    const isdbsim::TransportStreamInfo& info = *isdbsim::FindChannel(0, 0);
    TempFolder folder("sidump-cdt-logos");
    const std::string file = WriteFile(folder.path / "stream.ts", stream);
    const fs::path logos = folder.path / "logos" / "nested";  // created on demand
    int status = 0;
    const std::string output = RunSidump("--json --logos " + logos.string() + " " + file, status);
    ASSERT_EQ(status, 0) << output;

    const uint16_t logoId = info.services.front().logoId;
    std::set<std::string> expected;
    for (int type = 0; type < isdbsim::kLogoTypeCount; ++type) {
        const std::string name =
            LogoName(info.originalNetworkId, logoId, type, isdbsim::kLogoVersion);
        expected.insert(name);
        ExpectLogoFile(logos / name, type, logoId);
    }
    EXPECT_EQ(FilesIn(logos), expected);
}

TEST(SiDumpLogos, SatelliteCarouselLogosAreWrittenForEveryServiceAndType) {
    const Bytes& stream = Stream(1, 0);
    ASSERT_FALSE(stream.empty());
    const isdbsim::TransportStreamInfo& info = *isdbsim::FindChannel(1, 0);
    TempFolder folder("sidump-carousel-logos");
    const std::string file = WriteFile(folder.path / "stream.ts", stream);
    int status = 0;
    const std::string output =
        RunSidump("--logos " + folder.path.string() + "/logos " + file, status);
    ASSERT_EQ(status, 0) << output;

    std::set<uint16_t> logoIds;
    for (const auto& service : info.services) {
        if (service.logoId != 0) {
            logoIds.insert(service.logoId);
        }
    }
    for (const auto& service : info.otherServices) {
        logoIds.insert(service.logoId);
    }
    ASSERT_EQ(logoIds.size(), 3u);
    std::set<std::string> expected;
    for (uint16_t logoId : logoIds) {
        for (int type = 0; type < isdbsim::kLogoTypeCount; ++type) {
            const std::string name =
                LogoName(info.originalNetworkId, logoId, type, isdbsim::kLogoVersion);
            expected.insert(name);
            ExpectLogoFile(folder.path / "logos" / name, type, logoId);
        }
    }
    EXPECT_EQ(FilesIn(folder.path / "logos"), expected);
}

uint32_t ReadU32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
           uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

TEST(SiDumpLogos, DownloadsListTheCarouselTheSimulatorSent) {
    const Bytes& stream = Stream(1, 0);
    ASSERT_FALSE(stream.empty());
    const isdbsim::TransportStreamInfo& info = *isdbsim::FindChannel(1, 0);
    const isdbsim::Carousel carousel = isdbsim::BuildLogoCarousel(info);
    const json dump = Dump(stream);

    ASSERT_EQ(dump["downloads"].size(), 1u);
    const json& download = dump["downloads"][0];
    EXPECT_EQ(download["download_id"], carousel.downloadId);
    // transactionId follows the 8-byte section header and 4 bytes of the message header.
    EXPECT_EQ(download["transaction_id"], ReadU32(carousel.dii, 12));

    // The logo owners as the simulator lists them in every module: this stream's services with
    // a logo, then those of the other transport stream.
    struct Owner {
        uint16_t logoId;
        uint16_t tsid;
        uint16_t serviceId;
    };
    std::vector<Owner> owners;
    for (const auto& service : info.services) {
        if (service.logoId != 0) {
            owners.push_back({service.logoId, info.transportStreamId, service.serviceId});
        }
    }
    for (const auto& service : info.otherServices) {
        owners.push_back({service.logoId, info.otherTransportStreamId, service.serviceId});
    }

    ASSERT_EQ(download["modules"].size(), static_cast<size_t>(isdbsim::kLogoTypeCount));
    for (int type = 0; type < isdbsim::kLogoTypeCount; ++type) {
        const json& module = download["modules"][type];
        SCOPED_TRACE(module.dump());
        EXPECT_EQ(module["module_id"], type);
        EXPECT_EQ(module["name"], "LOGO-0" + std::to_string(type));
        EXPECT_EQ(module["kind"], 5 + type);
        EXPECT_EQ(module["complete"], true);
        size_t size = 3;  // logo_type, number of logos
        for (const Owner& owner : owners) {
            size += 11 + isdbsim::MakeLogoPng(type, owner.logoId).size();
        }
        EXPECT_EQ(module["size"], size);
        ASSERT_EQ(module["logos"].size(), owners.size());
        for (size_t i = 0; i < owners.size(); ++i) {
            const json& logo = module["logos"][i];
            EXPECT_EQ(logo["logo_id"], owners[i].logoId);
            EXPECT_EQ(logo["logo_type"], type);
            EXPECT_EQ(logo["logo_version"], isdbsim::kLogoVersion);
            EXPECT_EQ(logo["data_size"], isdbsim::MakeLogoPng(type, owners[i].logoId).size());
            EXPECT_EQ(logo["services"],
                      json::array({{{"original_network_id", info.originalNetworkId},
                                    {"transport_stream_id", owners[i].tsid},
                                    {"service_id", owners[i].serviceId}}}));
        }
    }
    // Terrestrial streams carry no carousel.
    EXPECT_TRUE(Dump(Stream(0, 0))["downloads"].empty());
}

TEST(SiDumpLogos, SdttShowsTheAnnouncementTheSimulatorSent) {
    for (int space : {0, 1}) {
        const Bytes& stream = Stream(space, 0);
        ASSERT_FALSE(stream.empty());
        const isdbsim::TransportStreamInfo& info = *isdbsim::FindChannel(space, 0);
        uint16_t announcingService = info.services.front().serviceId;
        for (const auto& service : info.services) {
            if (service.kind == isdbsim::ServiceKind::Engineering) {
                announcingService = service.serviceId;
            }
        }
        const json dump = Dump(stream);
        SCOPED_TRACE(dump["sdtt"].dump());
        // The simulator announces, for maker 0xFF model 0x01, a 512 KiB firmware carousel
        // (download_id 0x0002 << 16 | tsid, component 0x7A) broadcast the next day from 03:00
        // for one hour, moving version 1 to 2.
        ASSERT_EQ(dump["sdtt"].size(), 1u);
        const json& sdtt = dump["sdtt"][0];
        EXPECT_EQ(sdtt["maker_id"], 0xFF);
        EXPECT_EQ(sdtt["model_id"], 0x01);
        EXPECT_EQ(sdtt["original_network_id"], info.originalNetworkId);
        EXPECT_EQ(sdtt["transport_stream_id"], info.transportStreamId);
        EXPECT_EQ(sdtt["service_id"], announcingService);
        EXPECT_EQ(sdtt["version"], 0);
        ASSERT_EQ(sdtt["contents"].size(), 1u);
        const json& content = sdtt["contents"][0];
        EXPECT_EQ(content["group"], 0);
        EXPECT_EQ(content["target_version"], 1);
        EXPECT_EQ(content["new_version"], 2);
        EXPECT_EQ(content["download_level"], 1);
        EXPECT_EQ(content["version_indicator"], 1);
        EXPECT_EQ(content["schedule"],
                  json::array({{{"start", "2026-04-02T03:00:00"}, {"duration", 3600}}}));
        ASSERT_EQ(content["download_contents"].size(), 1u);
        const json& item = content["download_contents"][0];
        EXPECT_EQ(item["download_id"], 0x00020000u | info.transportStreamId);
        EXPECT_EQ(item["component_tag"], 0x7A);
        EXPECT_EQ(item["component_size"], 512 * 1024);
        EXPECT_EQ(item["text"], "");
        ASSERT_EQ(item["modules"].size(), 1u);
        EXPECT_EQ(item["modules"][0]["module_id"], 0);
        EXPECT_EQ(item["modules"][0]["size"], 512 * 1024);
    }
}

TEST(SiDumpLogos, TextOutputSummarisesCarouselAndSdtt) {
    const Bytes& stream = Stream(1, 0);
    ASSERT_FALSE(stream.empty());
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    reader.Feed(stream.data(), stream.size());
    reader.Finish();
    const std::string text = sidump::FormatText(
        analyzer, {reader.GetBytes(), reader.GetPackets(), reader.GetSkippedBytes()});
    EXPECT_NE(text.find("DOWNLOAD  id 0x00014010"), std::string::npos) << text;
    EXPECT_NE(text.find("LOGO-03  kind 8"), std::string::npos);
    EXPECT_NE(text.find("complete  3 logos"), std::string::npos);
    EXPECT_NE(text.find("SDTT  maker 0xFF  model 0x01"), std::string::npos);
    EXPECT_NE(text.find("schedule 2026-04-02T03:00:00  3600 s"), std::string::npos);
    EXPECT_NE(text.find("download 0x00024010  component 0x7A"), std::string::npos);
}

TEST(SiDumpLogos, AFolderThatCannotBeWrittenIsRefusedBeforeReading) {
    const Bytes& stream = Stream(0, 0);
    ASSERT_FALSE(stream.empty());
    TempFolder folder("sidump-logo-refused");
    const std::string file = WriteFile(folder.path / "stream.ts", stream);
    // Below a regular file no folder can be made, whoever runs the test.
    int status = 0;
    std::string message = RunSidump("--logos " + file + "/logos " + file, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find("cannot write logos to " + file + "/logos"), std::string::npos)
        << message;
    EXPECT_EQ(message.find("PAT"), std::string::npos) << "the stream was dumped anyway";
    message = RunSidump("--logos " + file + " " + file, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find("cannot write logos"), std::string::npos) << message;
    RunSidump(file + " --logos", status);
    EXPECT_EQ(status, 2);
}

// A CDT logo whose bytes are no PNG image (a broadcaster's fault, or a section cut short) is
// skipped with its reason; the good ones are still written, each version received in a file
// of its own.
TEST(SiDumpLogos, LogoDataThatIsNotAPngIsSkipped) {
    sidump::DumpAnalyzer analyzer;
    auto feedLogo = [&](uint8_t type, uint8_t version, const Bytes& image) {
        streamkit::ByteWriter body;
        body.U16(0x7FE8).U8(0x01).U16(0xF000);  // original_network_id, data_type 1, no descriptors
        body.U8(type).U16(0xFE00 | 0x05).U16(0xF000 | version);
        body.U16(static_cast<uint32_t>(image.size())).Append(image);
        const Bytes packets = streamkit::PacketizeSection(
            0x0029, streamkit::BuildSection({0xC8, 0x0001, version, type, 2, true}, body.Data()));
        analyzer.ProcessInput(packets.data(), packets.size());
        analyzer.DrainSections();
    };
    feedLogo(0, 3, isdbsim::MakeLogoPng(0, 5));
    feedLogo(1, 3, Bytes(40, 0xAB));
    feedLogo(2, 3, Bytes(12, 0x89));
    feedLogo(0, 3, isdbsim::MakeLogoPng(0, 5));  // a repetition
    feedLogo(0, 4, isdbsim::MakeLogoPng(0, 5));  // a new version
    ASSERT_EQ(analyzer.GetLogos().size(), 4u);

    TempFolder folder("sidump-logo-skip");
    const sidump::LogoWriteResult result = sidump::WriteLogos(analyzer, folder.path.string());
    EXPECT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(result.written, 2);
    ASSERT_EQ(result.skipped.size(), 2u);
    EXPECT_NE(result.skipped[0].find("logo_32744_5_1_v3.png"), std::string::npos);
    EXPECT_EQ(FilesIn(folder.path),
              (std::set<std::string>{"logo_32744_5_0_v3.png", "logo_32744_5_0_v4.png"}));
    ExpectLogoFile(folder.path / "logo_32744_5_0_v3.png", 0, 5);
    ExpectLogoFile(folder.path / "logo_32744_5_0_v4.png", 0, 5);
}

}  // namespace
