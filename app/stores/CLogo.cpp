#include "app/stores/CLogo.h"

#include <cstring>

#include "app/stores/CTunerList.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSIDownload.h"
#include "sianalyzer/ICSILogoPng.h"

namespace {

constexpr char kLogoFile[] = "/Logo.data";

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::vector<uint8_t>& out) : out(out) {}
    void U8(uint8_t value) { out.push_back(value); }
    void U16(uint16_t value) {
        out.push_back(uint8_t(value));
        out.push_back(uint8_t(value >> 8));
    }
    void U32(uint32_t value) {
        U16(uint16_t(value));
        U16(uint16_t(value >> 16));
    }
    void Bytes(const std::vector<uint8_t>& bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }

private:
    std::vector<uint8_t>& out;
};

// Reads little-endian values; once a read runs past the end, every later one fails too.
class LittleEndianReader {
public:
    LittleEndianReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool Ok() const { return ok; }
    uint8_t U8() { return Take(1) ? data[position - 1] : 0; }
    uint16_t U16() { return Take(2) ? uint16_t(data[position - 2] | data[position - 1] << 8) : 0; }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | uint32_t(U16()) << 16;
    }
    bool Bytes(std::vector<uint8_t>& out, size_t count) {
        if (!Take(count)) {
            return false;
        }
        out.assign(data + position - count, data + position);
        return true;
    }
    void U16s(std::vector<uint16_t>& out, size_t count) {
        out.clear();
        for (size_t i = 0; i < count && ok; ++i) {
            out.push_back(U16());
        }
    }

private:
    bool Take(size_t count) {
        if (!ok || count > size - position) {
            ok = false;
            return false;
        }
        position += count;
        return true;
    }

    const uint8_t* data;
    size_t size;
    size_t position = 0;
    bool ok = true;
};

}  // namespace

CLogo* CLogoList::FindLogo(uint8_t logoType, uint16_t networkId, uint16_t logoId) const {
    for (CLogo* logo : logos) {
        if (logo->logoType == logoType && logo->networkId == networkId && logo->logoId == logoId) {
            return logo;
        }
    }
    return nullptr;
}

// --- the file

std::vector<uint8_t> CLogoList::Serialize() {
    std::vector<uint8_t> bytes;
    LittleEndianWriter out(bytes);
    Lock();
    out.U32(kFormatVersion);
    out.U32(uint32_t(logos.GetCount()));
    for (const CLogo* logo : logos) {
        out.U16(logo->networkId);
        out.U16(logo->logoId);
        out.U8(logo->logoType);
        out.U16(logo->version);
        out.U8(uint8_t(logo->serviceIds.size()));
        for (const std::vector<uint16_t>* values :
             {&logo->serviceNetworkIds, &logo->serviceTsIds, &logo->serviceIds}) {
            for (size_t i = 0; i < logo->serviceIds.size(); ++i) {
                out.U16(i < values->size() ? (*values)[i] : 0);
            }
        }
        out.U32(uint32_t(logo->image.size()));
        out.Bytes(logo->image);
    }
    Unlock();
    return bytes;
}

void CLogoList::Deserialize(const uint8_t* data, size_t size) {
    LittleEndianReader in(data, size);
    in.U32();  // the format version
    const uint32_t count = in.U32();
    Lock();
    for (uint32_t i = 0; i < count && in.Ok(); ++i) {
        auto* logo = new CLogo();
        logo->networkId = in.U16();
        logo->logoId = in.U16();
        logo->logoType = in.U8();
        logo->version = in.U16();
        const uint8_t services = in.U8();
        in.U16s(logo->serviceNetworkIds, services);
        in.U16s(logo->serviceTsIds, services);
        in.U16s(logo->serviceIds, services);
        const uint32_t imageSize = in.U32();
        // A record cut short by the end of the file is not kept.
        if (!in.Ok() || !in.Bytes(logo->image, imageSize)) {
            delete logo;
            break;
        }
        logos.Add(logo);
    }
    Unlock();
}

