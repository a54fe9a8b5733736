#include "SelectCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>
#include <set>
#include <utility>

#include "CommandNames.h"
#include "Answers.h"
#include "Marking.h"
#include "WriteAll.h"

namespace simhost_cli {

namespace fs = std::filesystem;
using simhost::DocumentListing;
using simhost::SearchOptions;
using simhost::DocumentEntry;

int usageError(const std::string& message) {
    std::fprintf(stderr, "simhost: %s\nTry 'simhost --help'.\n", message.c_str());
    return kBadInput;
}

std::string errorCodeText(ASErr code) {
    const std::string name = simhost::codeText(code);
    return name == std::to_string(code) ? name : name + " (" + std::to_string(code) + ")";
}

namespace {

// The options only `select` takes.
const char* const kSelectOptions[] = {"--json", "--all", "--count", "--files-with-matches", "--summary",
                                      "--require-selection", "-o", "--png", "--png-dir", "--jobs", "--type",
                                      "--exclude", "--png-area", "--png-width", "--png-background", "--no-dim",
                                      "--delete", "--hide", "--lock", "--keep-only", "--save", "--export-selection"};

void addSelectOptions(CLI::App& app, SelectOptions& s, std::string& types) {
    app.add_flag("--json", s.json);
    app.add_flag("--all", s.all);
    app.add_flag("-c,--count", s.count);
    app.add_flag("-l,--files-with-matches", s.filesWithMatches);
    app.add_flag("--summary", s.summary);
    app.add_flag("--require-selection", s.requireSelection);
    app.add_option("-o", s.svgOut);
    app.add_option("--png", s.pngOut);
    app.add_option("--png-dir", s.pngDir);
    app.add_option_function<std::string>("--png-area", [&s](const std::string& area) {
        if (!simhost::parsePictureArea(area, s.picture.area))
            throw CLI::ValidationError("--png-area", "\"" + area + "\" is none of page, drawing, selection");
    });
    app.add_option("--png-width", s.picture.width)->check(CLI::Range(16, 16384));
    app.add_option("--png-background", s.picture.background);
    app.add_flag("--no-dim{false}", s.picture.dim);
    app.add_option("-j,--jobs", s.jobs)->check(CLI::Range(1u, 1024u));
    app.add_option("--type", types);
    app.add_option("--exclude", s.excludes)->allow_extra_args(false);
    for (const auto& [name, edit] : {std::pair("--delete", &SelectOptions::remove), std::pair("--hide", &SelectOptions::hide),
                                     std::pair("--lock", &SelectOptions::lock), std::pair("--keep-only", &SelectOptions::keepOnly)})
        app.add_flag(name, s.*edit);
    app.add_option("--save", s.saveOut);
    app.add_option("--export-selection", s.exportOut);
}

// Names the first argument CLI11 left over: an unknown option, an unknown
// subcommand, or an argument a subcommand does not take.
std::string leftOver(const std::vector<std::string>& remaining, const CLI::App* subcommand) {
    const std::string& first = remaining.front();
    if (first.size() > 1 && first[0] == '-') return "unknown option " + first;
    if (subcommand != nullptr) return subcommand->get_name() + " takes no argument \"" + first + "\"";
    return "unknown subcommand \"" + first + "\"";
}

std::string splitTypes(const std::string& list, SelectOptions& s) {
    if (list.empty()) return {};
    s.types.clear();
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string type = list.substr(start, end - start);
        if (type != "svg" && type != "json") return "--type takes svg, json or svg,json, not \"" + type + "\"";
        s.types.push_back(type);
        start = end + 1;
    }
    return {};
}

}  // namespace

namespace {

const std::pair<const char*, Subcommand> kSubcommands[] = {{"select", Subcommand::kSelect}, {"menus", Subcommand::kMenus},
                                                           {"about", Subcommand::kAbout}, {"help", Subcommand::kHelp},
                                                           {"version", Subcommand::kVersion}};

}  // namespace

