// simhost: the stand-in host's command line. Loads the plug-in, opens
// drawings and runs the plug-in's commands on them through its menu.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Documents.h"
#include "MenusJson.h"
#include "Report.h"
#include "Session.h"
#include "ValidateCommand.h"
#if WENDLOW_BUILD_SERVE
#include "Serve.h"
#endif

extern char** environ;

namespace {

using namespace simhost_cli;
using simhost::ArtIndex;
using simhost::DocumentError;

// Exit codes.
constexpr int kOk = 0;
constexpr int kPluginError = 1;  // the plug-in returned an error code
constexpr int kBadInput = 2;     // bad usage or an unreadable document

const char* const kUsage =
    "usage: simhost [--plugin PATH] [SUBCOMMAND ...]\n"
    "\n"
    "  simhost                           run every command on the built-in sample drawing\n"
    "  simhost select FILE... COMMAND    run one command; print the ids of what it selected\n"
    "  simhost select FILE... --all      run every command, one row each\n"
    "  simhost menus [--json]            the menus the plug-in installed\n"
    "  simhost serve [FILE...] [--port N] [--bind ADDR] [--max-upload BYTES]\n"
    "                                    a web page for the plug-in (see the README)\n"
    "  simhost about                     the plug-in's About dialog\n"
    "  simhost validate [OPTIONS]        check a plug-in against the host interface\n"
    "                                    (simhost validate --help)\n"
    "\n"
    "COMMAND is a menu text of the plug-in (\"All Paths\", \"open paths\", ...), any case.\n"
    "FILE is an SVG drawing (.svg, .svgz) or a JSON document (.json); a directory is\n"
    "searched for them. Several files give one result each and a summary.\n"
    "\n"
    "select options:\n"
    "  --json           print JSON instead of text\n"
    "  -o OUT.svg       write the drawing with an outline over each selected object\n"
    "  --png OUT.png    render that drawing to PNG with rsvg-convert\n"
    "\n"
    "options:\n"
    "  --plugin PATH    load this build of the plug-in (default: plugins/ beside simhost)\n"
    "  --host-fault OP  make the host fail every call of operation OP (e.g. get-path-style)\n"
    "                   while commands run, to see how the plug-in reports it\n"
    "  --help, --version\n"
    "\n"
    "exit status: 0 success, 1 the plug-in returned an error code (its error dialog is\n"
    "printed to stderr), 2 bad usage or an unreadable document.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "simhost: %s\nTry 'simhost --help'.\n", message.c_str());
    return kBadInput;
}

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// An error code as the host's people write it: four characters when it is
// made of four printable ones, with its number.
std::string codeText(ASErr code) {
    std::string chars;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((static_cast<std::uint32_t>(code) >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::to_string(code);
        chars += static_cast<char>(c);
    }
    return "'" + chars + "' (" + std::to_string(code) + ")";
}

struct Cli {
    std::string pluginPath = simhost::shippedPluginPath();
    std::vector<std::string> hostFaults;
};

// Shows what the plug-in showed while a command ran: its dialogs and
// alerts, on stderr.
void showDialogs(const CommandRun& run) {
    for (const simhost::DialogRecord& dialog : run.dialogs) std::fputs(renderDialog(dialog).c_str(), stderr);
    for (const std::string& alert : run.alerts) std::fprintf(stderr, "simhost: alert: %s\n", alert.c_str());
}

// Ends the session and folds what the host noticed into the exit code.
int finish(Session& session, int code) {
    std::vector<std::string> problems;
    const ASErr stopped = session.shutdown(problems);
    for (const std::string& line : problems) std::fprintf(stderr, "simhost: host: %s\n", line.c_str());
    if (stopped != kNoErr || !problems.empty()) return std::max(code, kPluginError);
    return code;
}

bool applyHostFaults(const Cli& cli, Session& session) {
    for (const std::string& name : cli.hostFaults) {
        const auto op = simhost::opNamed(name);
        if (!op) {
            usageError("unknown host operation \"" + name + "\"");
            return false;
        }
        session.host().gate().addRule(simhost::FaultRule::failEvery(*op));
    }
    return true;
}

// Runs `commands` on one open document; a single command works on the
// document itself, several each on a fresh copy of it, as a selected guide
// survives any command and would leak into the next.
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

std::string runsJson(OpenDocument& document, const std::string& file, const std::vector<CommandRun>& runs, bool all) {
    if (!all) {
        const CommandRun& run = runs.front();
        return "{\"file\": " + quoted(file) + ", \"command\": " + quoted(run.command) +
               ", \"result\": " + std::to_string(run.result) + ", \"selected\": " + selectedJson(document, run.selected) +
               ", \"dialogs\": " + dialogsJson(run.dialogs) + "}";
    }
    std::string out = "{\"file\": " + quoted(file) + ", \"commands\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"command\": " + quoted(runs[i].command) + ", \"result\": " + std::to_string(runs[i].result) +
               ", \"selected\": " + selectedJson(document, runs[i].selected) +
               ", \"dialogs\": " + dialogsJson(runs[i].dialogs) + "}";
    }
    return out + "]}";
}