void CLogoList::LoadLogos(const std::string& dataFolder) {
    std::string bytes;
    if (profile::ReadWholeFile(dataFolder + kLogoFile, bytes) != profile::FileReadResult::kRead) {
        return;
    }
    Deserialize(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Lock();
    for (const CLogo* logo : logos) {
        AssignToServices(*logo, false);
    }
    Unlock();
}

bool CLogoList::SaveLogos(const std::string& dataFolder) {
    const std::vector<uint8_t> bytes = Serialize();
    return profile::ReplaceFileAtomically(
        dataFolder + kLogoFile,
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// --- logos from the broadcast

void CLogoList::AssignToServices(const CLogo& logo, bool allMatches) {
    for (size_t i = 0; i < logo.serviceIds.size() && i < logo.serviceTsIds.size(); ++i) {
        for (CTuner* tuner : tuners.Tuners()) {
            for (CTuningSpace* space = tuner->tuningSpaces.Last(); space != nullptr;
                 space = static_cast<CTuningSpace*>(space->prev)) {
                if (!allMatches) {
                    // The first service found on each tuner.
                    if (CChannelInfo* channel = CTunerList::FindChannel(space, logo.serviceTsIds[i],
                                                                        logo.serviceIds[i])) {
                        channel->logoId = logo.logoId;
                        break;
                    }
                    continue;
                }
                for (CChannelInfo* channel : space->channels) {
                    if (channel->transportStreamId == logo.serviceTsIds[i] &&
                        channel->serviceId == logo.serviceIds[i]) {
                        channel->logoId = logo.logoId;
                        tuners.channelsDirty = true;
                    }
                }
            }
        }
    }
}

bool CLogoList::MakeRoomFor(uint8_t logoType, uint16_t networkId, uint16_t logoId,
                            uint16_t version) {
    if (CLogo* stored = FindLogo(logoType, networkId, logoId)) {
        if (stored->version == version) {
            return false;
        }
        logos.Remove(stored, true);
    }
    return true;
}

bool CLogoList::StoreCdtLogo(const ICSICDT& cdt, const GraphContext& graph) {
    const ICSILogo* received = cdt.GetLogo();
    if (received == nullptr || received->GetLogoID() < 0) {
        return false;
    }
    // A logo too short to be completed into a PNG is refused rather than stored broken.
    std::vector<uint8_t> image = MakePng(*received);
    if (image.empty()) {
        return false;
    }
    const auto logoId = static_cast<uint16_t>(received->GetLogoID());
    Lock();
    const bool changed =
        MakeRoomFor(received->GetLogoType(), graph.networkId, logoId, cdt.GetVersion());
    if (changed) {
        auto* logo = new CLogo();
        logo->networkId = graph.networkId;
        logo->logoId = logoId;
        logo->logoType = received->GetLogoType();
        logo->version = cdt.GetVersion();
        logo->image = std::move(image);
        logos.Add(logo);
        tuners.logosDirty = true;
    }
    Unlock();
    if (changed && graph.transportStreamId != 0 && graph.serviceId != 0 && graph.notifyPanel) {
        graph.notifyPanel(uint32_t(graph.transportStreamId) << 16 | graph.serviceId,
                          uint32_t(graph.networkId) << 16 | logoId);
    }
    return changed;
}

bool CLogoList::StoreCarouselLogos(const ICSIModule& module, const GraphContext& graph) {
    if (!ICSIModule::IsLogoKind(module.GetModuleKind())) {
        return false;
    }
    bool changed = false;
    bool currentServiceChanged = false;
    uint16_t currentLogoId = 0;
    Lock();
    for (int32_t index = 0; const ICSILogo* received = module.GetLogo(index); ++index) {
        if (received->GetLogoID() < 0) {
            continue;
        }
        const auto logoId = static_cast<uint16_t>(received->GetLogoID());
        const int32_t services = std::min(received->GetServiceCount(), 255);
        const uint16_t networkId = services > 0 ? received->GetServiceOriginalNetworkID(0) : 0;
        std::vector<uint8_t> image = MakePng(*received);
        if (image.empty() ||
            !MakeRoomFor(received->GetLogoType(), networkId, logoId, received->GetLogoVersion())) {
            continue;
        }
        auto* logo = new CLogo();
        logo->networkId = networkId;
        logo->logoId = logoId;
        logo->logoType = received->GetLogoType();
        logo->version = received->GetLogoVersion();
        for (int32_t i = 0; i < services; ++i) {
            logo->serviceNetworkIds.push_back(received->GetServiceOriginalNetworkID(i));
            logo->serviceTsIds.push_back(received->GetServiceTransportStreamID(i));
            logo->serviceIds.push_back(received->GetServiceServiceID(i));
            if (logo->serviceTsIds.back() == graph.transportStreamId &&
                logo->serviceIds.back() == graph.serviceId) {
                currentServiceChanged = true;
                currentLogoId = logoId;
            }
        }
        logo->image = std::move(image);
        logos.Add(logo);
        AssignToServices(*logo, true);
        tuners.logosDirty = true;
        changed = true;
    }
    Unlock();
    if (currentServiceChanged && graph.notifyPanel) {
        graph.notifyPanel(uint32_t(graph.transportStreamId) << 16 | graph.serviceId,
                          uint32_t(graph.networkId) << 16 | currentLogoId);
    }
    return changed;
}
