// The host thread: one thread owns the Host and the plug-in, as the real
// host's main thread does, and runs every message in the order asked.
// HTTP handlers hand it work through a queue and wait for the answer.
//
// Dialogs are modal for real: inside the plug-in's Modal call the server's
// dialog driver waits on the same queue for a press. While it waits it still
// runs work that sends the plug-in nothing (faults), answers every other
// message with 409 and the open dialog, and hands the press to the modal
// loop. The handler that asked for the message gets 202 and the dialog; the
// handler of the press that closes the last dialog gets the message's result.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Documents.h"
#include "Session.h"
#include "simhost/DialogDriver.h"

namespace simhost_serve {

// An HTTP answer: status and JSON body (empty for 204). A command's answer
// is appended by `later` to a buffer of the handler's thread: the host
// thread only runs the message and copies out what the answer needs.
struct Reply {
    using Writer = std::function<void(std::string& out)>;
    Reply(int s = 200, std::string b = {}, Writer l = nullptr)
        : status(s), body(std::move(b)), later(std::move(l)) {}
    int status;
    std::string body;
    Writer later;
};
Reply errorReply(int status, const std::string& message);

// A host operation refused, with its answer's status.
struct Refusal : std::runtime_error {
    Refusal(int s, const std::string& why) : std::runtime_error(why), status(s) {}
    int status;
};

// What one of the host's own operations did, for its answer.
struct HostEdit {
    std::string command;  // the answer's "command": the operation's menu text
    std::optional<simhost::EditOutcome> edit;
    std::optional<std::vector<std::string>> picked;
};
// Runs on the host thread with the document held; throws Refusal.
using HostWork = std::function<HostEdit(OpenDoc&)>;

class HostWorker {
public:
    // Loads the plug-in and sends it "Startup" on the host thread. Throws
    // std::runtime_error with the reason (and the plug-in's dialogs shown).
    explicit HostWorker(const std::string& pluginPath);
    ~HostWorker();

    // Fixed after "Startup": the menu tree and the items a page may choose.
    const std::string& menusJson() const { return menusJson_; }
    const std::vector<std::string>& itemTexts() const { return itemTexts_; }

    // Runs menu item `item` (an index into itemTexts()) on `doc`; with no
    // `doc`, an application item (see needsDocument) with no document open.
    Reply choose(std::shared_ptr<OpenDoc> doc, std::size_t item, bool withOutlines);
    // Whether item `item` works on a document; the items of the host's
    // About group (the application's) need none.
    bool needsDocument(std::size_t item) const { return !applicationItem_.at(item); }
    // The selection `doc` holds, answered as its last command's answer was
    // (or, before any command, as objects no command selected).
    Reply selection(std::shared_ptr<OpenDoc> doc, bool withOutlines);
    // Deselects everything in `doc`, guides too; answers as selection().
    Reply deselectAll(std::shared_ptr<OpenDoc> doc);
    // One of the host's own operations on `doc` (its Select menu, picking,
    // flags, edits, undo), refused like a command while a dialog is open;
    // answered as a command is, with what it did.
    Reply edit(std::shared_ptr<OpenDoc> doc, HostWork work);
    // Runs the plug-in's item last run on `doc` again; 409 when none has run.
    Reply reselect(std::shared_ptr<OpenDoc> doc);
    // The selected objects of `doc` alone as a new drawing, into `svg`:
    // an empty 200 then; 409 when nothing is selected.
    Reply exportSelection(std::shared_ptr<OpenDoc> doc, std::shared_ptr<std::string> svg);
    // Presses item `item` of the open dialog (of dialog `dialogId` if given).
    Reply press(int item, std::optional<long long> dialogId);
    // The open dialog as JSON, or nothing.
    std::optional<std::string> openDialog() const;
    // Host faults: set one, clear them all.
    Reply setFault(const std::string& operation, bool always);
    Reply clearFaults();

    // Walks away from an open dialog and refuses all further work, queued
    // work included (503).
    void stopAccepting();
    // Then sends "Shutdown" and returns what the host found held or broken.
    std::vector<std::string> shutdown();

private:
    enum class Kind { kMessage, kPress, kHostOnly };
    struct Task {
        explicit Task(Kind k, std::function<Reply()> r = nullptr, int i = 0, std::optional<long long> d = {})
            : kind(k), run(std::move(r)), item(i), dialogId(d) {}
        Kind kind;
        std::function<Reply()> run;  // kMessage, kHostOnly
        int item = 0;                // kPress
        std::optional<long long> dialogId;
        std::shared_ptr<std::promise<Reply>> reply = std::make_shared<std::promise<Reply>>();
    };
    class Driver;

    Reply submit(Task task);
    std::optional<Task> next();  // blocks; nothing once stopping
    void loop(const std::string& pluginPath, std::promise<std::string>& started);
    void deliver(Reply reply);  // to whoever waits for the running message
    Reply runChoice(const std::shared_ptr<OpenDoc>& doc, std::size_t item, bool withOutlines);
    Reply selectionReply(const std::shared_ptr<OpenDoc>& doc, bool withOutlines);
    void remember(const std::shared_ptr<OpenDoc>& doc, const simhost_app::CommandRun& run, double commandMs);
    void describeMenus();

    std::unique_ptr<Driver> driver_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    bool stopping_ = false;
    std::optional<std::string> dialogJson_;  // the open dialog, under mutex_
    std::vector<std::string> problems_;
    // Each document's last command, for a page that comes later: the run
    // and its time, while the document lives. Under mutex_.
    struct LastRun {
        std::weak_ptr<OpenDoc> doc;
        simhost_app::CommandRun run;
        double commandMs = 0;
    };
    std::vector<std::pair<const OpenDoc*, LastRun>> lastRuns_;

    // Host thread only.
    std::unique_ptr<simhost_app::Session> session_;
    std::vector<simhost::MenuItemIndex> items_;  // parallel to itemTexts_
    std::shared_ptr<std::promise<Reply>> pending_;
    bool pendingIsPress_ = false;
    // Time spent waiting for a person to answer dialogs: not the command's.
    std::chrono::steady_clock::duration waited_{};

    std::string menusJson_;
    std::vector<std::string> itemTexts_;
    std::vector<bool> applicationItem_;  // parallel to itemTexts_
};

}  // namespace simhost_serve