bool writeFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

// Runs rsvg-convert on `svg`; empty on success, else what went wrong.
std::string renderPng(const std::string& svg, const std::string& png) {
    std::vector<std::string> args = {"rsvg-convert", "--width", "1024", "--keep-aspect-ratio", "-o", png, svg};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "rsvg-convert", nullptr, nullptr, argv.data(), environ);
    if (spawned != 0)
        return "cannot run rsvg-convert (" + std::string(std::strerror(spawned)) + "; Debian package librsvg2-bin)";
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "rsvg-convert could not render " + svg;
    return {};
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// -o and --png: the drawing with its selection outlined.
int writeMarked(OpenDocument& document, const std::vector<ArtIndex>& selected, const std::string& svgOut,
                const std::string& pngOut) {
    std::string text;
    try {
        text = document.marked(selected);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return kBadInput;
    }
    std::string svgPath = svgOut;
    if (svgPath.empty()) {
        char temp[] = "/tmp/simhost-XXXXXX.svg";
        const int fd = mkstemps(temp, 4);
        if (fd < 0) {
            std::fprintf(stderr, "simhost: cannot make a temporary file: %s\n", std::strerror(errno));
            return kBadInput;
        }
        close(fd);
        svgPath = temp;
    }
    int code = kOk;
    if (!writeFile(svgPath, text)) {
        std::fprintf(stderr, "simhost: cannot write %s: %s\n", svgPath.c_str(), std::strerror(errno));
        code = kBadInput;
    } else if (!pngOut.empty()) {
        const std::string failure = renderPng(svgPath, pngOut);
        if (!failure.empty()) {
            std::fprintf(stderr, "simhost: %s\n", failure.c_str());
            code = kBadInput;
        }
    }
    if (svgOut.empty()) std::remove(svgPath.c_str());
    return code;
}

struct SelectOptions {
    bool json = false;
    bool all = false;
    std::string svgOut, pngOut;
    std::vector<std::string> positional;
};

