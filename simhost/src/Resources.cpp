#include "simhost/Resources.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace simhost {

namespace {

ai::int32 resourceID(const std::string& key, const std::string& origin) {
    try {
        std::size_t used = 0;
        const long value = std::stol(key, &used);
        if (used == key.size() && value >= INT32_MIN && value <= INT32_MAX)
            return static_cast<ai::int32>(value);
    } catch (const std::exception&) {
    }
    throw ResourceError(origin + ": resource ID \"" + key + "\" is not a number");
}

}  // namespace

Resources Resources::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ResourceError(path + ": cannot open the resource file");
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path);
}

Resources Resources::parse(const std::string& json, const std::string& origin) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(json);
    } catch (const nlohmann::json::parse_error& e) {
        throw ResourceError(origin + ": " + e.what());
    }
    if (!root.is_object()) throw ResourceError(origin + ": the top level must be an object");

    Resources resources;
    try {
        if (root.contains("stringLists")) {
            for (const auto& [key, entries] : root.at("stringLists").items()) {
                std::vector<std::string> list;
                for (const auto& entry : entries) list.push_back(entry.get<std::string>());
                resources.lists_[resourceID(key, origin)] = std::move(list);
            }
        }
        if (root.contains("dialogs")) {
            for (const auto& [key, value] : root.at("dialogs").items()) {
                DialogSpec dialog;
                dialog.id = resourceID(key, origin);
                dialog.name = value.value("name", "");
                dialog.title = value.value("title", dialog.name);
                for (const auto& item : value.at("items")) {
                    DialogItemSpec entry;
                    entry.id = item.at("id").get<ai::int32>();
                    entry.kind = item.value("kind", "text");
                    entry.text = item.value("text", "");
                    dialog.items.push_back(std::move(entry));
                }
                resources.dialogs_[dialog.id] = std::move(dialog);
            }
        }
    } catch (const nlohmann::json::exception& e) {
        throw ResourceError(origin + ": " + e.what());
    }
    return resources;
}

const std::vector<std::string>* Resources::stringList(ai::int32 id) const {
    auto it = lists_.find(id);
    return it == lists_.end() ? nullptr : &it->second;
}

const DialogSpec* Resources::dialog(ai::int32 id) const {
    auto it = dialogs_.find(id);
    return it == dialogs_.end() ? nullptr : &it->second;
}

}  // namespace simhost
