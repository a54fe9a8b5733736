#include "simhost/documents/Editor.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#if WENDLOW_BUILD_SVG
#include "simhost/svg/SvgEdits.h"
#endif

namespace simhost {

namespace {

// Steps kept for undo: enough for a session's work, and a bound on what a
// document of millions of objects may hold in its history.
constexpr std::size_t kMaxSteps = 100;

// The saved forms of one element: display:none in its style (hidden),
// sodipodi:insensitive (locked), display:inline (a layer shown over what
// else hides it).
struct Forms {
    bool hidden = false;
    bool locked = false;
    bool shown = false;
    bool operator==(const Forms& o) const { return hidden == o.hidden && locked == o.locked && shown == o.shown; }
};

struct AttributeChange {
    ArtIndex index;
    ai::int32 before;
    ai::int32 after;
};

struct LayerChange {
    LayerIndex layer;
    Layer before;
    Layer after;
};

struct FormChange {
    ArtIndex index;
    Forms before;
    Forms after;
};

// One undo step: only what changed, never a copy of the document.
struct Step {
    std::string label;
    std::vector<AttributeChange> attributes;
    std::vector<LayerChange> layers;
    std::vector<FormChange> forms;
    std::vector<ArtIndex> removed;  // in document order
    std::vector<Placement> placements;
    bool empty() const { return attributes.empty() && layers.empty() && forms.empty() && removed.empty(); }
    bool drawing() const { return !layers.empty() || !forms.empty() || !removed.empty() || changesBesidesSelection(); }
    bool changesBesidesSelection() const {
        return std::any_of(attributes.begin(), attributes.end(),
                           [](const AttributeChange& c) { return ((c.before ^ c.after) & ~kArtSelected) != 0; });
    }
};

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The editor's state and work: Editor holds one and passes each call on.
class Edits {
public:
    explicit Edits(OpenDocument& open);

    std::vector<ArtIndex> selectable() const;
    EditOutcome select(SelectOp op, const std::vector<ArtIndex>& objects);
    void beginOutside(std::string label);
    EditOutcome endOutside();
    EditOutcome remove(bool keepOnly);
    EditOutcome conceal(ai::int32 bit);
    EditOutcome reveal(ai::int32 bit);
    EditOutcome setLayer(LayerIndex layer, bool visible, bool value);
    bool undo();
    bool redo();
    const Step* undoStep() const { return applied_ == 0 ? nullptr : &history_[applied_ - 1]; }
    const Step* redoStep() const { return applied_ == history_.size() ? nullptr : &history_[applied_]; }
    bool edited() const { return drawingSteps_ != 0; }
    std::uint64_t revision() const { return revision_; }
    ArtIndex byKey(std::string_view key);
    std::string saved(bool selectionOnly);

private:
    Document& doc() { return open_.document(); }
    const Document& doc() const { return open_.document(); }
    // Nodes are read through the const document: a node taken to change
    // would have the selection index rebuilt.
    const ArtNode& at(ArtIndex i) const { return doc().art(i); }
    bool selected(ArtIndex i) const { return (at(i).attributes & kArtSelected) != 0; }
    void checkPresent(const std::vector<ArtIndex>& objects) const;
    void setBits(ArtIndex index, ai::int32 mask, ai::int32 value, Step& step);
    void selectTree(ArtIndex top, bool on, Step& step);
    void clearSelection(Step& step);
    static void netChanges(Step& step);
    std::vector<ArtIndex> topmostSelected() const;
    bool ownElement(ArtIndex index) const;
    bool memberOfElement(ArtIndex index) const;
    void keepOnlyTargets(std::vector<ArtIndex>& targets) const;
    Forms readForms(ArtIndex index);
    Forms formsNow(ArtIndex index);
    void setForms(ArtIndex index, const Forms& forms, Step& step);
    bool readHiddenByForm(ArtIndex index, ai::int32 bit);
    EditOutcome commit(Step step, EditOutcome outcome);
    void apply(const Step& step, bool forward);
#if WENDLOW_BUILD_SVG
    const SvgElements& elements();
    void drawingSplices(std::vector<Splice>& splices);
    void selectionSplices(std::vector<Splice>& splices);
    std::shared_ptr<const std::string> text_;
    std::unique_ptr<SvgElements> elements_;
#endif

