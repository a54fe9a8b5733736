// Messages to plug-ins: the head of each message, the message in flight
// (messages nest: a plug-in may be sent one while it handles another), and
// the globals word the host keeps for each plug-in between messages.
#pragma once

#include <optional>

#include "LoaderRoom.h"
#include "Room.h"
#include "SPSuites.h"

namespace simhost {

class MessageRoom : public Room {
public:
    MessageRoom(Gate& gate, Ledger& ledger, LoaderRoom& loader, SPBasicSuite* basic)
        : Room(gate, ledger), loader_(loader), basic_(basic) {}

    static MessageRoom& current() { return Current<MessageRoom>::get(); }

    // Sends one message. `head` must begin a message record; the host fills
    // in the head (plug-in reference, globals word, basic suite) and keeps
    // the globals word the plug-in leaves in it.
    ASErr send(PluginId plugin, const char* caller, const char* selector, SPMessageData* head);
    ASErr sendInterface(PluginId plugin, const char* selector);
    // "SP Access" with the given globals word instead of the one the host keeps.
    ASErr sendAccessWithGlobals(PluginId plugin, const char* selector, void* globals);
    ASErr sendMenu(PluginId plugin, const char* selector, AIMenuItemHandle item);

    struct InFlight {
        PluginId plugin;
        const char* caller;
        const char* selector;
    };
    const std::optional<InFlight>& inFlight() const { return message_; }
    std::optional<PluginId> messagePlugin() const {
        return message_ ? std::optional<PluginId>(message_->plugin) : std::nullopt;
    }

    // The plug-in a call names. Unknown references are bad parameters; while
    // a message is in flight, only the plug-in handling it may be named.
    std::optional<PluginId> pluginForCall(SPPluginRef ref, const char* operation);

private:
    Current<MessageRoom> registration_{this};
    LoaderRoom& loader_;
    SPBasicSuite* basic_;
    std::optional<InFlight> message_;
};

}  // namespace simhost
