#include "simhost/DocumentJson.h"

#include <fstream>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace simhost {

namespace {

using nlohmann::json;

struct TypeName {
    AIArtType type;
    const char* name;
};
const TypeName kTypeNames[] = {
    {kGroupArt, "group"},   {kPathArt, "path"},        {kCompoundPathArt, "compoundPath"},
    {kPlacedArt, "placed"}, {kRasterArt, "raster"},    {kPluginArt, "pluginGroup"},
    {kMeshArt, "mesh"},     {kSymbolArt, "symbol"},    {kTextArt, "text"},
    {kOtherArt, "other"},
};

[[noreturn]] void fail(const std::string& origin, const std::string& what) {
    throw DocumentError(origin + ": " + what);
}

AIArtType typeOf(const json& value, const std::string& origin) {
    if (value.is_number_integer()) {
        const auto n = value.get<long long>();
        if (n < INT16_MIN || n > INT16_MAX) fail(origin, "art type " + std::to_string(n) + " out of range");
        return static_cast<AIArtType>(n);
    }
    if (value.is_string()) {
        const std::string name = value.get<std::string>();
        for (const TypeName& t : kTypeNames)
            if (name == t.name) return t.type;
        fail(origin, "unknown art type \"" + name + "\"");
    }
    fail(origin, "\"type\" must be a name or a number");
}

// A flag byte: true/false, or the raw byte for hostile documents.
ASBoolean byteOf(const json& object, const char* key, ASBoolean fallback, const std::string& origin) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
    if (it->is_number_integer()) {
        const auto n = it->get<long long>();
        if (n < 0 || n > 255) fail(origin, std::string("\"") + key + "\" must be a byte");
        return static_cast<ASBoolean>(n);
    }
    fail(origin, std::string("\"") + key + "\" must be a boolean or a byte");
}

bool boolOf(const json& object, const char* key, const std::string& origin) {
    const auto it = object.find(key);
    if (it == object.end()) return false;
    if (!it->is_boolean()) fail(origin, std::string("\"") + key + "\" must be a boolean");
    return it->get<bool>();
}

void readObjectFields(const json& value, ArtNode& node, std::string& id, const std::string& origin) {
    if (const auto it = value.find("id"); it != value.end()) {
        if (!it->is_string()) fail(origin, "\"id\" must be a string");
        id = it->get<std::string>();
    }
    if (const auto it = value.find("attributes"); it != value.end()) {
        if (!it->is_number_integer()) fail(origin, "\"attributes\" must be a number");
        node.attributes = it->get<ai::int32>();
    }
    if (boolOf(value, "selected", origin)) node.attributes |= kArtSelected;
    if (boolOf(value, "locked", origin)) node.attributes |= kArtLocked;
    if (boolOf(value, "hidden", origin)) node.attributes |= kArtHidden;
    node.closed = byteOf(value, "closed", node.closed, origin);
    node.guide = byteOf(value, "guide", node.guide, origin);
    node.fillPaint = byteOf(value, "fill", node.fillPaint, origin);
    node.strokePaint = byteOf(value, "stroke", node.strokePaint, origin);
    if (const auto it = value.find("dashCount"); it != value.end()) {
        if (!it->is_number_integer()) fail(origin, "\"dashCount\" must be a number");
        node.dashCount = static_cast<ai::int16>(it->get<int>());
    }
    node.reportNoLayer = boolOf(value, "noLayer", origin);
    node.reportNoParent = boolOf(value, "noParent", origin);
    node.listedTwice = boolOf(value, "listedTwice", origin);
}

const json* childrenOf(const json& value, const std::string& origin) {
    const auto it = value.find("children");
    if (it == value.end()) return nullptr;
    if (!it->is_array()) fail(origin, "\"children\" must be an array");
    return &*it;
}

struct Pending {
    const json* value;
    ArtIndex parent;
    bool isResult;  // the plugin group's result group, not a child
};

void readArt(Document& document, ArtIndex root, const json& art, const std::string& origin) {
    if (!art.is_array()) fail(origin, "\"art\" must be an array");
    std::vector<Pending> pending;
    for (auto it = art.rbegin(); it != art.rend(); ++it) pending.push_back({&*it, root, false});
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        const json& value = *next.value;
        if (!value.is_object()) fail(origin, "every art object must be an object");
        const auto type = value.find("type");
        if (type == value.end()) fail(origin, "an art object has no \"type\"");
        const AIArtType artType = typeOf(*type, origin);
        if (next.isResult && artType != kGroupArt) fail(origin, "a result group must be a group");
        const ArtIndex index =
            next.isResult ? document.addResultGroup(next.parent) : document.addArt(next.parent, artType);
        std::string id;
        readObjectFields(value, document.art(index), id, origin);
        document.setId(index, std::move(id));

        if (const auto result = value.find("result"); result != value.end()) {
            if (artType != kPluginArt) fail(origin, "only a plugin group has a \"result\"");
            pending.push_back({&*result, index, true});
        }
        if (const json* children = childrenOf(value, origin))
            for (auto it = children->rbegin(); it != children->rend(); ++it) pending.push_back({&*it, index, false});
    }
}