    OpenDocument& open_;
    std::vector<Step> history_;
    std::size_t applied_ = 0;  // steps of history_ in effect
    std::uint64_t revision_ = 0;
    std::int64_t drawingSteps_ = 0;  // applied steps that changed the drawing
    bool outside_ = false;
    std::string outsideLabel_;
    std::vector<ArtIndex> outsideBefore_;
    // Per object, its user attributes as read; per layer, its flags: what
    // Show All, Unlock All and the layer toggles compare with to tell the
    // saved forms from other causes.
    std::vector<ai::int32> readAttributes_;
    std::vector<Layer> readLayers_;
    std::unordered_map<std::string, ArtIndex> keys_;
    // The forms of the objects whose element was edited, by object.
    std::unordered_map<ArtIndex, Forms> forms_;
};

}  // namespace

struct Editor::State : Edits {
    using Edits::Edits;
};

Edits::Edits(OpenDocument& open) : open_(open) {
    const Document& d = doc();
    readAttributes_.resize(d.artCount());
    for (std::size_t i = 0; i < d.artCount(); ++i) readAttributes_[i] = d.art(static_cast<ArtIndex>(i)).attributes;
    for (std::size_t l = 0; l < d.layerCount(); ++l) readLayers_.push_back(d.layer(static_cast<LayerIndex>(l)));
}

// ---- Selection ------------------------------------------------------------

std::vector<ArtIndex> Edits::selectable() const {
    std::vector<ArtIndex> found;
    const Document& d = doc();
    for (std::size_t l = 0; l < d.layerCount(); ++l) {
        const Layer& layer = d.layer(static_cast<LayerIndex>(l));
        if (!layer.visible || !layer.editable) continue;
        for (ArtIndex c = d.art(layer.root).firstChild; c != kNone; c = d.art(c).nextSibling) {
            const ArtNode& node = d.art(c);
            if ((node.attributes & (kArtHidden | kArtLocked)) == 0 && !(node.type == kPathArt && node.guide))
                found.push_back(c);
        }
    }
    return found;
}

void Edits::checkPresent(const std::vector<ArtIndex>& objects) const {
    for (const ArtIndex i : objects)
        if (!doc().hasArt(i)) throw std::invalid_argument("no object " + std::to_string(i) + " in the document");
}

void Edits::setBits(ArtIndex index, ai::int32 mask, ai::int32 value, Step& step) {
    const ai::int32 before = at(index).attributes;
    const ai::int32 after = (before & ~mask) | (value & mask);
    if (before == after) return;
    step.attributes.push_back({index, before, after});
    doc().setUserAttributes(index, mask, value);
}

// An object and its members, as the plug-in selects a group: guides below
// it keep their bit, as the plug-in's walk leaves them; a guide named
// itself is selected.
void Edits::selectTree(ArtIndex top, bool on, Step& step) {
    std::vector<ArtIndex> pending = {top};
    while (!pending.empty()) {
        const ArtIndex index = pending.back();
        pending.pop_back();
        const ArtNode& node = at(index);
        if (index == top || !(node.type == kPathArt && node.guide))
            setBits(index, kArtSelected, on ? kArtSelected : 0, step);
        if (node.resultGroup != kNone) pending.push_back(node.resultGroup);
        for (ArtIndex c = node.firstChild; c != kNone; c = at(c).nextSibling) pending.push_back(c);
    }
}

void Edits::clearSelection(Step& step) {
    for (const ArtIndex index : doc().selected()) setBits(index, kArtSelected, 0, step);
}

EditOutcome Edits::select(SelectOp op, const std::vector<ArtIndex>& objects) {
    static const char* const kLabels[] = {"Select All", "Deselect", "Select Inverse", "Select", "Add to Selection",
                                          "Remove from Selection", "Toggle Selection"};
    Step step;
    step.label = kLabels[static_cast<int>(op)];
    switch (op) {
        case SelectOp::kAll:
            for (const ArtIndex top : selectable()) selectTree(top, true, step);
            break;
        case SelectOp::kNone:
            clearSelection(step);
            break;
        case SelectOp::kInverse:
            for (const ArtIndex top : selectable()) selectTree(top, !selected(top), step);
            break;
        case SelectOp::kSet:
            checkPresent(objects);
            clearSelection(step);
            for (const ArtIndex i : objects) selectTree(i, true, step);
            break;
        case SelectOp::kAdd:
        case SelectOp::kRemove:
            checkPresent(objects);
            for (const ArtIndex i : objects) selectTree(i, op == SelectOp::kAdd, step);
            break;
        case SelectOp::kToggle: {
            checkPresent(objects);
            std::vector<bool> was;
            for (const ArtIndex i : objects) was.push_back(selected(i));
            for (std::size_t k = 0; k < objects.size(); ++k) selectTree(objects[k], !was[k], step);
            break;
        }
    }
    if (op == SelectOp::kSet || op == SelectOp::kToggle) netChanges(step);
    EditOutcome outcome;
    outcome.changed = step.attributes.size();
    outcome.message = std::to_string(doc().selected().size()) + " selected.";
    return commit(std::move(step), std::move(outcome));
}

// One change per object: a kSet that ends where it began changed nothing,
// though bits moved on the way.
void Edits::netChanges(Step& step) {
    std::vector<AttributeChange> net;
    std::unordered_map<ArtIndex, std::size_t> at;
    for (const AttributeChange& c : step.attributes) {
        const auto found = at.find(c.index);
        if (found == at.end()) {
            at.emplace(c.index, net.size());
            net.push_back(c);
        } else {
            net[found->second].after = c.after;
        }
    }
    net.erase(std::remove_if(net.begin(), net.end(), [](const AttributeChange& c) { return c.before == c.after; }),
              net.end());
    step.attributes = std::move(net);
}

void Edits::beginOutside(std::string label) {
    outside_ = true;
    outsideLabel_ = std::move(label);
    outsideBefore_ = doc().selected();
}

EditOutcome Edits::endOutside() {
    if (!outside_) throw std::logic_error("endOutside without beginOutside");
    outside_ = false;
    const std::vector<ArtIndex> after = doc().selected();
    std::vector<ArtIndex> before = std::move(outsideBefore_);
    std::vector<ArtIndex> gone, came;
    std::sort(before.begin(), before.end());
    std::vector<ArtIndex> now = after;
    std::sort(now.begin(), now.end());
    std::set_difference(before.begin(), before.end(), now.begin(), now.end(), std::back_inserter(gone));
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(came));
    Step step;
    step.label = std::move(outsideLabel_);
    for (const ArtIndex i : gone) {
        const ai::int32 a = at(i).attributes;
        step.attributes.push_back({i, a | kArtSelected, a});
    }
    for (const ArtIndex i : came) {
        const ai::int32 a = at(i).attributes;
        step.attributes.push_back({i, a & ~kArtSelected, a});
    }
    EditOutcome outcome;
    outcome.changed = step.attributes.size();
    outcome.message = std::to_string(after.size()) + " selected.";
    return commit(std::move(step), std::move(outcome));
}