void addCommandLineOptions(CLI::App& app, ParsedCommandLine& parsed, std::string& pluginPath) {
    app.set_help_flag();  // the help texts are simhost's own
    app.add_flag("-h,--help", parsed.help);
    app.add_flag("-V,--version", parsed.version);
    app.add_option("--plugin", pluginPath);
    app.add_option("--host-fault", parsed.global.hostFaults)->allow_extra_args(false);
    addSelectOptions(app, parsed.select, parsed.types);
    for (const auto& [name, kind] : kSubcommands) app.add_subcommand(name)->fallthrough();
    app.get_subcommand("select")->add_option("FILE-or-COMMAND", parsed.select.positional);
    app.allow_extras();
}

std::string checkCommandLine(const CLI::App& app, ParsedCommandLine& parsed) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (!app.remaining().empty()) return leftOver(app.remaining(), chosen.empty() ? nullptr : chosen.front());
    for (const auto& [name, kind] : kSubcommands)
        if (app.got_subcommand(name)) parsed.subcommand = kind;
    if (parsed.help) {
        parsed.helpFor = parsed.subcommand;
        parsed.subcommand = Subcommand::kHelp;
    } else if (parsed.version) {
        parsed.subcommand = Subcommand::kVersion;
    }
    if (parsed.subcommand != Subcommand::kSelect)
        for (const char* option : kSelectOptions) {
            if (parsed.subcommand == Subcommand::kMenus && std::strcmp(option, "--json") == 0) continue;
            if (app.get_option(option)->count() != 0) return std::string(option) + " is an option of select";
        }
    return splitTypes(parsed.types, parsed.select);
}

