// The summary table, and the JSON and JUnit reports.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "simhost/XmlText.h"
#include "simhost/validate/Validate.h"

namespace simhost::validate {

namespace {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", s);
    return text;
}

// Bytes that are not valid UTF-8 would make the JSON writer throw.
std::string validUtf8(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

std::string summaryTable(const Report& report) {
    std::ostringstream out;
    std::size_t width = 4;
    for (const CaseResult& c : report.cases) width = std::max(width, c.name.size());
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-7s  %7s  %9s  %s\n", static_cast<int>(width), "case", "status", "trials",
                  "seconds", "first finding");
    out << line;
    std::map<Status, int> counts;
    for (const CaseResult& c : report.cases) {
        ++counts[c.status];
        std::string first;
        if (!c.findings.empty()) first = "[" + c.findings.front().rule + "] " + c.findings.front().detail;
        if (first.size() > 160) first = first.substr(0, 157) + "...";
        std::snprintf(line, sizeof line, "%-*s  %-7s  %7llu  %9s  ", static_cast<int>(width), c.name.c_str(),
                      statusName(c.status), static_cast<unsigned long long>(c.trials), seconds(c.seconds).c_str());
        out << line << first << "\n";
    }
    out << "\n" << report.cases.size() << " cases: " << counts[Status::kPass] << " passed, " << counts[Status::kFail]
        << " failed, " << counts[Status::kCrash] << " crashed, " << counts[Status::kTimeout] << " timed out\n";
    out << report.scenarios() << " scenarios swept, " << report.trials() << " trials, " << report.sequences()
        << " random sequences (seed " << report.seed << ")\n";
    out << "battery took " << seconds(report.seconds) << " s\n";
    return out.str();
}

std::string reportJson(const Report& report) {
    nlohmann::json root;
    root["plugin"] = validUtf8(report.plugin);
    root["seed"] = report.seed;
    root["seconds"] = report.seconds;
    root["scenarios"] = report.scenarios();
    root["trials"] = report.trials();
    root["sequences"] = report.sequences();
    root["exitCode"] = exitCodeOf(report);
    nlohmann::json cases = nlohmann::json::array();
    for (const CaseResult& c : report.cases) {
        nlohmann::json one;
        one["name"] = c.name;
        one["battery"] = c.battery;
        one["status"] = statusName(c.status);
        one["seconds"] = c.seconds;
        one["trials"] = c.trials;
        one["scenarios"] = c.scenarios;
        one["sequences"] = c.sequences;
        nlohmann::json findings = nlohmann::json::array();
        for (const Finding& f : c.findings) findings.push_back({{"rule", validUtf8(f.rule)}, {"detail", validUtf8(f.detail)}});
        one["findings"] = findings;
        if (!c.output.empty()) one["output"] = validUtf8(c.output);
        cases.push_back(one);
    }
    root["cases"] = cases;
    return root.dump(2) + "\n";
}

std::string reportJUnit(const Report& report) {
    std::ostringstream out;
    std::size_t failures = 0;
    std::size_t errors = 0;
    for (const CaseResult& c : report.cases) {
        if (c.status == Status::kFail) ++failures;
        if (c.status == Status::kCrash || c.status == Status::kTimeout) ++errors;
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<testsuites name=\"simhost validate\" tests=\"" << report.cases.size() << "\" failures=\"" << failures
        << "\" errors=\"" << errors << "\" time=\"" << seconds(report.seconds) << "\">\n";
    std::map<std::string, std::vector<const CaseResult*>> byBattery;
    for (const CaseResult& c : report.cases) byBattery[c.battery].push_back(&c);
    for (const auto& entry : byBattery) {
        std::size_t f = 0, e = 0;
        double t = 0;
        for (const CaseResult* c : entry.second) {
            f += c->status == Status::kFail;
            e += c->status == Status::kCrash || c->status == Status::kTimeout;
            t += c->seconds;
        }
        out << "  <testsuite name=\"" << xmlEscaped(entry.first) << "\" tests=\"" << entry.second.size()
            << "\" failures=\"" << f << "\" errors=\"" << e << "\" time=\"" << seconds(t) << "\">\n";
        for (const CaseResult* c : entry.second) {
            out << "    <testcase classname=\"" << xmlEscaped(c->battery) << "\" name=\"" << xmlEscaped(c->name)
                << "\" time=\"" << seconds(c->seconds) << "\">\n";
            std::string text;
            for (const Finding& finding : c->findings) text += "[" + finding.rule + "] " + finding.detail + "\n";
            const std::string first = c->findings.empty() ? std::string(statusName(c->status))
                                                           : "[" + c->findings.front().rule + "] " + c->findings.front().detail;
            if (c->status == Status::kFail)
                out << "      <failure type=\"fail\" message=\"" << xmlEscaped(first) << "\">" << xmlEscaped(text) << "</failure>\n";
            else if (c->status != Status::kPass)
                out << "      <error type=\"" << statusName(c->status) << "\" message=\"" << xmlEscaped(first) << "\">"
                    << xmlEscaped(text) << "</error>\n";
            if (!c->output.empty()) out << "      <system-err>" << xmlEscaped(c->output) << "</system-err>\n";
            out << "    </testcase>\n";
        }
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
    return out.str();
}

}  // namespace simhost::validate