// ---- History --------------------------------------------------------------

EditOutcome Edits::commit(Step step, EditOutcome outcome) {
    if (step.empty()) return outcome;
    history_.resize(applied_);  // a new step clears what could be redone
    if (step.drawing()) {
        ++drawingSteps_;
        ++revision_;
    }
    history_.push_back(std::move(step));
    if (history_.size() > kMaxSteps) history_.erase(history_.begin());
    applied_ = history_.size();
    return outcome;
}

void Edits::apply(const Step& step, bool forward) {
    if (forward) {
        for (const AttributeChange& c : step.attributes) doc().setUserAttributes(c.index, ~0, c.after);
        if (!step.removed.empty()) doc().unlink(step.removed);
    } else {
        if (!step.removed.empty()) doc().relink(step.removed, step.placements);
        for (auto c = step.attributes.rbegin(); c != step.attributes.rend(); ++c)
            doc().setUserAttributes(c->index, ~0, c->before);
    }
    for (const LayerChange& c : step.layers) doc().layer(c.layer) = forward ? c.after : c.before;
    for (const FormChange& c : step.forms) forms_[c.index] = forward ? c.after : c.before;
    if (step.drawing()) {
        drawingSteps_ += forward ? 1 : -1;
        ++revision_;
    }
}

bool Edits::undo() {
    if (applied_ == 0) return false;
    apply(history_[--applied_], false);
    return true;
}

