#include "Protocol.h"

#include <sstream>

#include "Isolation.h"

namespace simhost::validate {

namespace {

constexpr RecordKind kKinds[] = {RecordKind::kFinding, RecordKind::kCount,     RecordKind::kStatus,
                                 RecordKind::kProgress, RecordKind::kOutput,   RecordKind::kItem,
                                 RecordKind::kSuite,    RecordKind::kCannotRun, RecordKind::kEnd};

void escapeInto(std::string& out, const std::string& text) {
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string encodeRecord(const Record& record) {
    std::string line(1, static_cast<char>(record.kind));
    line += '\t';
    escapeInto(line, record.first);
    line += '\t';
    escapeInto(line, record.second);
    line += '\n';
    return line;
}

void writeRecord(int fd, const Record& record) {
    writeAll(fd, encodeRecord(record));
}

std::vector<Record> decodeRecords(const std::string& payload) {
    std::vector<Record> records;
    std::istringstream in(payload);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 2 || line[1] != '\t') continue;
        bool known = false;
        for (RecordKind kind : kKinds) known = known || static_cast<char>(kind) == line[0];
        if (!known) continue;
        const std::string rest = line.substr(2);
        const std::size_t tab = rest.find('\t');
        records.push_back({static_cast<RecordKind>(line[0]), unescape(rest.substr(0, tab)),
                           tab == std::string::npos ? std::string() : unescape(rest.substr(tab + 1))});
    }
    return records;
}

bool hasRecord(const std::vector<Record>& records, RecordKind kind) {
    for (const Record& r : records)
        if (r.kind == kind) return true;
    return false;
}

}  // namespace simhost::validate
