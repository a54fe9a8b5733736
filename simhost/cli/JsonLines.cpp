#include "JsonLines.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include <nlohmann/json.hpp>

namespace simhost_cli {

using namespace simhost;

std::string codeName(ASErr code) {
    std::string chars;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((static_cast<std::uint32_t>(code) >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::to_string(code);
        chars += static_cast<char>(c);
    }
    return chars;
}

std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<bool> matchedFlags(const Document& document, const std::vector<ArtIndex>& selected) {
    std::vector<ArtIndex> sorted = selected;
    std::sort(sorted.begin(), sorted.end());
    auto isSelected = [&sorted](ArtIndex index) {
        return index != kNone && std::binary_search(sorted.begin(), sorted.end(), index);
    };
    std::set<AIArtType> picked;
    for (const ArtIndex index : selected)
        if (!isSelected(document.art(index).parent)) picked.insert(document.art(index).type);
    std::vector<bool> flags;
    flags.reserve(selected.size());
    for (const ArtIndex index : selected) {
        const ArtNode& node = document.art(index);
        const ArtIndex parent = node.parent;
        if (!isSelected(parent)) {
            flags.push_back(true);
            continue;
        }
        const bool resultGroup = node.type == kGroupArt && document.art(parent).type == kPluginArt;
        flags.push_back(picked.count(node.type) != 0 && (node.attributes & (kArtLocked | kArtHidden)) == 0 &&
                        !resultGroup);
    }
    return flags;
}

std::string selectedJson(OpenDocument& document, const std::vector<ArtIndex>& selected) {
    const std::vector<bool> matched = matchedFlags(document.document(), selected);
    std::string out = "[";
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const ArtIndex index = selected[i];
        out += i == 0 ? "{" : ", {";
        out += "\"id\": " + quoted(document.idOf(index));
        out += ", \"type\": " + quoted(artTypeName(document.document().art(index).type));
        out += ", \"layer\": " + quoted(document.layerOf(index));
        out += matched[i] ? ", \"matched\": true" : ", \"matched\": false";
        const std::string element = document.elementOf(index);
        if (!element.empty()) out += ", \"element\": " + quoted(element);
        out += "}";
    }
    return out + "]";
}

std::string dialogsJson(const std::vector<DialogRecord>& dialogs) {
    nlohmann::json list = nlohmann::json::array();
    for (const DialogRecord& dialog : dialogs) {
        nlohmann::json items = nlohmann::json::array();
        for (const DialogItemRecord& item : dialog.items)
            items.push_back({{"id", item.id}, {"kind", item.kind}, {"text", item.text}});
        list.push_back({{"resource", dialog.resourceID},
                        {"name", dialog.name},
                        {"title", dialog.title},
                        {"items", std::move(items)}});
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string resultJson(OpenDocument& document, const std::string& file, const CommandRun& run, bool withSelected) {
    std::string out = "{\"file\": " + quoted(file) + ", \"command\": " + quoted(run.command);
    out += run.result == kNoErr ? ", \"result\": \"ok\"" : ", \"result\": \"error\"";
    out += ", \"code\": " + quoted(codeName(run.result)) + ", \"codeNumber\": " + std::to_string(run.result);
    out += ", \"count\": " + std::to_string(run.selected.size());
    if (withSelected) out += ", \"selected\": " + selectedJson(document, run.selected);
    return out + ", \"dialogs\": " + dialogsJson(run.dialogs) + "}";
}

std::string unreadableJson(const std::string& file, const std::string& message) {
    return "{\"file\": " + quoted(file) + ", \"error\": " + quoted(message) + "}";
}

}  // namespace simhost_cli
