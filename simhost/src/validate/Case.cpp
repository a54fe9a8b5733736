#include "Case.h"

#include <sstream>

#include "Isolation.h"

namespace simhost::validate {

std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out += (c == '\n' || c == '\t' || c == '\r') ? ' ' : c;
    if (out.size() > 2000) out = out.substr(0, 2000) + "...";
    return out;
}

void CaseContext::line(const std::string& text) {
    writeAll(fd_, text + "\n");
}

void CaseContext::finding(const std::string& rule, const std::string& detail) {
    ++findings_;
    if (findings_ > kMaxFindings) {
        if (findings_ == kMaxFindings + 1) line("F\tmore\tfurther findings not listed");
        return;
    }
    line("F\t" + oneLine(rule) + "\t" + oneLine(detail));
}

void CaseContext::count(const char* key, std::uint64_t n) {
    line(std::string("C\t") + key + "\t" + std::to_string(n));
}

void CaseContext::progress(const std::string& text) {
    line("P\t" + oneLine(text));
}

void CaseContext::nested(const std::string& what, const ChildOutcome& outcome) {
    std::string tail = outcome.output;
    if (tail.size() > 6000) tail = tail.substr(tail.size() - 6000);
    if (outcome.timedOut) {
        line("S\ttimeout");
        finding("timeout", what + ": no answer within " +
                               std::to_string(static_cast<int>(options_.trialTimeoutSeconds)) + " s");
    } else if (outcome.signaled) {
        line("S\tcrash");
        finding("crash", what + ": killed by " + signalName(outcome.signal));
    } else {
        line("S\tcrash");
        finding("crash", what + ": ended with exit code " + std::to_string(outcome.exitCode) +
                             " before finishing its checks");
    }
    // The output, escaped so that it fits one line; parsed back below.
    std::string escaped;
    for (char c : tail) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else escaped += c;
    }
    line("O\t" + escaped);
}

void writeCaseEnd(int fd) {
    writeAll(fd, "E\n");
}

namespace {

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

bool parseCasePayload(const std::string& payload, CaseResult& result, std::string* lastProgress) {
    std::istringstream in(payload);
    std::string line;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const char kind = line[0];
        const std::size_t tab1 = line.find('\t');
        const std::string rest = tab1 == std::string::npos ? std::string() : line.substr(tab1 + 1);
        const std::size_t tab2 = rest.find('\t');
        const std::string a = tab2 == std::string::npos ? rest : rest.substr(0, tab2);
        const std::string b = tab2 == std::string::npos ? std::string() : rest.substr(tab2 + 1);
        switch (kind) {
            case 'F':
                result.findings.push_back({a, b});
                if (result.status == Status::kPass) result.status = Status::kFail;
                break;
            case 'C': {
                const std::uint64_t n = std::stoull(b.empty() ? "0" : b);
                if (a == "trials") result.trials += n;
                else if (a == "sequences") result.sequences += n;
                else if (a == "scenarios") result.scenarios += n;
                break;
            }
            case 'S':
                if (a == "timeout" && result.status != Status::kCrash) result.status = Status::kTimeout;
                if (a == "crash") result.status = Status::kCrash;
                break;
            case 'P':
                if (lastProgress != nullptr) *lastProgress = rest;
                break;
            case 'O':
                result.output += unescape(rest);
                break;
            case 'E':
                ended = true;
                break;
            default:
                break;
        }
    }
    return ended;
}

}  // namespace simhost::validate
