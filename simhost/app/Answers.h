// The answers, as JSON: the objects the command line prints, one per line
// (JSON Lines), and the web server's answers are written by the same
// functions: one for a command run on a document, one for a document that
// could not be read, the dialogs. Texts are escaped by nlohmann-json; bytes
// that are not UTF-8 become U+FFFD.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Session.h"
#include "simhost/Codes.h"
#include "simhost/DialogDriver.h"
#include "simhost/DocumentJson.h"
#include "simhost/documents/Documents.h"
#include "simhost/documents/Editor.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"

namespace simhost_app {

// The host's own state of a document, which the server's answers end with.
struct HostState {
    std::string undo, redo;  // what Edit > Undo and Redo would do; empty for nothing
    std::uint64_t revision = 0;
    std::string layersJson;  // [{"name", "visible", "editable"}]
    const simhost::EditOutcome* edit = nullptr;    // an edit's or a flag's outcome
    const std::vector<std::string>* picked = nullptr;  // the keys a pick hit
};
// , "undo", "redo", "revision", "layers", "edit"?, "picked"?
void appendHostState(std::string& out, const HostState& state);

// What an answer to a command holds besides the run itself.
struct AnswerParts {
    // The server's answer: led by "document" (its id, or null with "file":
    // null for an application item run with no document), its dialogs with
    // "closedBy", and "alerts".
    bool server = false;
    const std::string* document = nullptr;
    const std::string* file = nullptr;
    // The document `run.selected` is read from: "selected" lists the objects
    // (with "element" on the command line, "kind" on the server). None leaves
    // "selected" out, or on the server answers it [].
    simhost::OpenDocument* selectedFrom = nullptr;
    // Fields that follow "selected", each as ", \"name\": value".
    std::string afterSelected;
    // The server's times: the command's, and since `start` (up to the end
    // of writing the answer).
    double commandMs = 0;
    std::chrono::steady_clock::time_point start;
    // The server's answer about a document: its host state, after "alerts".
    const HostState* host = nullptr;
};
// {"document"?, "file", "command", "result": "ok"|"error", "code",
//  "codeNumber", "count", "selected"?, "dialogs", "alerts"?, host state?, "commandMs"?, "ms"?}
void appendAnswer(std::string& out, const CommandRun& run, const AnswerParts& parts);

// The command line's answer: "selected" as [{"id", "type", "layer",
// "matched", "kept"?, "element"?}], read from `document`, which must be the
// document the command ran on. Without `withSelected` it is left out.
std::string resultJson(simhost::OpenDocument& document, const std::string& file, const CommandRun& run,
                       bool withSelected = true);

// {"file", "error"}
std::string unreadableJson(const std::string& file, const std::string& message);

// Per object of `selected` (a command's selection on `document`), whether
// the command chose it itself rather than selecting it with a container it
// chose. `kept` (empty, or one per object) marks objects the command left
// selected without selecting them: never its picks. The command's own picks
// are the other objects no selected container holds; their types are what
// it looks for. An object inside a selected container is its own pick too
// when it is of such a type and the command would take it on its own:
// neither locked nor hidden, and no plugin group's result group.
std::vector<bool> matchedFlags(const simhost::Document& document, const std::vector<simhost::ArtIndex>& selected,
                               const std::vector<bool>& kept = {});

// JSON texts of the parts.
std::string quoted(const std::string& text);
// Appends `text` as a JSON string. Ids and names are mostly plain ASCII,
// which is copied as it is: a selection may list a million of them.
void appendQuoted(std::string& out, std::string_view text);
// The command line's selection: ids, kinds, layers and source elements.
void appendSelectedJson(std::string& out, simhost::OpenDocument& document, const std::vector<simhost::ArtIndex>& selected,
                        const std::vector<bool>& kept);

// How a selection's objects are named: `id` gives an object's id, in
// `scratch` when it has to be made; `element`, when set, the id of the
// element an object is part of (empty for none).
struct ObjectNames {
    std::function<std::string_view(simhost::ArtIndex, std::string& scratch)> id;
    std::function<std::string(simhost::ArtIndex)> element;
    bool withKind = false;  // "kind" beside "type", as the web server writes it
};
// Appends [{"id", "kind"?, "type", "layer", "matched", "kept"?, "element"?}]
// for `selected` on `document`, with no string made per object but the ids
// that have to be made. "kept": true (only ever true) marks the objects
// `kept` marks (see matchedFlags).
void appendSelectedJson(std::string& out, const simhost::Document& document,
                        const std::vector<simhost::ArtIndex>& selected, const ObjectNames& names,
                        const std::vector<bool>& kept = {});

// [{"resource", "name", "title", "items", "closedBy"?}]
std::string dialogsJson(const std::vector<simhost::DialogRecord>& dialogs, bool withClosedBy = false);
// The dialog open in a modal loop, as the server shows it: {"id", "resource",
// "name", "title", "items": [{"id", "kind", "text"}], "presses"}.
std::string openDialogJson(long long id, const simhost::OpenDialogView& view);

}  // namespace simhost_app