int runSelect(const Cli& cli, const std::vector<std::string>& args) {
    SelectOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") o.json = true;
        else if (a == "--all") o.all = true;
        else if ((a == "-o" || a == "--png") && i + 1 < args.size()) (a == "-o" ? o.svgOut : o.pngOut) = args[++i];
        else if (a == "-o" || a == "--png") return usageError(a + " needs a file name");
        else if (a.size() > 1 && a[0] == '-') return usageError("unknown option " + a);
        else o.positional.push_back(a);
    }
    if (o.positional.size() < (o.all ? 1u : 2u))
        return usageError(o.all ? "select --all needs a FILE" : "select needs a FILE and a COMMAND");
    std::string commandName;
    if (!o.all) {
        commandName = o.positional.back();
        o.positional.pop_back();
    }
    std::vector<std::string> files;
    try {
        files = documentFiles(o.positional);
    } catch (const DocumentError& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return kBadInput;
    }
    if (files.empty()) return usageError("no .svg, .svgz or .json documents found");
    const bool batch = o.positional.size() > 1 || files.size() != 1 || files.front() != o.positional.front();
    const bool marking = !o.svgOut.empty() || !o.pngOut.empty();
    if (marking && (batch || o.all)) return usageError("-o and --png take one FILE and one COMMAND");
    for (const std::string& out : {o.svgOut, o.pngOut})
        if (!out.empty() && sameFile(out, files.front())) return usageError("refusing to overwrite the input " + out);

    Session session(cli.pluginPath);
    std::vector<std::size_t> commands;
    if (o.all) {
        for (std::size_t i = 0; i < session.commands().size(); ++i) commands.push_back(i);
    } else if (const auto index = session.commandNamed(commandName)) {
        commands.push_back(*index);
    } else {
        std::string valid;
        for (const std::string& text : session.commands()) valid += "\n  " + text;
        usageError("unknown command \"" + commandName + "\"; the commands are:" + valid);
        return finish(session, kBadInput);
    }
    if (!applyHostFaults(cli, session)) return finish(session, kBadInput);

    const bool progress = batch && isatty(STDERR_FILENO);
    int code = kOk;
    std::size_t unreadable = 0, failed = 0, selectedTotal = 0;
    std::string jsonResults;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::string& file = files[f];
        if (progress) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", f + 1, files.size(), file.c_str());
        std::unique_ptr<OpenDocument> document;
        try {
            document = openDocument(file);
        } catch (const std::exception& e) {
            ++unreadable;
            code = kBadInput;
            if (progress) std::fputs("\r\033[K", stderr);
            std::fprintf(stderr, "simhost: %s\n", e.what());
            if (o.json && batch)
                jsonResults += (jsonResults.empty() ? "\n  " : ",\n  ") + std::string("{\"file\": ") + quoted(file) +
                               ", \"error\": " + quoted(e.what()) + "}";
            else if (batch)
                print("== " + file + ": unreadable\n");
            continue;
        }
        const std::vector<CommandRun> runs = runCommands(session, *document, commands);
        for (const CommandRun& run : runs) {
            selectedTotal += run.selected.size();
            if (run.result != kNoErr) {
                ++failed;
                if (code == kOk) code = kPluginError;
                if (progress) std::fputs("\r\033[K", stderr);
                std::fprintf(stderr, "simhost: %s: \"%s\" returned error %s\n", file.c_str(), run.command.c_str(),
                             codeText(run.result).c_str());
                showDialogs(run);
            }
        }
        if (o.json) {
            const std::string result = runsJson(*document, file, runs, o.all);
            if (batch) jsonResults += (jsonResults.empty() ? "\n  " : ",\n  ") + result;
            else print(result + "\n");
        } else if (o.all) {
            print((batch ? "== " + file + "\n" : std::string()) + commandTable(*document, runs));
        } else {
            const CommandRun& run = runs.front();
            std::string out = batch ? "== " + file + ": " + std::to_string(run.selected.size()) + " selected\n" : "";
            for (const ArtIndex index : run.selected) {
                out += document->idOf(index);
                out += '\n';
            }
            print(out);
        }
        if (marking) {
            const int written = writeMarked(*document, runs.front().selected, o.svgOut, o.pngOut);
            code = std::max(code, written);
        }
    }
    if (progress) std::fputs("\r\033[K", stderr);
    if (batch) {
        const std::size_t read = files.size() - unreadable;
        if (o.json) {
            print("{\"files\": [" + jsonResults + "],\n \"summary\": {\"documents\": " + std::to_string(files.size()) +
                  ", \"read\": " + std::to_string(read) + ", \"unreadable\": " + std::to_string(unreadable) +
                  ", \"failedCommands\": " + std::to_string(failed) + ", \"selected\": " +
                  std::to_string(selectedTotal) + "}}\n");
        } else {
            std::string summary = "Summary: " + std::to_string(files.size()) + " documents, " + std::to_string(read) +
                                  " read, " + std::to_string(unreadable) + " unreadable; " +
                                  std::to_string(selectedTotal) + " objects selected";
            if (failed != 0) summary += "; " + std::to_string(failed) + " commands returned an error";
            print(summary + "\n");
        }
    }
    return finish(session, code);
}

