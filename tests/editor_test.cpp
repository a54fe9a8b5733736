// The host's own edits of an open document (Editor): its Select menu, hide
// and lock, delete, undo and redo, and the drawing saved with the edits
// spliced into the text as read. The saved forms are a table
// (tests/data/tables/editor.jsonc); the plug-in's commands run through the
// application's Session on the edited document.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "Tables.h"
#include "simhost/documents/Editor.h"
#include "Session.h"

using namespace simhost;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using Ids = std::vector<std::string>;

const std::string kLayers = std::string(WENDLOW_TEST_DATA) + "/edits/layers.svg";

// A document and its editor.
struct Editing {
    explicit Editing(std::unique_ptr<OpenDocument> opened) : open(std::move(opened)), editor(*open) {}
    explicit Editing(const std::string& text) : Editing(openDocumentBytes(text, "drawing.svg")) {}
    std::vector<ArtIndex> byKeys(const Ids& keys) {
        std::vector<ArtIndex> found;
        for (const std::string& key : keys) {
            found.push_back(editor.byKey(key));
            EXPECT_NE(found.back(), kNone) << key;
        }
        return found;
    }
    Ids ids(const std::vector<ArtIndex>& objects) {
        Ids out;
        for (const ArtIndex i : objects) out.push_back(open->idOf(i));
        return out;
    }
    Ids selected() { return ids(editor.document().selected()); }
    std::unique_ptr<OpenDocument> open;
    Editor editor;
};

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

EditOutcome runEdit(Editing& e, const nlohmann::json& row) {
    const std::string op = row["op"];
    const auto layer = static_cast<LayerIndex>(row.value("layer", 0));
    if (op == "delete") return e.editor.deleteSelection();
    if (op == "keep") return e.editor.keepOnlySelection();
    if (op == "hide") return e.editor.hideSelection();
    if (op == "lock") return e.editor.lockSelection();
    if (op == "show") return e.editor.showAll();
    if (op == "unlock") return e.editor.unlockAll();
    if (op == "hideLayer" || op == "showLayer") return e.editor.setLayerVisible(layer, op == "showLayer");
    if (op == "lockLayer" || op == "unlockLayer") return e.editor.setLayerEditable(layer, op == "unlockLayer");
    if (op == "export") return {};
    throw std::runtime_error("no edit " + op);
}

TEST(EditorSaved, EachEditChangesExactlyItsBytes) {
    for (const auto& row : test_tables::rows("editor", "saved")) {
        SCOPED_TRACE(row["name"].get<std::string>());
        const std::string input = row.contains("file") ? fileText(std::string(WENDLOW_TEST_DATA) + "/" + row["file"].get<std::string>())
                                                       : row["svg"].get<std::string>();
        Editing e(input);
        e.editor.select(SelectOp::kSet, e.byKeys(row.value("select", Ids())));
        const EditOutcome outcome = runEdit(e, row);
        EXPECT_EQ(outcome.untouched, row.value("untouched", 0u));
        std::string expected = input;
        for (const auto& change : row["replace"]) {
            const std::string from = change[0], to = change[1];
            const std::size_t at = expected.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            ASSERT_EQ(expected.find(from, at + 1), std::string::npos) << from;
            expected.replace(at, from.size(), to);
        }
        const std::string saved = row["op"] == "export" ? e.editor.exportedSelectionSvg() : e.editor.savedSvg();
        EXPECT_EQ(saved, expected);
        // Undone, the drawing is saved as it was read.
        if (e.editor.canUndo() && row["op"] != "export") {
            e.editor.undo();
            EXPECT_EQ(e.editor.savedSvg(), input);
            EXPECT_FALSE(e.editor.edited());
        }
    }
}

TEST(EditorSaved, UneditedDrawingIsWrittenByteForByte) {
    namespace fs = std::filesystem;
    std::vector<std::string> drawings;
    for (const char* dir : {WENDLOW_TEST_DATA, WENDLOW_SOURCE_DIR "/examples"})
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.path().extension() == ".svg" && entry.is_regular_file()) drawings.push_back(entry.path().string());
    std::size_t read = 0;
    for (const std::string& path : drawings) {
        SCOPED_TRACE(path);
        std::unique_ptr<OpenDocument> open;
        try {
            open = openDocument(path);
        } catch (const DocumentError&) {
            continue;  // the broken drawings of the reader's tests
        }
        Editing e(std::move(open));
        EXPECT_EQ(e.editor.savedSvg(), fileText(path));
        ++read;
    }
    EXPECT_GT(read, 20u);
    // A gzip-compressed drawing is saved as its text.
    const std::string gz = testing::TempDir() + "/layers.svgz";
    gzFile out = gzopen(gz.c_str(), "wb");
    const std::string text = fileText(kLayers);
    gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
    gzclose(out);
    Editing e(openDocument(gz));
    EXPECT_EQ(e.editor.savedSvg(), text);
}

// ---- The document's unlink ---------------------------------------------------

