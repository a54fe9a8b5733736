#include "HostWorker.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Answers.h"
#include "MenusJson.h"
#include "simhost/DialogDriver.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

namespace simhost_serve {

using namespace simhost;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxOutlines = 2000;

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The answer to a command, written from what the host thread copied out.
struct Outcome {
    std::shared_ptr<OpenDoc> doc;
    simhost_app::CommandRun run;
    bool withOutlines = false;
    double commandMs = 0;
    std::chrono::steady_clock::time_point start;
    std::shared_ptr<const OpenDoc::State> state;
    std::optional<EditOutcome> edit;
    std::optional<std::vector<std::string>> picked;
};

// The fields that follow the objects, when asked: their outlines.
std::string outlinesJson(OpenDoc& doc, const std::vector<ArtIndex>& selected) {
    // Past a few thousand outlines a page shows a solid blot, and building
    // them costs more than the command: the first ones only.
    const std::size_t drawn = std::min(selected.size(), kMaxOutlines);
    return ", \"outlines\": " +
           simhost_app::quoted(doc.outlines({selected.begin(), selected.begin() + static_cast<long>(drawn)})) +
           ", \"outlinesOmitted\": " + std::to_string(selected.size() - drawn);
}

void appendOutcomeJson(std::string& out, const Outcome& o) {
    simhost_app::AnswerParts parts;
    parts.server = true;
    parts.commandMs = o.commandMs;
    parts.start = o.start;
    if (!o.doc) return simhost_app::appendAnswer(out, o.run, parts);  // an application item, run with no document
    OpenDoc& doc = *o.doc;
    parts.document = &doc.id;
    parts.file = &doc.name;
    parts.selectedFrom = &doc.open();
    simhost_app::HostState host;
    const std::shared_ptr<const OpenDoc::State> state = o.state ? o.state : doc.state();
    host.undo = state->undo;
    host.redo = state->redo;
    host.revision = state->revision;
    host.layersJson = state->layersJson;
    if (o.edit) host.edit = &*o.edit;
    if (o.picked) host.picked = &*o.picked;
    parts.host = &host;
    // The objects' kinds, layers, ids and shapes never change; the hold
    // keeps the next command from changing the document while they are read.
    std::shared_lock<std::shared_mutex> hold(doc.inUse);
    if (o.withOutlines && doc.svgText) parts.afterSelected = outlinesJson(doc, o.run.selected);
    simhost_app::appendAnswer(out, o.run, parts);
}

// A message that ends because its dialog was closed with one of the
// dialog's own buttons answers with that button's item (About's OK is 1):
// how the dialog ended, which is no failure.
void closedByItsButton(simhost_app::CommandRun& run) {
    if (run.result != kNoErr && !run.dialogs.empty() && run.result == run.dialogs.back().closedBy) run.result = kNoErr;
}

}  // namespace

Reply errorReply(int status, const std::string& message) { return {status, dump(json{{"error", message}})}; }

// Answers the modal loop with presses that come over HTTP.
class HostWorker::Driver final : public DialogDriver {
public:
    explicit Driver(HostWorker& worker) : w_(worker) {}
    std::optional<ai::int32> press(const OpenDialogView& view) override;

private:
    HostWorker& w_;
    long long serial_ = 0;
};

