#include "app/engine/tests/SimulatedRecording.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "sources/RecordingTrailer.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/streamkit/AribTime.h"

namespace enginetest {

std::string WriteSimulatedFile(const std::string& folder, double seconds) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(0, 0);
    isdbsim::TsStream stream(*info, streamkit::FromCivil({2026, 12, 10, 21, 0, 0}), 1);
    EXPECT_TRUE(stream.Open(nullptr));
    const auto count = static_cast<size_t>(seconds * stream.PacketRate());
    std::vector<uint8_t> bytes((count + 1) * 188);
    stream.Generate(bytes.data(), count);
    MakeRecordingTrailer(bytes.data() + count * 188, int64_t(seconds * 10'000'000));
    const std::string path = folder + "/simulated.ts";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

}  // namespace enginetest