TEST(DocumentUnlink, DeletedObjectsLeaveEveryQueryAndComeBackInPlace) {
    Document doc;
    const ArtIndex root = doc.rootOf(doc.addLayer("L"));
    std::vector<ArtIndex> kids;
    for (const char* id : {"a", "b", "c", "d", "e"}) kids.push_back(doc.addPath(root, PathProps{}, id));
    const ArtIndex group = doc.addArt(root, kGroupArt, "g");
    const ArtIndex inner = doc.addPath(group, PathProps{}, "in");
    doc.setUserAttributes(inner, kArtSelected, kArtSelected);
    const std::vector<ArtIndex> order = doc.documentOrder();
    const std::uint64_t before = doc.fingerprintBesidesSelection();
    // The first, two neighbours, and the last (a group with a member).
    const std::vector<ArtIndex> gone = {kids[0], kids[2], kids[3], group};
    const std::vector<Placement> placements = doc.unlink(gone);
    EXPECT_EQ(doc.documentOrder(), (std::vector<ArtIndex>{root, kids[1], kids[4]}));
    EXPECT_EQ(doc.ofType(kPathArt), (std::vector<ArtIndex>{kids[1], kids[4]}));
    EXPECT_THAT(doc.selected(), IsEmpty());
    EXPECT_EQ(doc.art(root).lastChild, kids[4]);
    for (const ArtIndex i : {kids[0], group, inner}) {
        EXPECT_EQ(doc.nodeAt(static_cast<std::uintptr_t>(i)), nullptr);
        EXPECT_FALSE(doc.hasArt(i));
    }
    EXPECT_EQ(doc.find("in"), kNone);
    doc.relink(gone, placements);
    EXPECT_EQ(doc.documentOrder(), order);
    EXPECT_EQ(doc.fingerprintBesidesSelection(), before);
    EXPECT_EQ(doc.selected(), std::vector<ArtIndex>{inner});
    EXPECT_NE(doc.nodeAt(static_cast<std::uintptr_t>(inner)), nullptr);
}

// ---- Selection ------------------------------------------------------------

TEST(EditorSelect, AllInverseAndDeselectKeepToWhatAllMaySelect) {
    Editing e(openDocument(kLayers));
    // Top-level objects of the visible, editable layer: not the hidden or
    // locked ones, not the guide, not the hidden or locked layers'.
    const Ids all = {"open", "group", "twice", "/svg/g[1]/path[3]"};
    EXPECT_EQ(e.ids(e.editor.selectable()), all);
    e.editor.select(SelectOp::kAll);
    // A group selected carries its members, as the plug-in selects it.
    EXPECT_EQ(e.selected(), (Ids{"open", "group", "inner-open", "inner-rect", "twice", "twice/subpath[1]",
                                 "twice/subpath[2]", "/svg/g[1]/path[3]"}));
    e.editor.select(SelectOp::kSet, e.byKeys({"open", "guide", "inner-open"}));
    e.editor.select(SelectOp::kInverse);
    EXPECT_EQ(e.selected(), (Ids{"group", "inner-open", "inner-rect", "twice", "twice/subpath[1]",
                                 "twice/subpath[2]", "/svg/g[1]/path[3]", "guide"}));
    e.editor.select(SelectOp::kNone);
    EXPECT_THAT(e.selected(), IsEmpty());
    e.editor.select(SelectOp::kToggle, e.byKeys({"open", "twice"}));
    e.editor.select(SelectOp::kToggle, e.byKeys({"open"}));
    e.editor.select(SelectOp::kRemove, e.byKeys({"twice/subpath[2]"}));
    e.editor.select(SelectOp::kAdd, e.byKeys({"locked"}));
    EXPECT_EQ(e.selected(), (Ids{"twice", "twice/subpath[1]", "locked"}));
    // Each op one step, back to nothing selected.
    int steps = 0;
    while (e.editor.undo()) ++steps;
    EXPECT_EQ(steps, 8);
    EXPECT_THAT(e.selected(), IsEmpty());
    EXPECT_FALSE(e.editor.edited());
}

TEST(EditorSelect, RefusesDeletedObjectsAndKeepsKeys) {
    Editing e(openDocument(kLayers));
    const ArtIndex unnamed = e.editor.byKey("/svg/g[1]/path[3]");
    const ArtIndex open = e.editor.byKey("open");
    e.editor.select(SelectOp::kSet, {open});
    EXPECT_EQ(e.editor.deleteSelection().changed, 1u);
    EXPECT_FALSE(e.editor.present(open));
    EXPECT_EQ(e.editor.byKey("open"), kNone);
    EXPECT_THROW(e.editor.select(SelectOp::kAdd, {open}), std::invalid_argument);
    // A later sibling without an id keeps its key.
    EXPECT_EQ(e.editor.byKey("/svg/g[1]/path[3]"), unnamed);
    EXPECT_EQ(e.open->idOf(unnamed), "/svg/g[1]/path[3]");
    e.editor.undo();
    EXPECT_EQ(e.editor.byKey("open"), open);
}

// ---- Edits and the plug-in's commands ----------------------------------------

