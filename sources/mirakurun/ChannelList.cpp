#include "sources/mirakurun/ChannelList.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "core/CodePage.h"

namespace mirakurun {

namespace {

struct TypeName {
    const char* type;
    const char16_t* spaceName;
};
constexpr TypeName kTypeNames[] = {
    {"GR", u"地デジ"},
    {"BS", u"BS"},
    {"CS", u"CS"},
    {"SKY", u"SKY"},
};

// A string, or a whole number as its decimal text.
std::optional<std::string> TextOf(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    if (found->is_string()) {
        return found->get<std::string>();
    }
    if (found->is_number_integer()) {
        return found->dump();
    }
    return std::nullopt;
}

}  // namespace

const std::vector<std::string>& ChannelList::KnownTypes() {
    static const std::vector<std::string> types = [] {
        std::vector<std::string> names;
        for (const TypeName& known : kTypeNames) {
            names.emplace_back(known.type);
        }
        return names;
    }();
    return types;
}

std::optional<ChannelList> ChannelList::Parse(std::string_view json,
                                              const std::vector<std::string>& enabledTypes,
                                              std::string* error) {
    const nlohmann::json document = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    if (document.is_discarded()) {
        *error = "the channel list is not valid JSON";
        return std::nullopt;
    }
    if (!document.is_array()) {
        *error = "the channel list is not a JSON array";
        return std::nullopt;
    }
    ChannelList list;
    for (const TypeName& known : kTypeNames) {
        list.spaces.push_back({known.type, known.spaceName, {}});
    }
    for (const nlohmann::json& element : document) {
        const std::optional<std::string> type =
            element.is_object() ? TextOf(element, "type") : std::nullopt;
        const std::optional<std::string> id =
            element.is_object() ? TextOf(element, "channel") : std::nullopt;
        const auto space = std::find_if(list.spaces.begin(), list.spaces.end(),
                                        [&](const Space& s) { return type && s.type == *type; });
        if (!id || id->empty() || space == list.spaces.end()) {
            ++list.skipped;
            continue;
        }
        const std::optional<std::string> name = TextOf(element, "name");
        space->channels.push_back({*type, *id, Utf8ToUtf16(name && !name->empty() ? *name : *id)});
    }
    std::erase_if(list.spaces, [&](const Space& space) {
        return space.channels.empty() || std::find(enabledTypes.begin(), enabledTypes.end(),
                                                   space.type) == enabledTypes.end();
    });
    return list;
}

const ChannelList::Space* ChannelList::FindSpace(uint32_t space) const {
    return space < spaces.size() ? &spaces[space] : nullptr;
}

const ChannelList::Channel* ChannelList::FindChannel(uint32_t space, uint32_t channel) const {
    const Space* found = FindSpace(space);
    return found != nullptr && channel < found->channels.size() ? &found->channels[channel]
                                                                : nullptr;
}

}  // namespace mirakurun