std::optional<ai::int32> HostWorker::Driver::press(const OpenDialogView& view) {
    // Until a person answers, the time is theirs, not the command's.
    struct Waiting {
        HostWorker& w;
        std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
        ~Waiting() { w.waited_ += std::chrono::steady_clock::now() - since; }
    } waiting{w_};
    if (view.presses == 0) ++serial_;
    const std::string dialog = simhost_app::openDialogJson(serial_, view);
    {
        std::lock_guard<std::mutex> lock(w_.mutex_);
        if (w_.stopping_) return std::nullopt;
        w_.dialogJson_ = dialog;
    }
    w_.deliver({w_.pendingIsPress_ ? 200 : 202, "{\"dialog\": " + dialog + "}"});
    auto reject = [&](int status, const std::string& why) {
        return Reply{status, "{\"error\": " + dump(why) + ", \"dialog\": " + dialog + "}"};
    };
    while (std::optional<Task> task = w_.next()) {
        if (task->kind == Kind::kHostOnly) {
            task->reply->set_value(task->run());
        } else if (task->kind == Kind::kMessage) {
            task->reply->set_value(reject(409, "a dialog is open: press one of its items first"));
        } else if (task->dialogId && *task->dialogId != serial_) {
            task->reply->set_value(reject(409, "dialog " + std::to_string(*task->dialogId) + " is no longer open"));
        } else if (std::none_of(view.items.begin(), view.items.end(),
                                [&](const DialogItemRecord& i) { return i.id == task->item; })) {
            task->reply->set_value(reject(400, "the dialog has no item " + std::to_string(task->item)));
        } else {
            w_.pending_ = task->reply;
            w_.pendingIsPress_ = true;
            std::lock_guard<std::mutex> lock(w_.mutex_);
            w_.dialogJson_.reset();
            return task->item;
        }
    }
    std::lock_guard<std::mutex> lock(w_.mutex_);
    w_.dialogJson_.reset();
    return std::nullopt;  // shutting down: the user walked away
}

HostWorker::HostWorker(const std::string& pluginPath) : driver_(std::make_unique<Driver>(*this)) {
    std::promise<std::string> started;
    std::future<std::string> failure = started.get_future();
    thread_ = std::thread([this, pluginPath, &started] { loop(pluginPath, started); });
    const std::string why = failure.get();
    if (!why.empty()) {
        thread_.join();
        throw std::runtime_error(why);
    }
}

HostWorker::~HostWorker() {
    if (thread_.joinable()) shutdown();
}

void HostWorker::loop(const std::string& pluginPath, std::promise<std::string>& started) {
    try {
        session_ = std::make_unique<simhost_app::Session>(pluginPath);
    } catch (const simhost_app::SessionError& e) {
        started.set_value(e.message);
        return;
    }
    describeMenus();
    session_->host().setDialogDriver(driver_.get());
    started.set_value(std::string());

    while (std::optional<Task> task = next()) {
        if (task->kind == Kind::kMessage) {
            pending_ = task->reply;
            pendingIsPress_ = false;
            deliver(task->run());
        } else if (task->kind == Kind::kPress) {
            task->reply->set_value(errorReply(409, "no dialog is open"));
        } else {
            task->reply->set_value(task->run());
        }
    }
    session_->shutdown(problems_);
    session_.reset();
}

void HostWorker::describeMenus() {
    const Menus& menus = session_->host().menus();
    const PluginId ours = session_->plugin();
    // Choosable: the plug-in's items with no submenu, the selection commands first.
    const MenuGroupIndex select = menus.findGroup("SelectObject");
    std::vector<MenuItemIndex> order;
    if (select >= 0) order = menus.group(select).items;
    for (std::size_t i = 0; i < menus.itemCount(); ++i)
        if (std::find(order.begin(), order.end(), static_cast<MenuItemIndex>(i)) == order.end())
            order.push_back(static_cast<MenuItemIndex>(i));
    // An item under the host's About group is the application's: it needs
    // no document.
    auto application = [&menus](MenuItemIndex i) {
        for (MenuGroupIndex g = menus.item(i).group; g >= 0;) {
            if (menus.group(g).name == "About") return true;
            const MenuItemIndex parent = menus.group(g).parentItem;
            g = parent >= 0 ? menus.item(parent).group : -1;
        }
        return false;
    };
    for (const MenuItemIndex i : order)
        if (menus.item(i).plugin == ours && menus.item(i).submenu < 0) {
            items_.push_back(i);
            itemTexts_.push_back(menus.item(i).text);
            applicationItem_.push_back(application(i));
        }
    menusJson_ = simhost_app::menusJson(menus, ours);
}