std::string quoted(const std::string& text) {
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

void writeByte(std::string& out, const char* key, ASBoolean value, ASBoolean fallback) {
    if (value == fallback) return;
    out += std::string(", \"") + key + "\": ";
    out += value == 0 ? "false" : value == 1 ? "true" : std::to_string(value);
}

void writeObjectHead(std::string& out, const ArtNode& node, const std::string& id) {
    const std::string type = artTypeName(node.type);
    out += "{\"type\": " + (type == std::to_string(node.type) ? type : quoted(type));
    if (!id.empty()) out += ", \"id\": " + quoted(id);
    if (node.attributes & kArtSelected) out += ", \"selected\": true";
    if (node.attributes & kArtLocked) out += ", \"locked\": true";
    if (node.attributes & kArtHidden) out += ", \"hidden\": true";
    const ai::int32 other = node.attributes & ~(kArtSelected | kArtLocked | kArtHidden);
    if (other != 0) out += ", \"attributes\": " + std::to_string(node.attributes);
    if (node.type == kPathArt) {
        writeByte(out, "closed", node.closed, 0);
        writeByte(out, "guide", node.guide, 0);
        writeByte(out, "fill", node.fillPaint, 1);
        writeByte(out, "stroke", node.strokePaint, 0);
        if (node.dashCount != 0) out += ", \"dashCount\": " + std::to_string(node.dashCount);
    }
    if (node.reportNoLayer) out += ", \"noLayer\": true";
    if (node.reportNoParent) out += ", \"noParent\": true";
    if (node.listedTwice) out += ", \"listedTwice\": true";
}

// Writes the objects of one sibling chain and everything below them, with a
// stack of tasks instead of recursion.
void writeArt(std::string& out, const Document& document, ArtIndex first) {
    struct Task {
        enum Kind { kObject, kResult, kText } kind;
        ArtIndex index;
        bool comma;
        const char* text;
    };
    std::vector<Task> tasks;
    std::vector<ArtIndex> children;
    auto pushChildren = [&](ArtIndex firstChild) {
        children.clear();
        for (ArtIndex c = firstChild; c != kNone; c = document.art(c).nextSibling) children.push_back(c);
        for (std::size_t i = children.size(); i-- > 0;) tasks.push_back({Task::kObject, children[i], i != 0, nullptr});
    };
    pushChildren(first);
    while (!tasks.empty()) {
        const Task task = tasks.back();
        tasks.pop_back();
        if (task.kind == Task::kText) {
            out += task.text;
            continue;
        }
        const ArtNode& node = document.art(task.index);
        if (task.kind == Task::kObject) {
            if (task.comma) out += ", ";
        } else {
            out += ", \"result\": ";
        }
        writeObjectHead(out, node, document.id(task.index));
        out += ", \"children\": [";
        tasks.push_back({Task::kText, kNone, false, "}"});
        if (node.resultGroup != kNone) tasks.push_back({Task::kResult, node.resultGroup, false, nullptr});
        tasks.push_back({Task::kText, kNone, false, "]"});
        pushChildren(node.firstChild);
    }
}

}  // namespace

std::string artTypeName(AIArtType type) {
    for (const TypeName& t : kTypeNames)
        if (t.type == type) return t.name;
    return std::to_string(type);
}

Document documentFromJson(const std::string& text, const std::string& origin) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        fail(origin, e.what());
    }
    if (!root.is_object()) fail(origin, "a document must be a JSON object");
    const auto layers = root.find("layers");
    if (layers == root.end() || !layers->is_array()) fail(origin, "a document needs a \"layers\" array");

    Document document;
    try {
        for (const json& layer : *layers) {
            if (!layer.is_object()) fail(origin, "every layer must be an object");
            const LayerIndex index = document.addLayer(layer.value("name", ""));
            Layer& l = document.layer(index);
            l.visible = byteOf(layer, "visible", 1, origin);
            l.editable = byteOf(layer, "editable", 1, origin);
            if (const auto rootId = layer.find("rootId"); rootId != layer.end() && rootId->is_string())
                document.setId(l.root, rootId->get<std::string>());
            if (const auto art = layer.find("art"); art != layer.end()) readArt(document, l.root, *art, origin);
        }
    } catch (const json::exception& e) {
        fail(origin, e.what());
    }
    return document;
}

Document loadJsonDocument(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DocumentError(path + ": cannot open the document");
    std::ostringstream text;
    text << in.rdbuf();
    return documentFromJson(text.str(), path);
}

std::string documentToJson(const Document& document) {
    std::string out = "{\"layers\": [";
    for (std::size_t i = 0; i < document.layerCount(); ++i) {
        const Layer& layer = document.layer(static_cast<LayerIndex>(i));
        if (i != 0) out += ",";
        out += "\n  {\"name\": " + quoted(layer.name);
        writeByte(out, "visible", layer.visible, 1);
        writeByte(out, "editable", layer.editable, 1);
        const std::string& rootId = document.id(layer.root);
        if (!rootId.empty()) out += ", \"rootId\": " + quoted(rootId);
        out += ", \"art\": [";
        writeArt(out, document, document.art(layer.root).firstChild);
        out += "]}";
    }
    out += "\n]}\n";
    return out;
}

}  // namespace simhost