namespace {

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Which positional argument is the command; refuses the orders a user may
// mean something else by, before any work.
std::string takeCommand(SelectOptions& o, const std::vector<std::string>& texts, std::string& command) {
    auto& args = o.positional;
    if (args.size() < (o.all ? 1u : 2u)) return o.all ? "select --all needs a FILE" : "select needs a FILE and a COMMAND";
    const std::string& last = args.back();
    if (o.all) {
        if (matchCommand(texts, last) && !exists(last))
            return "select --all runs every command, so \"" + last + "\" is no FILE: drop it or drop --all";
        return {};
    }
    if (!matchCommand(texts, last)) {
        if (matchCommand(texts, args.front()) && !exists(args.front()))
            return "the COMMAND comes after the files: simhost select FILE... \"" + args.front() + "\"";
        if (exists(last)) return "select needs a COMMAND after the files (\"" + last + "\" is a file)";
        std::string message = "unknown command \"" + last + "\"";
        const std::vector<std::string> near = closestCommands(texts, last);
        const std::vector<std::string>& listed = near.empty() ? texts : near;
        message += near.empty() ? "; the commands are:" : "; did you mean:";
        for (const std::string& text : listed) message += "\n  " + text;
        return message;
    }
    command = last;
    args.pop_back();
    return {};
}

bool isDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

std::string parentOf(const std::string& path) {
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

// Where one drawing of `option` goes: `value` names a file, or with a
// directory one file per document; "-" is standard output, for one
// document printing nothing else.
std::string placeOutput(const SelectPlan& plan, const std::string& option, const std::string& value, std::string& file,
                        std::string& dir) {
    const SelectOptions& o = plan.options;
    if (value.empty()) return {};
    if (value == "-") {
        if (o.json || o.count || o.filesWithMatches || plan.batch)
            return option + " - writes one drawing to standard output, alone";
        file = value;
    } else if (isDirectory(value)) {
        dir = value;
    } else if (plan.batch) {
        return option + " " + value + ": no such directory (a batch writes one file per document there)";
    } else if (!isDirectory(parentOf(value))) {
        return option + " " + value + ": no directory " + parentOf(value);
    } else {
        file = value;
    }
    return {};
}

// Where the marked drawings go, checked before any work.
std::string planOutputs(SelectPlan& plan) {
    const SelectOptions& o = plan.options;
    const bool marking = !o.svgOut.empty() || !o.pngOut.empty() || !o.pngDir.empty();
    if (!marking) return {};
    if (o.all) return "-o, --png and --png-dir mark one command's selection, not --all";
    if (!o.pngOut.empty() && plan.batch) return "--png writes one picture; a batch takes --png-dir DIR";
    if (std::string why = placeOutput(plan, "-o", o.svgOut, plan.svgFile, plan.svgDir); !why.empty()) return why;
    if (!o.pngOut.empty() && !isDirectory(parentOf(o.pngOut))) return "--png " + o.pngOut + ": no directory " + parentOf(o.pngOut);
    plan.pngFile = o.pngOut;
    if (!o.pngDir.empty() && !isDirectory(o.pngDir)) return "--png-dir " + o.pngDir + ": no such directory";
    plan.pngDir = o.pngDir;
    if ((!o.pngOut.empty() || !o.pngDir.empty()) && !programOnPath("rsvg-convert"))
        return "--png needs rsvg-convert, which is not on PATH (Debian package librsvg2-bin)";
    return {};
}

// The edits and where their drawings go, checked before any work. A
// deletion excludes every other edit: hiding or locking what is gone, or
// deleting what was just kept, says nothing one edit does not.
std::string planEdits(SelectPlan& plan) {
    const SelectOptions& o = plan.options;
    if (!plan.edits() && o.saveOut.empty() && o.exportOut.empty()) return {};
    if (o.all) return "--delete, --hide, --lock, --keep-only, --save and --export-selection act on one command's selection, not --all";
    if (o.remove && (o.keepOnly || o.hide || o.lock)) return "--delete is an edit of its own: not with --keep-only, --hide or --lock";
    if (o.keepOnly && (o.hide || o.lock)) return "--keep-only is an edit of its own: not with --hide or --lock";
    if ((o.svgOut == "-") + (o.saveOut == "-") + (o.exportOut == "-") > 1)
        return "one drawing at most goes to standard output: -o, --save and --export-selection take one \"-\"";
    if (std::string why = placeOutput(plan, "--save", o.saveOut, plan.saveFile, plan.saveDir); !why.empty()) return why;
    return placeOutput(plan, "--export-selection", o.exportOut, plan.exportFile, plan.exportDir);
}

// No output may be an input, and no two documents, nor two options, may
// share an output.
std::string checkOutputsAgainstInputs(const SelectPlan& plan) {
    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const DocumentEntry& entry : plan.documents) {
        struct stat st {};
        if (stat(entry.path.c_str(), &st) == 0) inputs.insert({st.st_dev, st.st_ino});
    }
    auto isInput = [&inputs](const std::string& path) {
        struct stat st {};
        return !path.empty() && stat(path.c_str(), &st) == 0 && inputs.count({st.st_dev, st.st_ino}) != 0;
    };
    std::map<std::string, std::string> outputs;  // path -> the option writing it
    auto claim = [&](const std::string& path, const char* option) -> std::string {
        if (path.empty() || path == "-") return {};
        if (isInput(path)) return "refusing to overwrite the input " + path;
        const auto [at, fresh] = outputs.emplace(fs::path(path).lexically_normal().string(), option);
        if (fresh) return {};
        if (at->second == option) return "two documents would be written to " + path;
        return at->second + " and " + option + " would both write " + path;
    };
    const std::pair<const std::string&, const char*> files[] = {
        {plan.svgFile, "-o"}, {plan.pngFile, "--png"}, {plan.saveFile, "--save"}, {plan.exportFile, "--export-selection"}};
    for (const auto& [path, option] : files)
        if (std::string why = claim(path, option); !why.empty()) return why;
    const std::tuple<const std::string&, const char*, const char*> dirs[] = {{plan.svgDir, ".svg", "-o"},
                                                                            {plan.pngDir, ".png", "--png-dir"},
                                                                            {plan.saveDir, ".svg", "--save"},
                                                                            {plan.exportDir, ".svg", "--export-selection"}};
    for (const DocumentEntry& entry : plan.documents)
        for (const auto& [dir, extension, option] : dirs)
            if (!dir.empty())
                if (std::string why = claim(outputPathIn(dir, entry, extension), option); !why.empty()) return why;
    return {};
}

// Standard output and standard error for the results: a failed write is
// remembered, and the progress line (on a terminal only) is cleared before
// anything else is printed.
class Console {
public:
    explicit Console(bool progress) : progress_(progress) {}
    bool failed() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }

    void error(const std::string& text) {
        clearProgress();
        simhost_app::writeAll(STDERR_FILENO, text);
    }
    bool out(const std::string& text) {
        clearProgress();
        if (!failed() && !simhost_app::writeAll(STDOUT_FILENO, text)) failure_ = std::strerror(errno);
        return !failed();
    }
    void progress(std::size_t done, std::size_t total) {
        if (!progress_ || done >= total) return;
        const std::string line = "\r\033[K[" + std::to_string(done) + "/" + std::to_string(total) + "] documents";
        simhost_app::writeAll(STDERR_FILENO, line);
        shown_ = true;
    }
    void clearProgress() {
        if (shown_) simhost_app::writeAll(STDERR_FILENO, "\r\033[K");
        shown_ = false;
    }

private:
    bool progress_;
    bool shown_ = false;
    std::string failure_;
};

