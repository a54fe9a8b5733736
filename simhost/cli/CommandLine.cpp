#include "CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MenusJson.h"
#include "Report.h"
#include "SelectCommand.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Menus.h"

namespace simhost_cli {

namespace {

using simhost::OpenDocument;
using simhost::openSample;
using simhost::sampleName;

const char* const kUsage =
    "usage: simhost [OPTIONS] [SUBCOMMAND ...]\n"
    "\n"
    "  simhost                           run every command on the built-in sample drawing\n"
    "  simhost select FILE... COMMAND    run one command; print the ids of what it selected\n"
    "  simhost select FILE... --all      run every command, one row each\n"
    "  simhost select FILE... COMMAND --delete|--hide|--lock|--keep-only --save OUT.svg\n"
    "                                    edit what the command selected and save the drawing\n"
    "  simhost menus [--json]            the menus the plug-in installed\n"
    "  simhost serve [FILE...] [--port N] [--bind ADDR] [--max-upload BYTES]\n"
    "                                    the host in a browser (default http://127.0.0.1:8731/)\n"
    "  simhost about                     the plug-in's About dialog\n"
    "  simhost validate [OPTIONS]        check a plug-in against the host interface\n"
    "                                    (simhost validate --help)\n"
    "  simhost help | version\n"
    "\n"
    "SUBCOMMAND -h tells more of each.\n"
    "\n"
    "options:\n"
    "  --plugin PATH        load this build of the plug-in (default: plugins/ beside simhost)\n"
    "  --host-fault OP      make the host fail every call of operation OP (e.g. get-path-style)\n"
    "                       while commands run, to see how the plug-in reports it (repeatable)\n"
    "  -h, --help           this text\n"
    "  -V, --version        simhost's version\n"
    "\n"
    "exit status: 0 success; 1 the plug-in returned an error code (its error dialog is\n"
    "printed to stderr), or with --require-selection nothing was selected; 2 bad usage,\n"
    "an unreadable document or directory entry, or a failed write (a full disk, a closed\n"
    "pipe). The worst of all documents counts.\n";

const char* const kSelectUsage =
    "usage: simhost select FILE... COMMAND [OPTIONS]\n"
    "       simhost select FILE... COMMAND --delete|--hide|--lock|--keep-only --save OUT.svg|DIR|-\n"
    "       simhost select FILE... --all [OPTIONS]\n"
    "\n"
    "Runs one command (or every command) on each document and prints what it selected.\n"
    "\n"
    "COMMAND is a menu text of the plug-in, ignoring case, spaces, hyphens and underscores\n"
    "(\"All Paths\", open-paths, OpenPaths). FILE is an SVG drawing (.svg, .svgz) or a JSON\n"
    "document (.json); a directory is searched, with its subdirectories, for .svg and .svgz\n"
    "files (see --type). Options may come before or after the subcommand, as --opt VALUE or\n"
    "--opt=VALUE; -- ends the options.\n"
    "\n"
    "options:\n"
    "  --json               print JSON Lines: one object per document and command, one\n"
    "                       {\"file\", \"error\"} per unreadable document\n"
    "  --all                run every command (18 results per document)\n"
    "  -c, --count          print only how many objects each command selected\n"
    "  -l, --files-with-matches\n"
    "                       print only the documents where a command selected something\n"
    "  --summary            end with a summary (counts per command)\n"
    "  --require-selection  exit 1 when no command selected anything, as grep does\n"
    "  -o OUT.svg | DIR | - write the drawing with an outline over each selected object;\n"
    "                       a batch writes one file per document into DIR; - is stdout\n"
    "  --png OUT.png        a picture of the selection: outlines, bounding boxes, the rest\n"
    "                       dimmed (one document; rsvg-convert)\n"
    "  --png-area page|drawing|selection\n"
    "                       what the picture shows (default: drawing)\n"
    "  --png-width N        the picture's width in pixels (default: 1024)\n"
    "  --png-background COLOR\n"
    "                       a CSS colour, or none (default: white)\n"
    "  --no-dim             do not dim what is not selected\n"
    "  --png-dir DIR        render one PNG per document into DIR\n"
    "\n"
    "edits of the command's selection (one command; the input is never written):\n"
    "  --delete             remove the selected objects\n"
    "  --keep-only          remove every other object the host's Select All would select\n"
    "  --hide               hide them (display:none in their style)\n"
    "  --lock               lock them (sodipodi:insensitive=\"true\"); --hide --lock do both\n"
    "                       --delete and --keep-only each go alone\n"
    "  --save OUT.svg | DIR | -\n"
    "                       write the drawing with the edits (no outlines); without an\n"
    "                       edit, the drawing as read; a batch writes one file per document\n"
    "                       into DIR; without --save an edit writes nothing\n"
    "  --export-selection OUT.svg | DIR | -\n"
    "                       write a drawing of the selection alone, as the command left it\n"
    "  -j, --jobs N         documents run in N worker processes, output in input order\n"
    "                       (default: one per core)\n"
    "  --type svg,json      the documents a directory is searched for (default svg)\n"
    "  --exclude GLOB       leave out names found in a directory that match (repeatable)\n"
    "\n"
    "  --plugin PATH        load this build of the plug-in (default: plugins/ beside simhost)\n"
    "  --host-fault OP      make the host fail every call of operation OP (repeatable)\n";

const char* const kMenusUsage =
    "usage: simhost menus [--json] [--plugin PATH]\n"
    "\n"
    "The menus the plug-in installed, as a tree, or with --json as JSON (GET /api/menus answers the same).\n";

const char* const kAboutUsage =
    "usage: simhost about [--plugin PATH]\n"
    "\n"
    "Chooses the plug-in's About item and prints the dialog it shows.\n";

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Ends the session and folds what the host noticed into the exit code.
int finish(Session& session, int code) {
    std::vector<std::string> problems;
    const ASErr stopped = session.shutdown(problems);
    for (const std::string& line : problems) std::fprintf(stderr, "simhost: host: %s\n", line.c_str());
    if (stopped != kNoErr || !problems.empty()) return std::max(code, kPluginError);
    return code;
}

int runMenus(const GlobalOptions& cli, bool json) {
    Session session(cli.pluginPath);
    // The session's plug-in is the first the host loaded.
    print(json ? simhost_app::menusJson(session.host().menus(), 0) + "\n" : session.menuTree());
    return finish(session, kOk);
}

int runAbout(const GlobalOptions& cli) {
    Session session(cli.pluginPath);
    const auto dialogs = session.about();
    for (const simhost::DialogRecord& dialog : dialogs) print(renderDialog(dialog));
    if (dialogs.empty()) {
        std::fprintf(stderr, "simhost: the plug-in showed no About dialog\n");
        return finish(session, kPluginError);
    }
    return finish(session, kOk);
}

// No subcommand: every command on the built-in sample drawing.
int runDemo(const GlobalOptions& cli) {
    Session session(cli.pluginPath);
    std::printf("Wendlow Brindle, loaded from %s\n\nThe menus it installed:\n", cli.pluginPath.c_str());
    print(session.menuTree());
    std::unique_ptr<OpenDocument> sample = openSample();
    const simhost::Document& doc = sample->document();
    std::printf("\nThe sample drawing %s: %zu objects on %zu layers\n\n", sampleName(), doc.artCount() - doc.layerCount(),
                doc.layerCount());
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < session.commands().size(); ++i) all.push_back(i);
    std::string why;
    if (!applyHostFaults(cli.hostFaults, session, why)) {
        std::fprintf(stderr, "simhost: %s\n", why.c_str());
        return finish(session, kBadInput);
    }
    const std::vector<CommandRun> runs = runCommands(session, *sample, all);
    print(commandTable(*sample, runs));
    int code = kOk;
    for (const CommandRun& run : runs) {
        if (run.result == kNoErr) continue;
        code = kPluginError;
        std::fprintf(stderr, "simhost: \"%s\" returned error %s\n", run.command.c_str(), errorCodeText(run.result).c_str());
        for (const simhost::DialogRecord& dialog : run.dialogs) std::fputs(renderDialog(dialog).c_str(), stderr);
        for (const std::string& alert : run.alerts) std::fprintf(stderr, "simhost: alert: %s\n", alert.c_str());
    }
    return finish(session, code);
}

const char* usageOf(Subcommand subcommand) {
    switch (subcommand) {
        case Subcommand::kSelect: return kSelectUsage;
        case Subcommand::kMenus: return kMenusUsage;
        case Subcommand::kAbout: return kAboutUsage;
        default: return kUsage;
    }
}

int runParsed(const ParsedCommandLine& parsed) {
    switch (parsed.subcommand) {
        case Subcommand::kHelp: std::fputs(usageOf(parsed.helpFor), stdout); return kOk;
        case Subcommand::kVersion: std::printf("simhost %s\n", WENDLOW_VERSION); return kOk;
        case Subcommand::kDemo: return runDemo(parsed.global);
        case Subcommand::kMenus: return runMenus(parsed.global, parsed.select.json);
        case Subcommand::kAbout: return runAbout(parsed.global);
        case Subcommand::kSelect: return runSelect(parsed.global, parsed.select);
    }
    return kBadInput;
}

// What the plug-in or a document refused, said once for every subcommand.
int runReported(const ParsedCommandLine& parsed) {
    int code = kBadInput;
    try {
        code = runParsed(parsed);
    } catch (const SessionError& e) {
        for (const simhost::DialogRecord& dialog : e.dialogs) std::fputs(renderDialog(dialog).c_str(), stderr);
        std::fprintf(stderr, "simhost: %s\n", e.message.c_str());
        return e.exitCode;
    } catch (const simhost::DocumentError& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return kBadInput;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "simhost: out of memory\n");
        return kBadInput;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "simhost: cannot write the output: %s\n", std::strerror(errno));
        return kBadInput;
    }
    return code;
}

}  // namespace

void addCommandLine(CLI::App& app, simhost_app::Invocation& invocation) {
    auto parsed = std::make_shared<ParsedCommandLine>();
    invocation.held.push_back(parsed);
    addCommandLineOptions(app, *parsed, invocation.pluginPath);
    invocation.usageError = usageError;
    invocation.run = [&app, &invocation, parsed] {
        parsed->global.pluginPath = invocation.pluginPath;
        if (const std::string why = checkCommandLine(app, *parsed); !why.empty()) return usageError(why);
        return runReported(*parsed);
    };
}

}  // namespace simhost_cli
