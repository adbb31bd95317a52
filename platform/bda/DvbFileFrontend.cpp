// The substitute frontend: a text file of "key=value" lines standing for a tuner (see
// DvbDevice.h). Tuning writes "<frontend>.tuned" beside it.

#include <errno.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/bda/DvbBackends.h"

namespace {

using Settings = std::map<std::string, std::string>;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ReadSettings(const std::string& path, Settings* settings, DvbError* error) {
    std::ifstream file(path);
    if (!file) {
        DvbSetError(error, path, errno != 0 ? errno : EIO);
        return false;
    }
    settings->clear();
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        settings->emplace(Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)));
    }
    return true;
}

bool Describe(DvbFrontendInfo* info, DvbError* error) {
    Settings settings;
    if (!ReadSettings(info->path, &settings, error)) {
        return false;
    }
    info->name = settings["name"];
    if (info->name.empty()) {
        info->name = "frontend" + std::to_string(info->frontend);
    }
    info->systems.clear();
    std::istringstream systems(settings["system"]);
    std::string system;
    while (std::getline(systems, system, ',')) {
        system = Trimmed(system);
        if (system == DvbSystemName(DvbSystem::IsdbT)) {
            info->systems.push_back(DvbSystem::IsdbT);
        } else if (system == DvbSystemName(DvbSystem::IsdbS)) {
            info->systems.push_back(DvbSystem::IsdbS);
        }
    }
    return true;
}

class FileFrontend final : public DvbFrontend {
public:
    explicit FileFrontend(DvbFrontendInfo info) : DvbFrontend(std::move(info)) {}

    DvbSignal ReadSignal() override {
        DvbSignal signal;
        Settings settings;
        if (!ReadSettings(Info().path, &settings, nullptr)) {
            return signal;
        }
        signal.locked = std::atoi(settings["lock"].c_str()) != 0;
        const std::string& level = settings["signal"];
        if (!level.empty()) {
            signal.scale = DvbSignal::Scale::Decibel;
            signal.level = std::strtod(level.c_str(), nullptr);
        }
        return signal;
    }

protected:
    int Tune(DvbSystem system, uint64_t frequencyHz, uint16_t transportStreamId) override {
        const std::string path = Info().path + ".tuned";
        std::ofstream file(path, std::ios::trunc);
        file << "system=" << DvbSystemName(system) << "\nfrequency=" << frequencyHz
             << "\ntsid=" << transportStreamId << "\n";
        file.flush();
        return file ? 0 : EIO;
    }
};

}  // namespace

bool FileFrontendProbe(DvbFrontendInfo* info, DvbError* error) {
    return Describe(info, error);
}

std::unique_ptr<DvbFrontend> FileFrontendOpen(DvbFrontendInfo info, DvbError* error) {
    if (!Describe(&info, error)) {
        return nullptr;
    }
    return std::make_unique<FileFrontend>(std::move(info));
}
