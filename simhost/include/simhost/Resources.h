// A plug-in's resource file: string lists and dialog layouts by ID.
//
// The file is JSON:
//   { "stringLists": { "17000": ["first entry", "second entry", ...], ... },
//     "dialogs": { "16050": { "name": "About Dialog", "title": "...",
//                             "items": [ { "id": 1, "kind": "button", "text": "OK" }, ... ] } } }
// Entries of a string list are numbered from 1.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostTypes.h"

namespace simhost {

struct DialogItemSpec {
    ai::int32 id = 0;
    std::string kind;  // "button", "text", ...
    std::string text;
};

struct DialogSpec {
    ai::int32 id = 0;
    std::string name;
    std::string title;
    std::vector<DialogItemSpec> items;
};

class ResourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Resources {
public:
    // Throws ResourceError naming the file and what is wrong with it.
    static Resources load(const std::string& path);
    static Resources parse(const std::string& json, const std::string& origin);

    // Null when the list does not exist.
    const std::vector<std::string>* stringList(ai::int32 id) const;
    const DialogSpec* dialog(ai::int32 id) const;

    // Editable, for tests and hostile-resource runs.
    std::map<ai::int32, std::vector<std::string>>& stringLists() { return lists_; }
    std::map<ai::int32, DialogSpec>& dialogs() { return dialogs_; }

private:
    std::map<ai::int32, std::vector<std::string>> lists_;
    std::map<ai::int32, DialogSpec> dialogs_;
};

}  // namespace simhost
