// `simhost select`: what it was asked, checked before any work, and the
// work on one document, shared by the command line's own process and its
// workers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "simhost/documents/Documents.h"
#include "ExitCodes.h"
#include "Session.h"
#include "Workers.h"

namespace simhost_cli {

struct SelectOptions {
    bool json = false;
    bool all = false;
    bool summary = false;
    bool count = false;
    bool filesWithMatches = false;
    bool requireSelection = false;
    std::string svgOut, pngOut, pngDir;
    // The edits of the command's selection, and where the edited drawing
    // (--save) and the selection alone (--export-selection) go.
    bool remove = false, hide = false, lock = false, keepOnly = false;
    std::string saveOut, exportOut;
    simhost::PictureOptions picture;  // --png-area, --png-width, --png-background, --no-dim
    unsigned jobs = 0;  // 0: one per core
    std::vector<std::string> types = {"svg"};
    std::vector<std::string> excludes;
    std::vector<std::string> positional;
};

struct SelectPlan {
    SelectOptions options;
    std::string pluginPath;
    std::vector<std::string> hostFaults;
    std::vector<std::size_t> commands;       // menu positions, in the order run
    std::vector<std::string> commandTexts;   // their menu texts
    std::vector<simhost::DocumentEntry> documents;
    bool batch = false;  // several documents, or a directory searched
    // Where marked drawings go: one file for one document, or a directory
    // with one file per document in a batch.
    std::string svgFile, pngFile, svgDir, pngDir;
    // The same for --save and --export-selection.
    std::string saveFile, saveDir, exportFile, exportDir;

    bool edits() const { return options.remove || options.hide || options.lock || options.keepOnly; }
};

// The marked file of `entry` in `dir`: its name inside the directory
// searched, with `extension` for its own.
std::string outputPathIn(const std::string& dir, const simhost::DocumentEntry& entry, const std::string& extension);

// Runs `commands` on one open document; a single command works on the
// document itself, several each on a fresh copy of it, as a selected guide
// survives any command and would leak into the next.
std::vector<CommandRun> runCommands(Session& session, simhost::OpenDocument& document, const std::vector<std::size_t>& commands);

// Applies --host-fault rules; false, with `why` said, for an unknown
// operation.
bool applyHostFaults(const std::vector<std::string>& faults, Session& session, std::string& why);

// Makes the processor that runs `plan` on its documents, with its own
// session of the plug-in.
ProcessorFactory selectProcessor(const SelectPlan& plan);

// The report for a document that gives no result, read like any other:
// `why` on stderr, a row of its own with --json, a heading in a batch.
DocumentReport unreadableReport(const SelectPlan& plan, const std::string& file, const std::string& why);
// That report for a document whose worker died.
DocumentReport lostDocument(const SelectPlan& plan, std::size_t index, const std::string& why);

// Counts over the run, and the summary they make.
class Summary {
public:
    explicit Summary(const SelectPlan& plan) : plan_(plan), tallies_(plan.commands.size()) {}
    void add(const DocumentReport& report);
    void skipped(std::size_t entries) { skipped_ += entries; }
    bool anySelected() const;
    std::string text() const;
    std::string json() const;

private:
    const SelectPlan& plan_;
    std::vector<CommandTally> tallies_;
    std::size_t documents_ = 0, unreadable_ = 0, skipped_ = 0;
};

// "1 document", "2 documents".
std::string counted(std::uint64_t n, const std::string& singular, const std::string& plural);

}  // namespace simhost_cli
