// What a child process tells the validator: one record a line on its result
// descriptor, written at once so that a later crash loses none of them. Every
// record is written and read here, and each kind means one thing.
#pragma once

#include <string>
#include <vector>

namespace simhost::validate {

enum class RecordKind : char {
    kFinding = 'F',    // rule, detail
    kCount = 'C',      // counter ("trials", "sequences", "scenarios", "calls", "swept-faults"), number
    kStatus = 'S',     // a nested trial's end: "crash" or "timeout"
    kProgress = 'P',   // what the case is doing now, to place a crash
    kOutput = 'O',     // a nested trial's output
    kItem = 'I',       // discovery: the text of a command item
    kSuite = 'U',      // discovery: a suite acquired, name and version
    kCannotRun = 'X',  // discovery: why the plug-in cannot be run at all
    kEnd = 'E',        // the child finished its work
};

struct Record {
    RecordKind kind;
    std::string first;
    std::string second;
};

// One line; tabs, newlines and backslashes in the fields are escaped.
std::string encodeRecord(const Record& record);
void writeRecord(int fd, const Record& record);
// Every whole record of a payload; lines of an unknown kind are skipped.
std::vector<Record> decodeRecords(const std::string& payload);
bool hasRecord(const std::vector<Record>& records, RecordKind kind);

}  // namespace simhost::validate
