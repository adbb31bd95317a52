#pragma once

#include <string>
#include <utility>

// Test support for comparisons with the aribts oracle.
namespace isdbsim::oracle {

// UTF-8 text as the oracle writes it: the additional symbols the simulator sends ([字] U+1F211,
// [新] U+1F21F) as their bracketed names.
inline std::string AsOracleWrites(const std::string& utf8) {
    std::string text = utf8;
    for (const auto& [symbol, name] :
         {std::pair<std::string, std::string>{"\U0001F211", "[字]"}, {"\U0001F21F", "[新]"}}) {
        for (size_t at = text.find(symbol); at != std::string::npos; at = text.find(symbol, at)) {
            text.replace(at, symbol.size(), name);
        }
    }
    return text;
}

}  // namespace isdbsim::oracle
