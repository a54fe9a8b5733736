#include "CommandNames.h"

#include <algorithm>
#include <cctype>

namespace simhost_app {

namespace {

// Levenshtein distance between two keys (both short: menu texts).
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string commandKey(const std::string& text) {
    std::string key;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isspace(byte) || c == '-' || c == '_') continue;
        key += static_cast<char>(std::tolower(byte));
    }
    return key;
}

std::optional<std::size_t> matchCommand(const std::vector<std::string>& menuTexts, const std::string& typed) {
    const std::string key = commandKey(typed);
    if (key.empty()) return std::nullopt;
    for (std::size_t i = 0; i < menuTexts.size(); ++i)
        if (commandKey(menuTexts[i]) == key) return i;
    return std::nullopt;
}

std::vector<std::string> closestCommands(const std::vector<std::string>& menuTexts, const std::string& typed) {
    const std::string key = commandKey(typed);
    if (key.empty()) return {};
    // A quarter of the typed key may be wrong, at least two characters.
    const std::size_t allowed = std::max<std::size_t>(2, key.size() / 4);
    std::vector<std::pair<std::size_t, std::size_t>> near;  // distance, index
    for (std::size_t i = 0; i < menuTexts.size(); ++i) {
        const std::string candidate = commandKey(menuTexts[i]);
        if (candidate.compare(0, key.size(), key) == 0) {
            near.emplace_back(0, i);
            continue;
        }
        const std::size_t distance = editDistance(key, candidate);
        if (distance <= allowed) near.emplace_back(distance, i);
    }
    std::stable_sort(near.begin(), near.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (const auto& [distance, index] : near) names.push_back(menuTexts[index]);
    return names;
}

}  // namespace simhost_app