int runMenus(const Cli& cli, const std::vector<std::string>& args) {
    const bool json = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !json) return usageError("menus takes no arguments but --json");
    Session session(cli.pluginPath);
    // The session's plug-in is the first the host loaded.
    print(json ? simhost_serve::menusJson(session.host().menus(), 0) + "\n" : session.menuTree());
    return finish(session, kOk);
}

int runAbout(const Cli& cli, const std::vector<std::string>& args) {
    if (!args.empty()) return usageError("about takes no arguments");
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
int runDemo(const Cli& cli) {
    Session session(cli.pluginPath);
    std::printf("Wendlow Brindle, loaded from %s\n\nThe menus it installed:\n", cli.pluginPath.c_str());
    print(session.menuTree());
    std::unique_ptr<OpenDocument> sample = openSample();
    const simhost::Document& doc = sample->document();
    std::printf("\nThe sample drawing %s: %zu objects on %zu layers\n\n", sampleName(), doc.artCount() - doc.layerCount(),
                doc.layerCount());
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < session.commands().size(); ++i) all.push_back(i);
    if (!applyHostFaults(cli, session)) return finish(session, kBadInput);
    const std::vector<CommandRun> runs = runCommands(session, *sample, all);
    print(commandTable(*sample, runs));
    int code = kOk;
    for (const CommandRun& run : runs) {
        if (run.result == kNoErr) continue;
        code = kPluginError;
        std::fprintf(stderr, "simhost: \"%s\" returned error %s\n", run.command.c_str(), codeText(run.result).c_str());
        showDialogs(run);
    }
    return finish(session, code);
}

struct Subcommand {
    const char* name;
    int (*run)(const Cli&, const std::vector<std::string>&);
};

int runServe(const Cli& cli, const std::vector<std::string>& args) {
#if WENDLOW_BUILD_SERVE
    return simhost_serve::runServe(args, cli.pluginPath);
#else
    (void)cli, (void)args;
    return usageError("this simhost was built without the web server");
#endif
}

const Subcommand kSubcommands[] = {
    {"serve", runServe},
    {"select", runSelect},
    {"menus", runMenus},
    {"about", runAbout},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "validate") == 0) return runValidateCommand(argc - 1, argv + 1);
    Cli cli;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kOk;
        }
        if (arg == "--version") {
            std::printf("simhost %s\n", WENDLOW_VERSION);
            return kOk;
        }
        if (arg == "--plugin" || arg == "--host-fault") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            (arg == "--plugin" ? cli.pluginPath : cli.hostFaults.emplace_back()) = argv[++i];
            continue;
        }
        rest.push_back(arg);
    }

    try {
        if (rest.empty()) return runDemo(cli);
        const std::string name = rest.front();
        rest.erase(rest.begin());
        for (const Subcommand& subcommand : kSubcommands)
            if (name == subcommand.name) return subcommand.run(cli, rest);
        return usageError("unknown subcommand \"" + name + "\"");
    } catch (const SessionError& e) {
        for (const simhost::DialogRecord& dialog : e.dialogs) std::fputs(renderDialog(dialog).c_str(), stderr);
        std::fprintf(stderr, "simhost: %s\n", e.message.c_str());
        return e.exitCode;
    } catch (const DocumentError& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return kBadInput;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "simhost: out of memory\n");
        return kBadInput;
    }
}
