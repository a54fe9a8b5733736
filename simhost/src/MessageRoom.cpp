#include "MessageRoom.h"

#include <cstring>
#include <stdexcept>

#include "AISuites.h"

namespace simhost {

namespace {

constexpr ai::int32 kMessageCheck = FourCC("SPCk");

}  // namespace

ASErr MessageRoom::send(PluginId id, const char* caller, const char* selector, SPMessageData* head) {
    LoadedPlugin& p = loader_.plugin(id);
    if (p.main == nullptr) throw std::runtime_error("plug-in " + p.path + " is not loaded");
    head->SPCheck = kMessageCheck;
    head->self = loader_.pluginRef(id);
    head->basic = basic_;

    const std::optional<InFlight> outer = message_;
    message_ = InFlight{id, caller, selector};
    ASErr result = kNoErr;
    try {
        result = p.main(caller, selector, head);
    } catch (...) {
        ledger_.recordViolation("exception-escaped", "an exception left PluginMain for " + std::string(caller) +
                                                         " / " + selector);
        result = kPluginThrewErr;
    }
    message_ = outer;

    p.globals = head->globals;
    const bool interface = std::strcmp(caller, kSPInterfaceCaller) == 0;
    if (interface && std::strcmp(selector, kSPInterfaceStartupSelector) == 0) p.started = true;
    if (interface && std::strcmp(selector, kSPInterfaceShutdownSelector) == 0) p.started = false;
    return result;
}

ASErr MessageRoom::sendInterface(PluginId id, const char* selector) {
    SPInterfaceMessage message{};
    message.d.globals = loader_.plugin(id).globals;
    return send(id, kSPInterfaceCaller, selector, &message.d);
}

ASErr MessageRoom::sendAccessWithGlobals(PluginId id, const char* selector, void* globals) {
    SPAccessMessage message{};
    message.d.globals = globals;
    return send(id, kSPAccessCaller, selector, &message.d);
}

ASErr MessageRoom::sendMenu(PluginId id, const char* selector, AIMenuItemHandle item) {
    AIMenuMessage message{};
    message.d.globals = loader_.plugin(id).globals;
    message.menuItem = item;
    return send(id, kCallerAIMenu, selector, &message.d);
}

std::optional<PluginId> MessageRoom::pluginForCall(SPPluginRef ref, const char* operation) {
    const auto id = loader_.pluginOf(ref);
    if (!id) {
        badParameter(operation, ref == nullptr ? "null plug-in reference" : "unknown plug-in reference");
        return std::nullopt;
    }
    if (message_ && message_->plugin != *id) {
        refuse("foreign-plugin", operation,
               "names " + loader_.plugin(*id).path + " during a message to " + loader_.plugin(message_->plugin).path);
        return std::nullopt;
    }
    return id;
}

}  // namespace simhost
