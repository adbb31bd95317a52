#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/stores/COwnedList.h"
#include "core/ICListItem.h"

class CTunerList;
class ICSICDT;
class ICSIModule;

// One station logo: a complete PNG image, and (carousel logos) the services that show it.
class CLogo : public ICListItem {
public:
    uint16_t networkId = 0;
    uint16_t logoId = 0;
    uint8_t logoType = 0;
    uint16_t version = 0;
    std::vector<uint16_t> serviceNetworkIds;
    std::vector<uint16_t> serviceTsIds;
    std::vector<uint16_t> serviceIds;
    std::vector<uint8_t> image;
};

// Every logo Orvanta has received, kept in `Logo.data` in the Data folder and linked to the
// services that use it (their logoId). A logo is identified by (networkId, logoId, logoType).
//
// Logos are added on the user-interface thread from graph events; drawing code reads them, so
// every look-up, addition and load holds the list's lock (Lock / Unlock), which FindLogo
// expects its caller to hold.
class CLogoList {
public:
    static constexpr uint32_t kFormatVersion = 0x15120200;

    // What the storing operations need of the graph that received the logo: its network, the
    // service it shows, and the panel to tell about a new logo of that service (wParam =
    // transport_stream_id << 16 | service_id, lParam = network id << 16 | logo id).
    struct GraphContext {
        uint16_t networkId = 0;
        uint16_t transportStreamId = 0;
        uint16_t serviceId = 0;
        std::function<void(uint32_t wParam, uint32_t lParam)> notifyPanel;
    };

    explicit CLogoList(CTunerList& tuners) : tuners(tuners) {}

    void Lock() { logos.Lock(); }
    void Unlock() { logos.Unlock(); }
    COwnedList<CLogo>& Logos() { return logos; }

    CLogo* FindLogo(uint8_t logoType, uint16_t networkId, uint16_t logoId) const;

    // Reads `Logo.data` in the folder (a missing file leaves the store empty; a damaged one
    // keeps the logos before the damage) and gives the listed services their logo.
    void LoadLogos(const std::string& dataFolder);
    // Writes `Logo.data`; false when it could not be written (the previous file then stays).
    bool SaveLogos(const std::string& dataFolder);

    // A CDT that carries a logo was stored. True when the store changed.
    bool StoreCdtLogo(const ICSICDT& cdt, const GraphContext& graph);
    // A carousel module is complete: its logos (logo modules only). True when the store changed.
    bool StoreCarouselLogos(const ICSIModule& module, const GraphContext& graph);

    // `Logo.data` as bytes, and back (the logos read until the first damaged one).
    std::vector<uint8_t> Serialize();
    void Deserialize(const uint8_t* data, size_t size);

private:
    // Removes a stored logo with the same identity and another version; false when one with
    // the same version is stored already.
    bool MakeRoomFor(uint8_t logoType, uint16_t networkId, uint16_t logoId, uint16_t version);
    void AssignToServices(const CLogo& logo, bool allMatches);

    CTunerList& tuners;
    COwnedList<CLogo> logos;
};