bool Edits::redo() {
    if (applied_ == history_.size()) return false;
    apply(history_[applied_++], true);
    return true;
}

ArtIndex Edits::byKey(std::string_view key) {
    if (keys_.empty()) {
        keys_.reserve(doc().artCount());
        for (std::size_t i = 0; i < doc().artCount(); ++i) keys_.emplace(open_.idOf(static_cast<ArtIndex>(i)), i);
    }
    const auto found = keys_.find(std::string(key));
    return found == keys_.end() || !doc().hasArt(found->second) ? kNone : found->second;
}

// ---- Edits ----------------------------------------------------------------

// Selected objects with no selected object above them, in document order.
std::vector<ArtIndex> Edits::topmostSelected() const {
    std::vector<ArtIndex> found;
    for (const ArtIndex index : doc().selected()) {
        bool below = false;
        for (ArtIndex p = at(index).parent; p != kNone && !below; p = at(p).parent) below = selected(p);
        if (!below) found.push_back(index);
    }
    return found;
}

// Whether the object is one part of an element of the drawing (a subpath
// of a <path>): it cannot be cut or styled alone.
bool Edits::memberOfElement(ArtIndex index) const {
    const SvgDocument* svg = open_.drawing();
    const auto i = static_cast<std::size_t>(index);
    return svg != nullptr && i < svg->subpath.size() && svg->subpath[i] != 0;
}

bool Edits::ownElement(ArtIndex index) const {
    const SvgDocument* svg = open_.drawing();
    const auto i = static_cast<std::size_t>(index);
    return svg != nullptr && i < svg->elementOrdinal.size() && svg->elementOrdinal[i] != SvgDocument::kNoElement &&
           svg->subpath[i] == 0;
}

