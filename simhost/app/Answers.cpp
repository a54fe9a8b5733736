#include "Answers.h"

#include "simhost/DialogDriver.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include <nlohmann/json.hpp>

namespace simhost_app {

using namespace simhost;

std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<bool> matchedFlags(const Document& document, const std::vector<ArtIndex>& selected,
                               const std::vector<bool>& kept) {
    auto isKept = [&kept](std::size_t i) { return i < kept.size() && kept[i]; };
    std::vector<ArtIndex> sorted = selected;
    std::sort(sorted.begin(), sorted.end());
    auto isSelected = [&sorted](ArtIndex index) {
        return index != kNone && std::binary_search(sorted.begin(), sorted.end(), index);
    };
    std::set<AIArtType> picked;
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (!isKept(i) && !isSelected(document.art(selected[i]).parent)) picked.insert(document.art(selected[i]).type);
    std::vector<bool> flags;
    flags.reserve(selected.size());
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const ArtNode& node = document.art(selected[i]);
        const ArtIndex parent = node.parent;
        if (isKept(i)) {
            flags.push_back(false);
            continue;
        }
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

void appendQuoted(std::string& out, std::string_view text) {
    for (const char c : text)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') {
            out += quoted(std::string(text));
            return;
        }
    out += '"';
    out += text;
    out += '"';
}

void appendSelectedJson(std::string& out, const Document& document, const std::vector<ArtIndex>& selected,
                        const ObjectNames& names, const std::vector<bool>& kept) {
    const std::vector<bool> matched = matchedFlags(document, selected, kept);
    // Layer and type names are few: each quoted once.
    std::vector<std::string> layers(document.layerCount());
    for (std::size_t l = 0; l < layers.size(); ++l)
        layers[l] = ", \"layer\": " + quoted(document.layer(static_cast<LayerIndex>(l)).name);
    std::vector<std::pair<AIArtType, std::string>> types;
    auto typeFields = [&](AIArtType type) -> const std::string& {
        for (const auto& [t, text] : types)
            if (t == type) return text;
        const std::string name = quoted(artTypeName(type));
        types.emplace_back(type, (names.withKind ? ", \"kind\": " + name : std::string()) + ", \"type\": " + name);
        return types.back().second;
    };
    out.reserve(out.size() + selected.size() * 96);
    out += '[';
    std::string scratch;
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const ArtIndex index = selected[i];
        const ArtNode& node = document.art(index);
        out += i == 0 ? "{\"id\": " : ", {\"id\": ";
        appendQuoted(out, names.id(index, scratch));
        out += typeFields(node.type);
        out += node.layer == kNone ? std::string_view(", \"layer\": \"\"")
                                   : std::string_view(layers[static_cast<std::size_t>(node.layer)]);
        out += matched[i] ? ", \"matched\": true" : ", \"matched\": false";
        if (i < kept.size() && kept[i]) out += ", \"kept\": true";
        if (names.element) {
            const std::string element = names.element(index);
            if (!element.empty()) {
                out += ", \"element\": ";
                appendQuoted(out, element);
            }
        }
        out += '}';
    }
    out += ']';
}

void appendSelectedJson(std::string& out, OpenDocument& document, const std::vector<ArtIndex>& selected,
                        const std::vector<bool>& kept) {
    ObjectNames names;
    names.id = [&document](ArtIndex index, std::string& scratch) { return document.idOf(index, scratch); };
    names.element = [&document](ArtIndex index) { return document.elementOf(index); };
    appendSelectedJson(out, document.document(), selected, names, kept);
}

namespace {

nlohmann::json itemsList(const std::vector<DialogItemRecord>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const DialogItemRecord& item : items) list.push_back({{"id", item.id}, {"kind", item.kind}, {"text", item.text}});
    return list;
}

}  // namespace

