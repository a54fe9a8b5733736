#include "Batch.h"

#include <algorithm>
#include <filesystem>

#include "Answers.h"
#include "Marking.h"
#include "Report.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"

namespace simhost_cli {

using simhost::ArtIndex;
using simhost::OpenDocument;
using simhost::DocumentEntry;
using simhost::kNotADrawing;
using simhost::openDocument;

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

// -o, --png, --png-dir for one document.
void markDocument(const SelectPlan& plan, OpenDocument& document, const DocumentEntry& entry, const CommandRun& run,
                  DocumentReport& report) {
    std::string svg = plan.svgFile, png = plan.pngFile;
    if (!plan.svgDir.empty()) svg = outputPathIn(plan.svgDir, entry, ".svg");
    if (!plan.pngDir.empty()) png = outputPathIn(plan.pngDir, entry, ".png");
    if (svg.empty() && png.empty()) return;
    std::error_code ignored;
    for (const std::string& path : {svg, png})
        if (!path.empty() && path != "-") std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const std::string failure = writeMarked(document, run.selected, svg, png, plan.options.picture);
    if (failure.empty()) return;
    report.err += "simhost: " + entry.path + ": " + failure + "\n";
    report.code = std::max(report.code, kBadInput);
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
        if (marks() && !document->isDrawing()) {
            report.err = "simhost: " + entry.path + ": " + kNotADrawing + "\n";
            report.code = kBadInput;
            return report;
        }
        const std::vector<CommandRun> runs = runCommands(session_, *document, plan_.commands);
        for (std::size_t c = 0; c < runs.size(); ++c) {
            const CommandRun& run = runs[c];
            report.tallies[c] = {run.selected.size(), run.selected.empty() ? 0u : 1u, run.result == kNoErr ? 0u : 1u};
            if (run.result == kNoErr) continue;
            report.code = std::max(report.code, kPluginError);
            report.err += "simhost: " + entry.path + ": \"" + run.command + "\" returned error " +
                          simhost::codeText(run.result) + " (" + std::to_string(run.result) + ")\n" + shownDialogs(run);
        }
        const bool toStdout = plan_.svgFile == "-";
        if (!toStdout) report.out = documentOutput(plan_, *document, entry.path, runs);
        markDocument(plan_, *document, entry, runs.front(), report);
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
