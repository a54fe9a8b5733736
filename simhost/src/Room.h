// What the rooms of the host share: the gate every suite call passes, the
// ledger of what plug-ins hold and of the rules they broke, and the way a
// suite function finds the room it serves.
#pragma once

#include <string>

#include "simhost/Gate.h"
#include "simhost/Ledger.h"

namespace simhost {

// Reports a suite called with no host, and ends the process.
[[noreturn]] void noCurrentHost();

// Suites are plain tables of functions with no context argument, so each
// room keeps a pointer to its instance in the current host (the last one
// constructed and not yet destroyed); every suite function starts there.
template <typename R>
class Current {
public:
    explicit Current(R* room) : previous_(room_) { room_ = room; }
    ~Current() { room_ = previous_; }
    Current(const Current&) = delete;
    Current& operator=(const Current&) = delete;

    static R& get() {
        if (__builtin_expect(room_ == nullptr, 0)) noCurrentHost();
        return *room_;
    }
    static R* getOrNull() { return room_; }

private:
    static inline R* room_ = nullptr;
    R* previous_;
};

class Room {
public:
    Room(Gate& gate, Ledger& ledger) : gate_(gate), ledger_(ledger) {}
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    Gate& gate() { return gate_; }
    Ledger& ledger() { return ledger_; }

    // Records that `operation` was given an argument it must not get;
    // returns kBadParameterErr.
    ASErr badParameter(const char* operation, const std::string& what) {
        return refuse("bad-parameter", operation, what);
    }
    // Records a breach of rule `rule` by `operation`; returns kBadParameterErr.
    ASErr refuse(const char* rule, const char* operation, const std::string& what) {
        ledger_.recordViolation(rule, std::string(operation) + ": " + what);
        return kBadParameterErr;
    }

protected:
    Gate& gate_;
    Ledger& ledger_;
};

class LoaderRoom;
class MessageRoom;

// A room whose work ends in a message to a plug-in (the menus, the dialogs):
// it reaches the loaded plug-ins and the room that sends.
class SendingRoom : public Room {
public:
    SendingRoom(Gate& gate, Ledger& ledger, MessageRoom& messages, LoaderRoom& loader)
        : Room(gate, ledger), messages_(messages), loader_(loader) {}

protected:
    MessageRoom& messages_;
    LoaderRoom& loader_;
};

}  // namespace simhost
