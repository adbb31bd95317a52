#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirakurun {

// The tuning spaces and channels a tuner server offers, read from its channel list (a JSON
// array of channels, each an object with at least the strings "type" and "channel" and usually
// "name"). A space is a channel type, in the fixed order GR, BS, CS, SKY, present only when
// enabled and when the list has a channel of it; its channels keep the server's order. Names
// are UTF-16 for the driver interface.
//
// Bad input: a text that is not a JSON array is refused with a message; an element that is not
// an object with string "type" and "channel" (a number is taken as its decimal text) is
// skipped and counted, and so is one of an unknown type.
class ChannelList {
public:
    struct Channel {
        std::string type;  // as the server spells it, for the stream's path
        std::string id;    // the server's channel, for the stream's path
        std::u16string name;
        bool operator==(const Channel&) const = default;
    };
    struct Space {
        std::string type;
        std::u16string name;
        std::vector<Channel> channels;
        bool operator==(const Space&) const = default;
    };

    // The channel types, in space order, that a driver may offer.
    static const std::vector<std::string>& KnownTypes();

    // `enabledTypes` lists the types to offer (a subset of KnownTypes, any order).
    static std::optional<ChannelList> Parse(std::string_view json,
                                            const std::vector<std::string>& enabledTypes,
                                            std::string* error);

    const std::vector<Space>& Spaces() const { return spaces; }
    const Space* FindSpace(uint32_t space) const;
    const Channel* FindChannel(uint32_t space, uint32_t channel) const;
    // Elements of the list that were not usable channels.
    size_t SkippedEntries() const { return skipped; }

    bool operator==(const ChannelList&) const = default;

private:
    std::vector<Space> spaces;
    size_t skipped = 0;
};

}  // namespace mirakurun