std::string openDialogJson(long long id, const OpenDialogView& view) {
    const nlohmann::json dialog = {{"id", id},          {"resource", view.resourceID}, {"name", view.name},
                                   {"title", view.title}, {"items", itemsList(view.items)}, {"presses", view.presses}};
    return dialog.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string dialogsJson(const std::vector<DialogRecord>& dialogs, bool withClosedBy) {
    nlohmann::json list = nlohmann::json::array();
    for (const DialogRecord& dialog : dialogs) {
        nlohmann::json entry = {{"resource", dialog.resourceID},
                                {"name", dialog.name},
                                {"title", dialog.title},
                                {"items", itemsList(dialog.items)}};
        if (withClosedBy) entry["closedBy"] = dialog.closedBy;
        list.push_back(std::move(entry));
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void appendHostState(std::string& out, const HostState& state) {
    const auto label = [](const std::string& text) { return text.empty() ? std::string("null") : quoted(text); };
    out += ", \"undo\": " + label(state.undo) + ", \"redo\": " + label(state.redo);
    out += ", \"revision\": " + std::to_string(state.revision);
    out += ", \"layers\": " + (state.layersJson.empty() ? std::string("[]") : state.layersJson);
    if (state.edit != nullptr)
        out += ", \"edit\": {\"changed\": " + std::to_string(state.edit->changed) +
               ", \"untouched\": " + std::to_string(state.edit->untouched) +
               ", \"message\": " + quoted(state.edit->message) + "}";
    if (state.picked != nullptr) {
        out += ", \"picked\": [";
        for (std::size_t i = 0; i < state.picked->size(); ++i) {
            if (i != 0) out += ", ";
            appendQuoted(out, (*state.picked)[i]);
        }
        out += ']';
    }
}

void appendAnswer(std::string& out, const CommandRun& run, const AnswerParts& parts) {
    out += '{';
    if (parts.server) {
        out += "\"document\": ";
        if (parts.document != nullptr) appendQuoted(out, *parts.document);
        else out += "null";
        out += ", ";
    }
    out += "\"file\": ";
    out += parts.file != nullptr ? quoted(*parts.file) : std::string("null");
    out += ", \"command\": " + quoted(run.command);
    out += run.result == kNoErr ? ", \"result\": \"ok\"" : ", \"result\": \"error\"";
    out += ", \"code\": " + quoted(simhost::codeText(run.result)) + ", \"codeNumber\": " + std::to_string(run.result);
    out += ", \"count\": " + std::to_string(run.selected.size());
    // Appended in place: the selection of a large drawing runs to megabytes,
    // and each `a + b` of it was one more copy into fresh pages.
    if (parts.selectedFrom != nullptr) {
        out += ", \"selected\": ";
        OpenDocument& document = *parts.selectedFrom;
        ObjectNames names;
        names.id = [&document](ArtIndex index, std::string& scratch) { return document.idOf(index, scratch); };
        if (!parts.server) names.element = [&document](ArtIndex index) { return document.elementOf(index); };
        names.withKind = parts.server;
        appendSelectedJson(out, document.document(), run.selected, names, run.kept);
    } else if (parts.server) {
        out += ", \"selected\": []";
    }
    out += parts.afterSelected;
    out += ", \"dialogs\": ";
    out += dialogsJson(run.dialogs, parts.server);
    if (parts.server) {
        out += ", \"alerts\": ";
        out += nlohmann::json(run.alerts).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (parts.host != nullptr) appendHostState(out, *parts.host);
    }
    if (parts.server) {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - parts.start).count();
        out += ", \"commandMs\": " + std::to_string(parts.commandMs) + ", \"ms\": " + std::to_string(ms);
    }
    out += '}';
}

std::string resultJson(OpenDocument& document, const std::string& file, const CommandRun& run, bool withSelected) {
    AnswerParts parts;
    parts.file = &file;
    if (withSelected) parts.selectedFrom = &document;
    std::string out;
    appendAnswer(out, run, parts);
    return out;
}

std::string unreadableJson(const std::string& file, const std::string& message) {
    return "{\"file\": " + quoted(file) + ", \"error\": " + quoted(message) + "}";
}

}  // namespace simhost_app