// What the plug-in's menu says the commands are, checked against the
// arguments, with the documents listed and the outputs planned.
std::string makePlan(const GlobalOptions& global, SelectPlan& plan, Console& console, std::size_t& skipped) {
    SelectOptions& o = plan.options;
    if (o.filesWithMatches && (o.json || o.count)) return "-l prints file names only: not with --json or --count";
    plan.pluginPath = global.pluginPath;
    plan.hostFaults = global.hostFaults;
    std::string command;
    {
        Session session(global.pluginPath);
        const std::vector<std::string>& texts = session.commands();
        if (std::string why = takeCommand(o, texts, command); !why.empty()) return why;
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (o.all || i == *matchCommand(texts, command)) plan.commands.push_back(i);
        for (const std::size_t i : plan.commands) plan.commandTexts.push_back(texts[i]);
        if (std::string why; !applyHostFaults(global.hostFaults, session, why)) return why;
    }
    SearchOptions search;
    search.svg = std::find(o.types.begin(), o.types.end(), "svg") != o.types.end();
    search.json = std::find(o.types.begin(), o.types.end(), "json") != o.types.end();
    search.excludes = o.excludes;
    DocumentListing listing = documentFiles(o.positional, search);
    for (const std::string& problem : listing.problems) console.error("simhost: " + problem + "\n");
    skipped = listing.problems.size();
    plan.documents = std::move(listing.documents);
    if (plan.documents.empty() && skipped == 0) {
        std::string kinds = search.svg ? ".svg or .svgz" : "";
        if (search.json) kinds += kinds.empty() ? ".json" : " or .json";
        return "no " + kinds + " documents found";
    }
    plan.batch = o.positional.size() > 1 || plan.documents.size() != 1 ||
                 plan.documents.front().path != o.positional.front();
    if (std::string why = planOutputs(plan); !why.empty()) return why;
    if (std::string why = planEdits(plan); !why.empty()) return why;
    return checkOutputsAgainstInputs(plan);
}

unsigned defaultJobs() {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? static_cast<unsigned>(cores) : 1;
}

}  // namespace

int runSelect(const GlobalOptions& global, SelectOptions options) {
    SelectPlan plan;
    plan.options = std::move(options);
    Console console(false);
    std::size_t skipped = 0;
    if (std::string why = makePlan(global, plan, console, skipped); !why.empty()) return usageError(why);
    if (plan.edits() && plan.options.saveOut.empty())
        console.error("simhost: the edit is not written anywhere: add --save OUT.svg (or DIR, or - for stdout)\n");
    Console results(plan.batch && isatty(STDERR_FILENO));
    Summary summary(plan);
    summary.skipped(skipped);
    int code = skipped == 0 ? kOk : kBadInput;
    std::size_t delivered = 0;
    RunCallbacks callbacks;
    callbacks.deliver = [&](DocumentReport& report) {
        results.error(report.err);
        if (!results.out(report.out)) return false;
        summary.add(report);
        code = std::max(code, report.code);
        if (report.tallies.size() == plan.commands.size()) results.progress(++delivered, plan.documents.size());
        return true;
    };
    callbacks.lost = [&plan](std::size_t index, const std::string& why) { return lostDocument(plan, index, why); };
    const unsigned jobs = plan.options.jobs == 0 ? defaultJobs() : plan.options.jobs;
    const bool finished = runDocuments(plan.documents.size(), jobs, selectProcessor(plan), callbacks);
    results.clearProgress();
    if (finished && plan.options.summary) results.out(plan.options.json ? summary.json() : summary.text());
    if (results.failed()) {
        results.error("simhost: cannot write the output: " + results.failure() + "\n");
        return kBadInput;
    }
    if (!finished) return std::max(code, kBadInput);
    if (plan.options.requireSelection && !summary.anySelected()) code = std::max(code, kPluginError);
    return code;
}

}  // namespace simhost_cli