std::optional<HostWorker::Task> HostWorker::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return std::nullopt;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    return task;
}

Reply HostWorker::submit(Task task) {
    std::future<Reply> answer = task.reply->get_future();
    // The work itself may fail (out of memory, a drawing that cannot be
    // read again): the handler still gets an answer.
    if (task.run) {
        task.run = [run = std::move(task.run)]() -> Reply {
            try {
                return run();
            } catch (const DocumentError& e) {
                return errorReply(422, e.what());
            } catch (const std::exception& e) {
                return errorReply(500, e.what());
            }
        };
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return errorReply(503, "the server is shutting down");
        queue_.push_back(std::move(task));
    }
    wake_.notify_all();
    return answer.get();
}

void HostWorker::deliver(Reply reply) {
    if (pending_) pending_->set_value(std::move(reply));
    pending_.reset();
}

Reply HostWorker::choose(std::shared_ptr<OpenDoc> doc, std::size_t item, bool withOutlines) {
    Task task{Kind::kMessage, [this, doc, item, withOutlines] { return runChoice(doc, item, withOutlines); }};
    return submit(std::move(task));
}

Reply HostWorker::runChoice(const std::shared_ptr<OpenDoc>& doc, std::size_t item, bool withOutlines) {
    auto outcome = std::make_shared<Outcome>();
    outcome->doc = doc;
    outcome->withOutlines = withOutlines;
    outcome->start = std::chrono::steady_clock::now();
    waited_ = {};
    if (doc) {
        std::unique_lock<std::shared_mutex> lock(doc->inUse);
        // What the command selects is one step of the document's undo.
        doc->editor().beginOutside(itemTexts_[item]);
        try {
            outcome->run = session_->runItem(items_[item], itemTexts_[item], doc->document());
        } catch (...) {
            doc->editor().endOutside();
            throw;
        }
        doc->editor().endOutside();
        // About is no command on the drawing to run again.
        if (!applicationItem_[item]) doc->lastItem = item;
        doc->refresh();
        outcome->state = doc->state();
    } else {
        Document none;
        outcome->run = session_->runItem(items_[item], itemTexts_[item], none);
    }
    closedByItsButton(outcome->run);
    outcome->commandMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                   outcome->start - waited_).count();
    if (doc) remember(doc, outcome->run, outcome->commandMs);
    return {200, {}, [outcome](std::string& out) { appendOutcomeJson(out, *outcome); }};
}

void HostWorker::remember(const std::shared_ptr<OpenDoc>& doc, const simhost_app::CommandRun& run, double commandMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastRuns_.erase(std::remove_if(lastRuns_.begin(), lastRuns_.end(),
                                   [&](const auto& e) { return e.first == doc.get() || e.second.doc.expired(); }),
                    lastRuns_.end());
    lastRuns_.push_back({doc.get(), LastRun{doc, run, commandMs}});
}

Reply HostWorker::selection(std::shared_ptr<OpenDoc> doc, bool withOutlines) { return selectionReply(doc, withOutlines); }

Reply HostWorker::selectionReply(const std::shared_ptr<OpenDoc>& doc, bool withOutlines) {
    auto outcome = std::make_shared<Outcome>();
    outcome->doc = doc;
    outcome->withOutlines = withOutlines;
    outcome->start = std::chrono::steady_clock::now();
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [key, last] : lastRuns_)
            if (key == doc.get() && last.doc.lock() == doc) {
                outcome->run = last.run;
                outcome->commandMs = last.commandMs;
                known = true;
            }
    }
    if (!known) {
        // Selected when the drawing was read, or left by Deselect all: no
        // command selected these.
        std::shared_lock<std::shared_mutex> hold(doc->inUse, std::try_to_lock);
        if (!hold.owns_lock()) return errorReply(409, "a command is running on " + doc->name);
        outcome->run.selected = doc->document().selected();
        outcome->run.kept.assign(outcome->run.selected.size(), true);
    }
    return {200, {}, [outcome](std::string& out) { appendOutcomeJson(out, *outcome); }};
}

