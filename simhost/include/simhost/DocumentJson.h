// Documents as JSON: the one format of test fixtures and of the command
// line's .json documents.
//
//   { "layers": [
//       { "name": "Layer 1", "visible": true, "editable": true,
//         "art": [
//           { "type": "group", "id": "g1", "children": [
//               { "type": "path", "id": "p1", "closed": true, "fill": true,
//                 "stroke": true, "dashCount": 2 } ] },
//           { "type": "pluginGroup", "id": "pg", "children": [ ... ],
//             "result": { "type": "group", "children": [ ... ] } } ] } ] }
//
// Art types: "group", "path", "compoundPath", "placed", "raster",
// "pluginGroup", "mesh", "symbol", "text", "other", or the numeric code.
// Attributes: "selected", "locked", "hidden" (booleans) or "attributes" (the
// bits). Path fields: "closed", "guide", "fill", "stroke" (booleans, or the
// raw byte 0 to 255) and "dashCount". Layer flags "visible" and "editable"
// take a boolean or the raw byte. Levers for hostile documents, per object:
// "noLayer", "noParent", "listedTwice".
//
// Reading and writing keep their own stack: any depth of nesting works.
#pragma once

#include <stdexcept>
#include <string>

#include "simhost/Document.h"

namespace simhost {

class DocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws DocumentError naming `origin` and what is wrong.
Document documentFromJson(const std::string& json, const std::string& origin);
Document loadJsonDocument(const std::string& path);
std::string documentToJson(const Document& document);

// The name of an art type in the format ("path"), or its number as text.
std::string artTypeName(AIArtType type);

}  // namespace simhost
