#include "Batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "Answers.h"
#include "Marking.h"
#include "Report.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/documents/Editor.h"

namespace simhost_cli {

using simhost::ArtIndex;
using simhost::OpenDocument;
using simhost::DocumentEntry;
using simhost::kNotADrawing;
using simhost::openDocument;

namespace {

const char* const kNoDrawingToSave =
    "a JSON document is no drawing: --save and --export-selection need an SVG document";

}  // namespace

std::string counted(std::uint64_t n, const std::string& singular, const std::string& plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string outputPathIn(const std::string& dir, const DocumentEntry& entry, const std::string& extension) {
    std::filesystem::path relative(entry.relative());
    relative.replace_extension(extension);
    return (std::filesystem::path(dir) / relative).string();
}

std::vector<CommandRun> runCommands(Session& session, OpenDocument& document, const std::vector<std::size_t>& commands) {
    std::vector<CommandRun> runs;
    for (const std::size_t command : commands) {
        if (commands.size() == 1) {
            runs.push_back(session.run(command, document.document()));
        } else {
            simhost::Document copy = document.document();
            runs.push_back(session.run(command, copy));
        }
    }
    return runs;
}

bool applyHostFaults(const std::vector<std::string>& faults, Session& session, std::string& why) {
    for (const std::string& name : faults) {
        const auto op = simhost::opNamed(name);
        if (!op) {
            why = "unknown host operation \"" + name + "\"";
            return false;
        }
        session.host().gate().addRule(simhost::FaultRule::failEvery(*op));
    }
    return true;
}

DocumentReport unreadableReport(const SelectPlan& plan, const std::string& file, const std::string& why) {
    DocumentReport report;
    report.tallies.resize(plan.commands.size());
    report.unreadable = true;
    report.code = kBadInput;
    report.err = "simhost: " + why + "\n";
    if (plan.options.json) report.out = unreadableJson(file, why) + "\n";
    else if (plan.batch && !plan.options.count && !plan.options.filesWithMatches)
        report.out = "== " + file + ": unreadable\n";
    return report;
}

namespace {

// Shows what the plug-in showed while a command ran: its dialogs and
// alerts, on stderr.
std::string shownDialogs(const CommandRun& run) {
    std::string out;
    for (const simhost::DialogRecord& dialog : run.dialogs) out += renderDialog(dialog);
    for (const std::string& alert : run.alerts) out += "simhost: alert: " + alert + "\n";
    return out;
}

std::string idLines(OpenDocument& document, const std::vector<ArtIndex>& selected) {
    std::string out;
    for (const ArtIndex index : selected) {
        out += document.idOf(index);
        out += '\n';
    }
    return out;
}

// Standard output for one document, in the form the options ask for.
std::string documentOutput(const SelectPlan& plan, OpenDocument& document, const std::string& file,
                           const std::vector<CommandRun>& runs) {
    const SelectOptions& o = plan.options;
    std::string out;
    if (o.json) {
        for (const CommandRun& run : runs) out += resultJson(document, file, run, !o.count) + "\n";
        return out;
    }
    if (o.filesWithMatches) {
        const bool any = std::any_of(runs.begin(), runs.end(), [](const CommandRun& r) { return !r.selected.empty(); });
        return any ? file + "\n" : std::string();
    }
    if (o.count) {
        for (const CommandRun& run : runs)
            out += (plan.batch ? file + ": " : std::string()) + (o.all ? run.command + ": " : std::string()) +
                   std::to_string(run.selected.size()) + "\n";
        return out;
    }
    if (o.all) return (plan.batch ? "== " + file + "\n" : std::string()) + commandTable(document, runs);
    const CommandRun& run = runs.front();
    if (plan.batch) out = "== " + file + ": " + std::to_string(run.selected.size()) + " selected\n";
    return out + idLines(document, run.selected);
}

void makeParentDirectories(const std::string& path) {
    std::error_code ignored;
    if (!path.empty() && path != "-") std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

// The file of one document: `file` itself, or its name in `dir`.
std::string outputOf(const std::string& file, const std::string& dir, const DocumentEntry& entry, const char* extension) {
    return dir.empty() ? file : outputPathIn(dir, entry, extension);
}

// -o, --png, --png-dir for one document.
void markDocument(const SelectPlan& plan, OpenDocument& document, const DocumentEntry& entry, const CommandRun& run,
                  DocumentReport& report) {
    const std::string svg = outputOf(plan.svgFile, plan.svgDir, entry, ".svg");
    const std::string png = outputOf(plan.pngFile, plan.pngDir, entry, ".png");
    if (svg.empty() && png.empty()) return;
    for (const std::string& path : {svg, png}) makeParentDirectories(path);
    const std::string failure = writeMarked(document, run.selected, svg, png, plan.options.picture);
    if (failure.empty()) return;
    report.err += "simhost: " + entry.path + ": " + failure + "\n";
    report.code = std::max(report.code, kBadInput);
}

// Writes one drawing the editor made; empty, else why not.
std::string writeDrawing(const std::string& path, const std::string& svg) {
    makeParentDirectories(path);
    if (writeFile(path, svg)) return {};
    return "cannot write " + (path == "-" ? std::string("the output") : path) + ": " + std::strerror(errno);
}

// --export-selection (of the selection as the command left it), the edit,
// then --save. Answers the fields the JSON line gains:
// ", \"exported\": PATH, \"edits\": {EDIT: CHANGED...}, \"saved\": PATH".
std::string editDocument(const SelectPlan& plan, simhost::Editor& editor, const std::vector<ArtIndex>& selection,
                         const DocumentEntry& entry, DocumentReport& report) {
    const SelectOptions& o = plan.options;
    const std::string exported = outputOf(plan.exportFile, plan.exportDir, entry, ".svg");
    const std::string saved = outputOf(plan.saveFile, plan.saveDir, entry, ".svg");
    std::string fields, failure;
    if (!exported.empty()) {
        failure = writeDrawing(exported, editor.exportedSelectionSvg());
        fields += ", \"exported\": " + quoted(exported);
    }
    using Edit = simhost::EditOutcome (simhost::Editor::*)();
    // Lock before hide: hiding deselects what it hides, as in the host.
    const std::tuple<bool, const char*, Edit> edits[] = {{o.remove, "delete", &simhost::Editor::deleteSelection},
                                                        {o.keepOnly, "keepOnly", &simhost::Editor::keepOnlySelection},
                                                        {o.lock, "lock", &simhost::Editor::lockSelection},
                                                        {o.hide, "hide", &simhost::Editor::hideSelection}};
    std::string changed;
    for (const auto& [asked, name, edit] : edits) {
        if (!asked) continue;
        // Hiding and locking deselect what they change: the next edit acts
        // on the command's selection again.
        if (!changed.empty()) editor.select(simhost::SelectOp::kSet, selection);
        changed += std::string(changed.empty() ? "" : ", ") + quoted(name) + ": " +
                   std::to_string((editor.*edit)().changed);
    }
    if (!changed.empty()) fields += ", \"edits\": {" + changed + "}";
    if (!saved.empty() && failure.empty()) {
        failure = writeDrawing(saved, editor.savedSvg());
        fields += ", \"saved\": " + quoted(saved);
    }
    if (!failure.empty()) {
        report.err += "simhost: " + entry.path + ": " + failure + "\n";
        report.code = std::max(report.code, kBadInput);
    }
    return fields;
}

// Adds `fields` to the last JSON line of `out`.
void appendToLastLine(std::string& out, const std::string& fields) {
    const std::size_t close = out.rfind('}');
    if (close != std::string::npos) out.insert(close, fields);
}

class SelectProcessor : public DocumentProcessor {
public:
    explicit SelectProcessor(const SelectPlan& plan) : plan_(plan), session_(plan.pluginPath) {
        std::string why;
        if (!applyHostFaults(plan.hostFaults, session_, why)) throw simhost::DocumentError(why);
    }

    DocumentReport process(std::size_t index) override {
        const DocumentEntry& entry = plan_.documents[index];
        DocumentReport report;
        report.tallies.resize(plan_.commands.size());
        std::unique_ptr<OpenDocument> document;
        try {
            document = openDocument(entry.path);
        } catch (const std::exception& e) {
            return unreadableReport(plan_, entry.path, e.what());
        }
        // Refused before the commands run, as every other output option
        // is: a selection printed and then a failure would leave a script
        // holding half a result.
        if ((marks() || saves()) && !document->isDrawing()) {
            report.err = "simhost: " + entry.path + ": " + (marks() ? kNotADrawing : kNoDrawingToSave) + "\n";
            report.code = kBadInput;
            return report;
        }
        // The command's selection is one step of the editor's, as the
        // host's own menu command would be.
        std::unique_ptr<simhost::Editor> editor;
        if (plan_.edits() || saves()) {
            editor = std::make_unique<simhost::Editor>(*document);
            editor->beginOutside(plan_.commandTexts.front());
        }
        const std::vector<CommandRun> runs = runCommands(session_, *document, plan_.commands);
        if (editor) editor->endOutside();
        for (std::size_t c = 0; c < runs.size(); ++c) {
            const CommandRun& run = runs[c];
            report.tallies[c] = {run.selected.size(), run.selected.empty() ? 0u : 1u, run.result == kNoErr ? 0u : 1u};
            if (run.result == kNoErr) continue;
            report.code = std::max(report.code, kPluginError);
            report.err += "simhost: " + entry.path + ": \"" + run.command + "\" returned error " +
                          simhost::codeText(run.result) + " (" + std::to_string(run.result) + ")\n" + shownDialogs(run);
        }
        const bool toStdout = plan_.svgFile == "-" || plan_.saveFile == "-" || plan_.exportFile == "-";
        if (!toStdout) report.out = documentOutput(plan_, *document, entry.path, runs);
        markDocument(plan_, *document, entry, runs.front(), report);
        if (!editor) return report;
        try {
            const std::string fields = editDocument(plan_, *editor, runs.front().selected, entry, report);
            if (plan_.options.json) appendToLastLine(report.out, fields);
        } catch (const std::exception& e) {
            report.err += "simhost: " + entry.path + ": " + e.what() + "\n";
            report.code = std::max(report.code, kBadInput);
        }
        return report;
    }

    DocumentReport finish() override {
        DocumentReport report;
        std::vector<std::string> problems;
        const ASErr stopped = session_.shutdown(problems);
        for (const std::string& line : problems) report.err += "simhost: host: " + line + "\n";
        if (stopped != kNoErr || !problems.empty()) report.code = kPluginError;
        return report;
    }

private:
    bool saves() const { return !plan_.options.saveOut.empty() || !plan_.options.exportOut.empty(); }
    bool marks() const {
        return !plan_.svgFile.empty() || !plan_.pngFile.empty() || !plan_.svgDir.empty() || !plan_.pngDir.empty();
    }

    const SelectPlan& plan_;
    Session session_;
};

}  // namespace

ProcessorFactory selectProcessor(const SelectPlan& plan) {
    return [&plan]() -> std::unique_ptr<DocumentProcessor> {
        try {
            return std::make_unique<SelectProcessor>(plan);
        } catch (const SessionError& e) {
            DocumentReport report;
            for (const simhost::DialogRecord& dialog : e.dialogs) report.err += renderDialog(dialog);
            report.err += "simhost: " + e.message + "\n";
            report.code = e.exitCode;
            throw ProcessorFailure{std::move(report)};
        } catch (const std::exception& e) {
            DocumentReport report;
            report.err = "simhost: " + std::string(e.what()) + "\n";
            report.code = kBadInput;
            throw ProcessorFailure{std::move(report)};
        }
    };
}

DocumentReport lostDocument(const SelectPlan& plan, std::size_t index, const std::string& why) {
    const std::string& file = plan.documents[index].path;
    return unreadableReport(plan, file, file + ": the worker running it ended (" + why + ")");
}

void Summary::add(const DocumentReport& report) {
    if (report.tallies.size() != tallies_.size()) return;  // a session's own report
    ++documents_;
    if (report.unreadable) ++unreadable_;
    for (std::size_t c = 0; c < tallies_.size(); ++c) {
        tallies_[c].selected += report.tallies[c].selected;
        tallies_[c].withSelection += report.tallies[c].withSelection;
        tallies_[c].errors += report.tallies[c].errors;
    }
}

bool Summary::anySelected() const {
    return std::any_of(tallies_.begin(), tallies_.end(), [](const CommandTally& t) { return t.selected != 0; });
}

std::string Summary::text() const {
    std::string out = "Summary: " + counted(documents_, "document", "documents") + ", " +
                      std::to_string(documents_ - unreadable_) + " read, " + std::to_string(unreadable_) +
                      " unreadable";
    if (skipped_ != 0) out += "; " + counted(skipped_, "entry", "entries") + " skipped";
    out += "\n";
    for (std::size_t c = 0; c < tallies_.size(); ++c) {
        const CommandTally& t = tallies_[c];
        out += "  " + plan_.commandTexts[c] + ": " + counted(t.selected, "object", "objects") + " selected in " +
               counted(t.withSelection, "document", "documents");
        if (t.errors != 0) out += "; an error in " + counted(t.errors, "document", "documents");
        out += "\n";
    }
    return out;
}

std::string Summary::json() const {
    std::string commands;
    for (std::size_t c = 0; c < tallies_.size(); ++c) {
        const CommandTally& t = tallies_[c];
        commands += std::string(c == 0 ? "" : ", ") + "{\"command\": " + quoted(plan_.commandTexts[c]) +
                    ", \"selected\": " + std::to_string(t.selected) + ", \"documents\": " +
                    std::to_string(t.withSelection) + ", \"errors\": " + std::to_string(t.errors) + "}";
    }
    return "{\"summary\": {\"documents\": " + std::to_string(documents_) + ", \"read\": " +
           std::to_string(documents_ - unreadable_) + ", \"unreadable\": " + std::to_string(unreadable_) +
           ", \"skipped\": " + std::to_string(skipped_) + ", \"commands\": [" + commands + "]}}\n";
}

}  // namespace simhost_cli
