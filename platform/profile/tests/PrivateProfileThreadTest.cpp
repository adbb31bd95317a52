#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/profile/PrivateProfile.h"
#include "platform/profile/tests/ProfileTestFiles.h"

class PrivateProfileThreads : public ProfileFileTest {};

// Each write reads the file, edits it and replaces it; without serialisation one thread's
// replacement would drop the other's keys.
TEST_F(PrivateProfileThreads, ConcurrentWritersToOneFileKeepAllKeys) {
    const std::string path = PathOf("a.ini");
    constexpr int kKeysPerThread = 40;
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 2; ++thread) {
        writers.emplace_back([&, thread] {
            for (int key = 0; key < kKeysPerThread; ++key) {
                const std::string name = std::to_string(thread) + "-" + std::to_string(key);
                WritePrivateProfileString("S", name.c_str(), name.c_str(), path.c_str());
                // Readers run alongside and always see a whole file.
                GetPrivateProfileSectionNames(path.c_str());
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(GetPrivateProfileSection("S", path.c_str()).size(), 2u * kKeysPerThread);
    EXPECT_EQ(GetPrivateProfileString("S", "1-39", "", path.c_str()), "1-39");
}