// What Keep Only Selection removes: what All may select that neither is
// selected nor holds a selected object, looking into the groups that do
// (not into a compound path: its paths go with it).
void Edits::keepOnlyTargets(std::vector<ArtIndex>& targets) const {
    std::vector<std::uint8_t> holds(doc().artCount(), 0);
    for (const ArtIndex index : doc().selected())
        for (ArtIndex p = at(index).parent; p != kNone && !holds[static_cast<std::size_t>(p)];
             p = at(p).parent)
            holds[static_cast<std::size_t>(p)] = 1;
    std::vector<ArtIndex> candidates = selectable();
    std::vector<ArtIndex> pending(candidates.rbegin(), candidates.rend());
    while (!pending.empty()) {
        const ArtIndex index = pending.back();
        pending.pop_back();
        const ArtNode& node = at(index);
        if ((node.attributes & (kArtHidden | kArtLocked)) != 0 || node.guide || selected(index)) continue;
        if (!holds[static_cast<std::size_t>(index)]) {
            targets.push_back(index);
            continue;
        }
        if (node.type == kCompoundPathArt) continue;
        std::vector<ArtIndex> children;
        for (ArtIndex c = node.firstChild; c != kNone; c = at(c).nextSibling) children.push_back(c);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
}

EditOutcome Edits::remove(bool keepOnly) {
    Step step;
    step.label = keepOnly ? "Keep Only Selection" : "Delete";
    EditOutcome outcome;
    std::vector<ArtIndex> targets;
    if (doc().selected().empty()) {
        outcome.message = "Nothing is selected.";
        return outcome;
    }
    if (keepOnly) {
        keepOnlyTargets(targets);
    } else {
        for (const ArtIndex index : topmostSelected()) {
            const ArtNode& node = at(index);
            // A layer's root, a plugin group's result and one subpath of
            // a <path> are parts of something else: they stay.
            const bool part = node.parent == kNone || at(node.parent).resultGroup == index || memberOfElement(index);
            if (part) ++outcome.untouched;
            else targets.push_back(index);
        }
    }
    if (!targets.empty()) step.placements = doc().unlink(targets);
    step.removed = std::move(targets);
    outcome.changed = step.removed.size();
    outcome.message = (keepOnly ? "Removed " : "Deleted ") + plural(outcome.changed, "object", "objects") + ".";
    if (outcome.untouched != 0)
        outcome.message += " " + plural(outcome.untouched, "part stays", "parts stay") +
                           ": a subpath goes with its whole path.";
    return commit(std::move(step), std::move(outcome));
}

EditOutcome Edits::conceal(ai::int32 bit) {
    const bool hide = bit == kArtHidden;
    Step step;
    step.label = hide ? "Hide Selection" : "Lock Selection";
    EditOutcome outcome;
    for (const ArtIndex top : topmostSelected()) {
        const ArtNode& node = at(top);
        // Guides hide and lock with their layer; a part of an element has
        // no start tag of its own to carry the form.
        if (node.parent == kNone || (node.type == kPathArt && node.guide) || memberOfElement(top)) {
            ++outcome.untouched;
            continue;
        }
        std::vector<ArtIndex> pending = {top};
        while (!pending.empty()) {
            const ArtIndex index = pending.back();
            pending.pop_back();
            setBits(index, bit | kArtSelected, bit, step);
            const ArtNode& n = at(index);
            if (n.resultGroup != kNone) pending.push_back(n.resultGroup);
            for (ArtIndex c = n.firstChild; c != kNone; c = at(c).nextSibling) pending.push_back(c);
        }
        if (ownElement(top)) {
            Forms forms = formsNow(top);
            (hide ? forms.hidden : forms.locked) = true;
            if (hide) forms.shown = false;
            setForms(top, forms, step);
        }
        ++outcome.changed;
    }
    outcome.message = (hide ? "Hid " : "Locked ") + plural(outcome.changed, "object", "objects") + ".";
    if (outcome.untouched != 0)
        outcome.message += " " + plural(outcome.untouched, "guide or part stays", "guides or parts stay") + " as it was.";
    return commit(std::move(step), std::move(outcome));
}

// Whether the object was read hidden (or locked) by its own element's form.
bool Edits::readHiddenByForm(ArtIndex index, ai::int32 bit) {
    if ((readAttributes_[static_cast<std::size_t>(index)] & bit) == 0 || !ownElement(index)) return false;
    const Forms forms = readForms(index);
    return bit == kArtHidden ? forms.hidden : forms.locked;
}

EditOutcome Edits::reveal(ai::int32 bit) {
    const bool show = bit == kArtHidden;
    Step step;
    step.label = show ? "Show All" : "Unlock All";
    EditOutcome outcome;
    // Per object: whether a form read on it or an ancestor below its layer
    // explains the bit it was read with; what else explains it stays.
    std::vector<std::uint8_t> byForm(doc().artCount(), 0);
    const std::vector<ArtIndex> order = doc().documentOrder();
    for (const ArtIndex index : order) {
        const ArtNode& node = at(index);
        if (node.parent == kNone) continue;
        const bool parentBelowLayer = at(node.parent).parent != kNone;
        byForm[static_cast<std::size_t>(index)] =
            readHiddenByForm(index, bit) || (parentBelowLayer && byForm[static_cast<std::size_t>(node.parent)]);
        if ((node.attributes & bit) == 0 || (node.type == kPathArt && node.guide)) continue;
        if (ownElement(index)) {
            Forms forms = formsNow(index);
            (show ? forms.hidden : forms.locked) = false;
            setForms(index, forms, step);
        }
        const bool readWithIt = (readAttributes_[static_cast<std::size_t>(index)] & bit) != 0;
        const bool otherCause = open_.drawing() != nullptr && readWithIt && !byForm[static_cast<std::size_t>(index)];
        if (otherCause) {
            ++outcome.untouched;
        } else {
            setBits(index, bit, 0, step);
            ++outcome.changed;
        }
    }
    outcome.message = (show ? "Showed " : "Unlocked ") + plural(outcome.changed, "object", "objects") + ".";
    if (outcome.untouched != 0)
        outcome.message += " " + plural(outcome.untouched, "object stays", "objects stay") +
                           (show ? " hidden" : " locked") + " by other means (style sheets, visibility, conditions, an ancestor).";
    return commit(std::move(step), std::move(outcome));
}

EditOutcome Edits::setLayer(LayerIndex layer, bool visible, bool value) {
    if (!doc().hasLayer(layer)) throw std::invalid_argument("no layer " + std::to_string(layer) + " in the document");
    Step step;
    step.label = visible ? (value ? "Show Layer" : "Hide Layer") : (value ? "Unlock Layer" : "Lock Layer");
    EditOutcome outcome;
    Layer after = doc().layer(layer);
    ASBoolean& flag = visible ? after.visible : after.editable;
    if ((flag != 0) != value) {
        flag = value ? 1 : 0;
        step.layers.push_back({layer, doc().layer(layer), after});
        doc().layer(layer) = after;
        const ArtIndex root = doc().rootOf(layer);
        if (ownElement(root)) {
            Forms forms = formsNow(root);
            if (visible) {
                forms.hidden = !value;
                // Hidden when read by something besides its own form: shown
                // over it, as Inkscape shows such a layer.
                forms.shown = value && !readLayers_[static_cast<std::size_t>(layer)].visible && !readForms(root).hidden;
            } else {
                forms.locked = !value;
            }
            setForms(root, forms, step);
        }
        outcome.changed = 1;
    }
    outcome.message = "Layer " + doc().layer(layer).name + (visible ? (value ? " shown." : " hidden.") : (value ? " unlocked." : " locked."));
    return commit(std::move(step), std::move(outcome));
}

// ---- Saved forms and the saved drawing --------------------------------------

Forms Edits::formsNow(ArtIndex index) {
    const auto found = forms_.find(index);
    return found != forms_.end() ? found->second : readForms(index);
}

void Edits::setForms(ArtIndex index, const Forms& forms, Step& step) {
    const Forms now = formsNow(index);
    if (now == forms) return;
    step.forms.push_back({index, now, forms});
    forms_[index] = forms;
}

#if WENDLOW_BUILD_SVG
const SvgElements& Edits::elements() {
    if (!elements_) {
        if (!text_) text_ = open_.drawingText();
        if (!text_) throw DocumentError(kNotADrawing);
        elements_ = std::make_unique<SvgElements>(SvgElements::scan(*text_, "the drawing"));
    }
    return *elements_;
}

Forms Edits::readForms(ArtIndex index) {
    if (!ownElement(index)) return {};
    const SvgElements& e = elements();
    const ElementSpan& span = e.spans[open_.drawing()->elementOrdinal[static_cast<std::size_t>(index)]];
    const TagForms forms = formsOf(std::string_view(*text_).substr(span.start, span.tagEnd - span.start), e.sodipodiPrefix);
    return {forms.hidden, forms.locked, forms.shown};
}
#else
Forms Edits::readForms(ArtIndex) { return {}; }
#endif

#if WENDLOW_BUILD_SVG
// Cuts for the deleted elements, start tags for the changed forms, and the
// sodipodi namespace on the root when a lock needs it.
void Edits::drawingSplices(std::vector<Splice>& splices) {
    const Document& d = doc();
    const SvgDocument& svg = *open_.drawing();
    for (std::size_t i = 0; i < d.artCount(); ++i) {
        const ArtNode& node = d.art(static_cast<ArtIndex>(i));
        if (!node.unlinked || (node.parent != kNone && d.art(node.parent).unlinked)) continue;
        if (ownElement(static_cast<ArtIndex>(i))) cutElement(*text_, elements(), svg.elementOrdinal[i], splices);
    }
    bool declare = false;
    for (const auto& [index, forms] : forms_) {
        if (d.art(index).unlinked || !ownElement(index)) continue;
        const Forms read = readForms(index);
        if (forms == read) continue;
        const SvgElements& e = elements();
        const ElementSpan& span = e.spans[svg.elementOrdinal[static_cast<std::size_t>(index)]];
        const std::string& prefix = e.sodipodiPrefix.empty() ? std::string("sodipodi") : e.sodipodiPrefix;
        const std::string_view tag = std::string_view(*text_).substr(span.start, span.tagEnd - span.start);
        splices.push_back({span.start, span.tagEnd, withForms(tag, {forms.hidden, forms.locked, forms.shown}, prefix)});
        declare = declare || (forms.locked && e.sodipodiPrefix.empty());
    }
    if (declare) {
        const ElementSpan& root = elements().spans.front();
        splices.push_back(
            {root.start, root.tagEnd, withSodipodiDeclared(std::string_view(*text_).substr(root.start, root.tagEnd - root.start))});
    }
}

// Cuts for every art element that is neither selected, nor holds a
// selected object, nor lies below one. Guides stay with the named view.
void Edits::selectionSplices(std::vector<Splice>& splices) {
    const Document& d = doc();
    const SvgDocument& svg = *open_.drawing();
    enum : std::uint8_t { kHolds = 1, kUnder = 2, kCut = 4 };
    std::vector<std::uint8_t> mark(d.artCount(), 0);
    for (const ArtIndex index : d.selected())
        for (ArtIndex p = d.art(index).parent; p != kNone && !(mark[static_cast<std::size_t>(p)] & kHolds); p = d.art(p).parent)
            mark[static_cast<std::size_t>(p)] |= kHolds;
    for (const ArtIndex index : d.documentOrder()) {
        const ArtNode& node = d.art(index);
        std::uint8_t& m = mark[static_cast<std::size_t>(index)];
        const std::uint8_t above = node.parent == kNone ? 0 : mark[static_cast<std::size_t>(node.parent)];
        if (above & kCut) {
            m |= kCut;
            continue;
        }
        if (selected(index) || (above & kUnder)) m |= kUnder;
        if ((m & (kHolds | kUnder)) || (node.type == kPathArt && node.guide) || !ownElement(index)) continue;
        cutElement(*text_, elements(), svg.elementOrdinal[static_cast<std::size_t>(index)], splices);
        m |= kCut;
    }
}

std::string Edits::saved(bool selectionOnly) {
    if (open_.drawing() == nullptr) throw DocumentError(kNotADrawing);
    if (!text_) text_ = open_.drawingText();
    if (!text_) throw DocumentError(kNotADrawing);
    std::vector<Splice> splices;
    drawingSplices(splices);
    if (selectionOnly) selectionSplices(splices);
    return splices.empty() ? *text_ : spliced(*text_, std::move(splices));
}
#else
std::string Edits::saved(bool) { throw DocumentError(kNotADrawing); }
#endif

// ---- Editor -----------------------------------------------------------------

Editor::Editor(OpenDocument& open) : open_(open), state_(std::make_unique<State>(open)) {}
Editor::~Editor() = default;

std::vector<ArtIndex> Editor::selectable() { return state_->selectable(); }
EditOutcome Editor::select(SelectOp op, const std::vector<ArtIndex>& objects) { return state_->select(op, objects); }
void Editor::beginOutside(std::string label) { state_->beginOutside(std::move(label)); }
EditOutcome Editor::endOutside() { return state_->endOutside(); }
EditOutcome Editor::deleteSelection() { return state_->remove(false); }
EditOutcome Editor::keepOnlySelection() { return state_->remove(true); }
EditOutcome Editor::hideSelection() { return state_->conceal(kArtHidden); }
EditOutcome Editor::lockSelection() { return state_->conceal(kArtLocked); }
EditOutcome Editor::showAll() { return state_->reveal(kArtHidden); }
EditOutcome Editor::unlockAll() { return state_->reveal(kArtLocked); }
EditOutcome Editor::setLayerVisible(LayerIndex layer, bool visible) { return state_->setLayer(layer, true, visible); }
EditOutcome Editor::setLayerEditable(LayerIndex layer, bool editable) { return state_->setLayer(layer, false, editable); }
bool Editor::canUndo() const { return state_->undoStep() != nullptr; }
bool Editor::canRedo() const { return state_->redoStep() != nullptr; }
std::string Editor::undoLabel() const { return canUndo() ? state_->undoStep()->label : std::string(); }
std::string Editor::redoLabel() const { return canRedo() ? state_->redoStep()->label : std::string(); }
bool Editor::undo() { return state_->undo(); }
bool Editor::redo() { return state_->redo(); }
bool Editor::edited() const { return state_->edited(); }
std::uint64_t Editor::revision() const { return state_->revision(); }
ArtIndex Editor::byKey(std::string_view key) { return state_->byKey(key); }
bool Editor::present(ArtIndex index) const { return open_.document().hasArt(index); }
std::string Editor::savedSvg() { return state_->saved(false); }
std::string Editor::exportedSelectionSvg() { return state_->saved(true); }

}  // namespace simhost