Reply HostWorker::deselectAll(std::shared_ptr<OpenDoc> doc) {
    Task task{Kind::kMessage, [this, doc] {
        {
            std::unique_lock<std::shared_mutex> lock(doc->inUse);
            doc->editor().select(SelectOp::kNone);
            doc->refresh();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastRuns_.erase(std::remove_if(lastRuns_.begin(), lastRuns_.end(),
                                           [&](const auto& e) { return e.first == doc.get(); }),
                            lastRuns_.end());
        }
        return selectionReply(doc, false);
    }};
    return submit(std::move(task));
}

Reply HostWorker::edit(std::shared_ptr<OpenDoc> doc, HostWork work) {
    Task task{Kind::kMessage, [this, doc, work] {
        auto outcome = std::make_shared<Outcome>();
        outcome->doc = doc;
        outcome->withOutlines = true;
        outcome->start = std::chrono::steady_clock::now();
        try {
            std::unique_lock<std::shared_mutex> lock(doc->inUse);
            HostEdit done = work(*doc);
            outcome->run.command = std::move(done.command);
            outcome->edit = std::move(done.edit);
            outcome->picked = std::move(done.picked);
            outcome->run.selected = doc->document().selected();
            doc->refresh();
        } catch (const Refusal& e) {
            return errorReply(e.status, e.what());
        }
        outcome->state = doc->state();
        outcome->commandMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - outcome->start).count();
        remember(doc, outcome->run, outcome->commandMs);
        return Reply{200, {}, [outcome](std::string& out) { appendOutcomeJson(out, *outcome); }};
    }};
    return submit(std::move(task));
}

Reply HostWorker::reselect(std::shared_ptr<OpenDoc> doc) {
    Task task{Kind::kMessage, [this, doc] {
        if (!doc->lastItem) return errorReply(409, "no command has run on " + doc->name + ": nothing to reselect");
        return runChoice(doc, *doc->lastItem, true);
    }};
    return submit(std::move(task));
}

Reply HostWorker::exportSelection(std::shared_ptr<OpenDoc> doc, std::shared_ptr<std::string> svg) {
    Task task{Kind::kMessage, [doc, svg] {
        std::shared_lock<std::shared_mutex> hold(doc->inUse);
        if (doc->document().selected().empty()) return errorReply(409, "nothing is selected in " + doc->name);
        *svg = doc->editor().exportedSelectionSvg();
        return Reply{200, {}};
    }};
    return submit(std::move(task));
}

Reply HostWorker::press(int item, std::optional<long long> dialogId) {
    Task task{Kind::kPress, nullptr, item, dialogId};
    return submit(std::move(task));
}

std::optional<std::string> HostWorker::openDialog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dialogJson_;
}

Reply HostWorker::setFault(const std::string& operation, bool always) {
    const std::optional<Op> op = opNamed(operation);
    if (!op) return errorReply(400, "unknown host operation \"" + operation + "\"");
    Task task{Kind::kHostOnly, [this, op, always, operation] {
        session_->host().gate().addRule(always ? FaultRule::failEvery(*op) : FaultRule::failNthOf(*op, 1));
        return Reply{200, dump(json{{"operation", opInfo(*op).label}, {"mode", always ? "always" : "once"}})};
    }};
    return submit(std::move(task));
}

Reply HostWorker::clearFaults() {
    Task task{Kind::kHostOnly, [this] {
        session_->host().gate().clearRules();
        return Reply{204, {}};
    }};
    return submit(std::move(task));
}

void HostWorker::stopAccepting() {
    std::deque<Task> refused;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        refused.swap(queue_);
    }
    wake_.notify_all();
    for (Task& task : refused) task.reply->set_value(errorReply(503, "the server is shutting down"));
}

std::vector<std::string> HostWorker::shutdown() {
    stopAccepting();
    if (thread_.joinable()) thread_.join();
    return problems_;
}

}  // namespace simhost_serve
