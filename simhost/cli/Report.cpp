#include "Report.h"

#include <algorithm>

#include "Answers.h"
#include "simhost/DialogDriver.h"
#include "simhost/Dialogs.h"

namespace simhost_cli {

using namespace simhost;

namespace {

constexpr std::size_t kDialogWidth = 60;   // text columns inside the box
constexpr std::size_t kFirstIds = 4;       // ids shown per table row

// Breaks `text` into lines of at most `width` bytes at spaces.
std::vector<std::string> wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t space = text.find(' ', i);
        const std::string word = text.substr(i, space == std::string::npos ? std::string::npos : space - i);
        i = space == std::string::npos ? text.size() : space + 1;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        while (line.size() > width) {
            lines.push_back(line.substr(0, width));
            line.erase(0, width);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string renderDialog(const DialogRecord& dialog) {
    const std::string rule = "+" + std::string(kDialogWidth + 2, '-') + "+\n";
    auto row = [](const std::string& text) { return "| " + padded(text, kDialogWidth) + " |\n"; };
    std::string out = rule;
    for (const std::string& line : wrapped(dialog.title.empty() ? dialog.name : dialog.title, kDialogWidth))
        out += row(line);
    out += rule;
    std::string buttons;
    for (const DialogItemRecord& item : dialog.items) {
        if (item.kind == "button") {
            buttons += (buttons.empty() ? "" : " ") + std::string("[ ") + item.text + " ]";
            continue;
        }
        if (item.text.empty()) continue;
        for (const std::string& line : wrapped(item.text, kDialogWidth)) out += row(line);
    }
    if (!buttons.empty()) out += row(std::string(kDialogWidth - std::min(kDialogWidth, buttons.size()), ' ') + buttons);
    out += rule;
    return out;
}

std::string commandTable(OpenDocument& document, const std::vector<CommandRun>& runs) {
    std::size_t width = std::string("Command").size();
    for (const CommandRun& run : runs) width = std::max(width, run.command.size());
    std::string out = padded("Command", width) + "  Selected  First ids\n";
    for (const CommandRun& run : runs) {
        std::string count = std::to_string(run.selected.size());
        out += padded(run.command, width) + "  " + std::string(8 - std::min<std::size_t>(8, count.size()), ' ') +
               count + "  ";
        for (std::size_t i = 0; i < run.selected.size() && i < kFirstIds; ++i)
            out += (i == 0 ? "" : ", ") + document.idOf(run.selected[i]);
        if (run.selected.size() > kFirstIds) out += ", ...";
        if (run.result != kNoErr) out += std::string(run.selected.empty() ? "" : "  ") + "(error " + simhost::codeText(run.result) + ")";
        out += "\n";
    }
    return out;
}

}  // namespace simhost_cli