struct Plugin {
    Plugin() : session(WENDLOW_PLUGIN_PATH) {}
    Ids run(Editing& e, const std::string& command) {
        e.editor.beginOutside(command);
        const simhost_app::CommandRun run = session.run(*session.commandNamed(command), e.editor.document());
        e.editor.endOutside();
        return e.ids(run.selected);
    }
    simhost_app::Session session;
};

TEST(EditorEdits, DeleteUndoRedoRestoreTheTreeAndTheCommandsSeeIt) {
    Plugin plugin;
    Editing e(openDocument(kLayers));
    Document& doc = e.editor.document();
    const std::uint64_t before = doc.fingerprintBesidesSelection();
    const std::vector<ArtIndex> order = doc.documentOrder();
    const Ids open = {"open", "inner-open", "/svg/g[1]/path[3]"};
    EXPECT_EQ(plugin.run(e, "Open Paths"), open);
    const EditOutcome deleted = e.editor.deleteSelection();
    EXPECT_EQ(deleted.changed, 3u);
    EXPECT_EQ(deleted.message, "Deleted 3 objects.");
    EXPECT_THAT(plugin.run(e, "Open Paths"), IsEmpty());
    EXPECT_THAT(plugin.run(e, "All Paths"), ElementsAre("inner-rect", "twice/subpath[1]", "twice/subpath[2]"));
    // Two steps back: the second command's selection (the first selected
    // nothing: no step), then the delete.
    ASSERT_EQ(e.editor.undoLabel(), "All Paths");
    e.editor.undo();
    EXPECT_EQ(e.editor.undoLabel(), "Delete");
    e.editor.undo();
    EXPECT_EQ(doc.fingerprintBesidesSelection(), before);
    EXPECT_EQ(doc.documentOrder(), order);
    EXPECT_EQ(e.selected(), open);
    e.editor.redo();
    EXPECT_THAT(plugin.run(e, "Open Paths"), IsEmpty());
    EXPECT_TRUE(e.editor.canRedo());  // a command that changed nothing is no step
    plugin.run(e, "Closed Paths");
    EXPECT_FALSE(e.editor.canRedo());  // a new step clears what could be redone
    EXPECT_EQ(e.editor.savedSvg().find("id=\"open\""), std::string::npos);
}

TEST(EditorEdits, HideAndLockAreSkippedByTheCommandsUntilShown) {
    Plugin plugin;
    Editing e(openDocument(kLayers));
    e.editor.select(SelectOp::kSet, e.byKeys({"open", "group"}));
    EXPECT_EQ(e.editor.hideSelection().changed, 2u);
    EXPECT_THAT(e.selected(), IsEmpty());  // hidden objects are deselected
    EXPECT_THAT(plugin.run(e, "Open Paths"), ElementsAre("/svg/g[1]/path[3]"));
    e.editor.select(SelectOp::kSet, e.byKeys({"/svg/g[1]/path[3]"}));
    e.editor.lockSelection();
    EXPECT_THAT(plugin.run(e, "Open Paths"), IsEmpty());
    e.editor.setLayerVisible(1, true);
    e.editor.setLayerEditable(2, true);
    EXPECT_THAT(plugin.run(e, "Open Paths"), ElementsAre("back-open", "pinned-open"));
    const EditOutcome shown = e.editor.showAll();
    EXPECT_EQ(shown.untouched, 1u);  // sheet-hidden, by a style sheet
    EXPECT_EQ(shown.changed, 5u);    // open, group and its two members, and "hidden" as read
    const EditOutcome unlocked = e.editor.unlockAll();
    EXPECT_EQ(unlocked.changed, 2u);
    EXPECT_THAT(plugin.run(e, "Open Paths"),
                ElementsAre("open", "inner-open", "/svg/g[1]/path[3]", "back-open", "pinned-open"));
    const std::string saved = e.editor.savedSvg();
    EXPECT_NE(saved.find("style=\"fill:red\""), std::string::npos);
    EXPECT_NE(saved.find("<rect id=\"locked\" width"), std::string::npos);
    EXPECT_NE(saved.find("label=\"Back\">"), std::string::npos);
    EXPECT_NE(saved.find("label=\"Pinned\">"), std::string::npos);
}

TEST(EditorEdits, JsonDocumentsAreEditedButNotSaved) {
    Editing e(openDocumentBytes(
        R"({"layers": [{"name": "L", "art": [{"type": "path", "id": "a"}, {"type": "group", "id": "g", "children": [{"type": "path", "id": "b", "hidden": true}]}]}]})",
        "doc.json"));
    e.editor.select(SelectOp::kAll);
    EXPECT_EQ(e.selected(), (Ids{"a", "g", "b"}));
    e.editor.select(SelectOp::kSet, e.byKeys({"a"}));
    e.editor.deleteSelection();
    EXPECT_EQ(e.ids(e.editor.selectable()), Ids{"g"});
    EXPECT_EQ(e.editor.showAll().changed, 1u);
    EXPECT_TRUE(e.editor.edited());
    EXPECT_THROW(e.editor.savedSvg(), DocumentError);
    EXPECT_THROW(e.editor.exportedSelectionSvg(), DocumentError);
}

}  // namespace
