// Documents run in parallel worker processes, their reports handed back in
// input order. Each worker is forked from the command line after it has
// checked its arguments, loads the plug-in for itself, takes documents one
// at a time from the parent and streams each document's report back
// through a pipe; the parent hands on the reports in order, holding at most
// a few per worker, so memory stays flat over any number of documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace simhost_cli {

// What one command selected over the documents.
struct CommandTally {
    std::uint64_t selected = 0;       // objects
    std::uint64_t withSelection = 0;  // documents where it selected something
    std::uint64_t errors = 0;         // documents where it returned an error
};

// What one document gave: its output, what goes to stderr, the exit code
// it asks for, and its counts for the summary.
struct DocumentReport {
    std::string out;
    std::string err;
    int code = 0;
    bool unreadable = false;
    std::vector<CommandTally> tallies;  // per command run
};

// Runs documents in one process: a worker's plug-in and its host.
class DocumentProcessor {
public:
    virtual ~DocumentProcessor() = default;
    virtual DocumentReport process(std::size_t index) = 0;
    // Ends the session: what the host found at the end, if anything.
    virtual DocumentReport finish() = 0;
};

// Makes a processor; throws (with a report) when the plug-in cannot start.
using ProcessorFactory = std::function<std::unique_ptr<DocumentProcessor>()>;
struct ProcessorFailure {
    DocumentReport report;
};

struct RunCallbacks {
    // Takes the next report in input order (and the processors' final
    // reports at the end); false stops the run.
    std::function<bool(DocumentReport&)> deliver;
    // The report for a document whose worker died while running it.
    std::function<DocumentReport(std::size_t index, const std::string& why)> lost;
};

// Runs documents 0..count-1. With one job, or one document, in this
// process; else in min(jobs, count) workers. False when `deliver` stopped
// the run or a worker could not start its plug-in.
bool runDocuments(std::size_t count, unsigned jobs, const ProcessorFactory& factory, const RunCallbacks& callbacks);

}  // namespace simhost_cli
