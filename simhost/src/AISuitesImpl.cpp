// The document suites (Art, Layer, Path, Path Style, Plugin Group, Matching
// Art, MdMemory), the User suite's number conversions and the Unicode
// String suite.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "DocumentRoom.h"
#include "Handles.h"
#include "IAIUnicodeString.h"
#include "SuiteRoom.h"
#include "Suites.h"

namespace simhost {

namespace {

std::string showArt(AIArtHandle art) {
    const auto index = handleIndex(HandleKind::kArt, art);
    return index ? "art#" + std::to_string(*index) : showPointer(art);
}

// Passes the gate for an operation on one art object and resolves it.
// Returns the code to end the call with; *node is set when it is 0.
template <typename Out>
ASErr enterArt(DocumentRoom& room, Op op, AIArtHandle art, Out* out, const ArtNode** node) {
    if (ASErr err = room.gate().enter(op, CallSubject{art, nullptr}, [&] { return showArt(art); })) return err;
    *node = room.artOf(art, opInfo(op).label);
    if (*node == nullptr) return kBadParameterErr;
    if (out == nullptr) return room.badParameter(opInfo(op).label, "null result pointer");
    return kNoErr;
}

// No type required of the object.
constexpr AIArtType kAnyType = -1;

const ArtNode* requireType(DocumentRoom& room, const ArtNode* node, AIArtType type, Op op) {
    if (node != nullptr && node->type != type) {
        room.badParameter(opInfo(op).label, "object of type " + std::to_string(node->type));
        return nullptr;
    }
    return node;
}

// The common case of a read-only query: no plan, no log, a live handle of
// the required type and somewhere to put the answer. Counts the call only
// when it returns the node; in any other case the full path runs instead.
// It needs no stack frame, which is most of what a host call costs.
template <AIArtType Required, typename Out>
__attribute__((always_inline)) inline const ArtNode* quickArt(DocumentRoom& room, Op op, AIArtHandle art,
                                                              const Out* out) {
    const auto value = reinterpret_cast<std::uintptr_t>(art);
    if ((value & kHandleTagMask) != static_cast<std::uintptr_t>(HandleKind::kArt) || out == nullptr)
        return nullptr;
    const ArtNode* node = std::as_const(room.document()).nodeAt(value >> kHandleTagBits);
    if (node == nullptr || (Required != kAnyType && node->type != Required)) return nullptr;
    if (!room.gate().countIfQuiet(op)) return nullptr;
    return node;
}

// Every check in its order: the gate (which may fail the call), the handle,
// the result pointer, the object's type.
template <AIArtType Required, typename Out, typename Answer>
__attribute__((noinline)) ASErr fullQueryArt(DocumentRoom& room, Op op, AIArtHandle art, Out* out, Answer answer) {
    const ArtNode* node = nullptr;
    if (ASErr err = enterArt(room, op, art, out, &node)) return err;
    if (Required != kAnyType && !requireType(room, node, Required, op)) return kBadParameterErr;
    answer(room, *node, out);
    return kNoErr;
}

// A read-only query on one art object; `answer` fills *out from the node.
template <AIArtType Required, typename Out, typename Answer>
__attribute__((always_inline)) inline ASErr queryArt(Op op, AIArtHandle art, Out* out, Answer answer) {
    DocumentRoom& room = DocumentRoom::current();
    if (const ArtNode* node = quickArt<Required>(room, op, art, out)) {
        answer(room, *node, out);
        return kNoErr;
    }
    return fullQueryArt<Required>(room, op, art, out, answer);
}

AIArtHandle handleOrNull(DocumentRoom& room, ArtIndex index) {
    return index == kNone ? nullptr : room.artHandle(index);
}

// ---- Art suite ----------------------------------------------------------

ASErr GetArtLayer(AIArtHandle art, AILayerHandle* layer) {
    return queryArt<kAnyType>(
        Op::GetArtLayer, art, layer, [](DocumentRoom& room, const ArtNode& node, AILayerHandle* out) {
            *out = node.reportNoLayer || node.layer == kNone ? nullptr : room.layerHandle(node.layer);
        });
}

ASErr GetArtType(AIArtHandle art, AIArtType* type) {
    return queryArt<kAnyType>(Op::GetArtType, art, type,
                              [](DocumentRoom&, const ArtNode& node, AIArtType* out) { *out = node.type; });
}

ASErr GetArtUserAttr(AIArtHandle art, ai::int32 whichAttr, ai::int32* attr) {
    return queryArt<kAnyType>(
        Op::GetArtUserAttr, art, attr,
        [whichAttr](DocumentRoom&, const ArtNode& node, ai::int32* out) { *out = node.attributes & whichAttr; });
}

__attribute__((noinline)) ASErr fullSetArtUserAttr(DocumentRoom& room, AIArtHandle art, ai::int32 whichAttr,
                                                   ai::int32 attr) {
    if (ASErr err = room.gate().enter(Op::SetArtUserAttr, CallSubject{art, nullptr}, [&] {
            return showArt(art) + ", " + std::to_string(whichAttr) + ", " + std::to_string(attr);
        }))
        return err;
    const auto index = room.artIndexOf(art);
    if (!index) return room.badParameter("set-user-attr", art == nullptr ? "null art handle" : "unknown art handle");
    room.document().setUserAttributes(*index, whichAttr, attr);
    return kNoErr;
}

ASErr SetArtUserAttr(AIArtHandle art, ai::int32 whichAttr, ai::int32 attr) {
    DocumentRoom& room = DocumentRoom::current();
    const auto index = room.artIndexOf(art);
    if (index && room.gate().countIfQuiet(Op::SetArtUserAttr)) {
        room.document().setUserAttributes(*index, whichAttr, attr);
        return kNoErr;
    }
    return fullSetArtUserAttr(room, art, whichAttr, attr);
}

ASErr GetArtParent(AIArtHandle art, AIArtHandle* parent) {
    return queryArt<kAnyType>(Op::GetArtParent, art, parent,
                              [](DocumentRoom& room, const ArtNode& node, AIArtHandle* out) {
                                  *out = node.reportNoParent ? nullptr : handleOrNull(room, node.parent);
                              });
}

ASErr GetArtFirstChild(AIArtHandle art, AIArtHandle* child) {
    return queryArt<kAnyType>(
        Op::GetArtFirstChild, art, child,
        [](DocumentRoom& room, const ArtNode& node, AIArtHandle* out) { *out = handleOrNull(room, node.firstChild); });
}

ASErr GetArtSibling(AIArtHandle art, AIArtHandle* sibling) {
    return queryArt<kAnyType>(
        Op::GetArtSibling, art, sibling,
        [](DocumentRoom& room, const ArtNode& node, AIArtHandle* out) { *out = handleOrNull(room, node.nextSibling); });
}

// ---- Path, Path Style, Plugin Group ------------------------------------------

ASErr GetPathClosed(AIArtHandle path, ASBoolean* closed) {
    return queryArt<kPathArt>(Op::GetPathClosed, path, closed,
                              [](DocumentRoom&, const ArtNode& node, ASBoolean* out) { *out = node.closed; });
}

ASErr GetPathGuide(AIArtHandle path, ASBoolean* isGuide) {
    return queryArt<kPathArt>(Op::GetPathGuide, path, isGuide,
                              [](DocumentRoom&, const ArtNode& node, ASBoolean* out) { *out = node.guide; });
}

ASErr GetPathStyle(AIArtHandle path, AIPathStyle* style) {
    return queryArt<kPathArt>(Op::GetPathStyle, path, style, [](DocumentRoom&, const ArtNode& node, AIPathStyle* out) {
        std::memset(out, 0, sizeof *out);
        out->fillPaint = node.fillPaint;
        out->strokePaint = node.strokePaint;
        out->dashCount = node.dashCount;
    });
}

ASErr GetPluginArtResultArt(AIArtHandle pluginArt, AIArtHandle* resultGroup) {
    return queryArt<kPluginArt>(Op::GetResultGroup, pluginArt, resultGroup,
                                [](DocumentRoom& room, const ArtNode& node, AIArtHandle* out) {
                                    *out = handleOrNull(room, node.resultGroup);
                                });
}

// ---- Layer suite ---------------------------------------------------------------

template <ASBoolean Layer::*Flag>
__attribute__((noinline)) ASErr fullLayerFlag(DocumentRoom& room, Op op, AILayerHandle layer, ASBoolean* value) {
    if (ASErr err = room.gate().enter(op, CallSubject{layer, nullptr}, [&] { return showPointer(layer); })) return err;
    Layer* found = room.layerOf(layer, opInfo(op).label);
    if (found == nullptr) return kBadParameterErr;
    if (value == nullptr) return room.badParameter(opInfo(op).label, "null result pointer");
    *value = found->*Flag;
    return kNoErr;
}

template <ASBoolean Layer::*Flag>
ASErr layerFlag(Op op, AILayerHandle layer, ASBoolean* value) {
    DocumentRoom& room = DocumentRoom::current();
    const auto index = handleIndex(HandleKind::kLayer, layer);
    const Document& document = room.document();
    if (value != nullptr && index && document.hasLayer(*index) && room.gate().countIfQuiet(op)) {
        *value = document.layer(static_cast<LayerIndex>(*index)).*Flag;
        return kNoErr;
    }
    return fullLayerFlag<Flag>(room, op, layer, value);
}

ASErr GetLayerVisible(AILayerHandle layer, ASBoolean* visible) {
    return layerFlag<&Layer::visible>(Op::GetLayerVisible, layer, visible);
}

ASErr GetLayerEditable(AILayerHandle layer, ASBoolean* editable) {
    return layerFlag<&Layer::editable>(Op::GetLayerEditable, layer, editable);
}

// ---- Matching Art and MdMemory ---------------------------------------------------

ASErr handOut(DocumentRoom& room, std::vector<AIArtHandle> found, AIArtHandle*** matches, ai::int32* count) {
    const MatchingOptions& options = room.matching();
    if (options.shuffle) {
        std::mt19937_64 random(options.shuffleSeed);
        std::shuffle(found.begin(), found.end(), random);
    }
    *count = static_cast<ai::int32>(found.size());
    *matches = found.empty() && options.nullHandleForEmpty ? nullptr
                                                          : room.ledger().newArtArray(std::move(found));
    return kNoErr;
}

template <typename Wanted>
std::vector<AIArtHandle> collect(DocumentRoom& room, Wanted&& wanted) {
    const Document& document = room.document();
    std::vector<AIArtHandle> found = room.ledger().spareArtArray();
    for (ArtIndex index : document.documentOrder()) {
        const ArtNode& node = document.art(index);
        if (!wanted(node)) continue;
        found.push_back(room.artHandle(index));
        if (node.listedTwice) found.push_back(room.artHandle(index));
    }
    return found;
}

bool matchesRecord(const ArtNode& node, const MatchRecord& record) {
    return node.type == record.type && (node.attributes & record.whichAttr) == (record.attr & record.whichAttr);
}

// One record: the document's list of that type, with no walk over the rest.
std::vector<AIArtHandle> collectOfType(DocumentRoom& room, const MatchRecord& record) {
    const Document& document = room.document();
    const std::vector<ArtIndex>& ofType = document.ofType(record.type);
    std::vector<AIArtHandle> found = room.ledger().spareArtArray();
    found.reserve(ofType.size());
    if (record.whichAttr == 0 && !document.anyListedTwice()) {
        // Nothing to look at in the objects themselves: just their handles.
        for (ArtIndex index : ofType) found.push_back(room.artHandle(index));
        return found;
    }
    for (ArtIndex index : ofType) {
        const ArtNode& node = document.art(index);
        if (!matchesRecord(node, record)) continue;
        found.push_back(room.artHandle(index));
        if (node.listedTwice) found.push_back(room.artHandle(index));
    }
    return found;
}

// A failed query normally hands out nothing; as a lever it can hand out a
// handle all the same, which the caller then owns.
ASErr failQuery(DocumentRoom& room, ASErr err, AIArtHandle*** matches, ai::int32* count) {
    if (matches == nullptr || count == nullptr) return err;
    *matches = nullptr;
    if (room.matching().handleOnFailure) {
        *matches = room.ledger().newArtArray({});
        *count = 0;
    }
    return err;
}

ASErr GetSelectedArt(AIArtHandle*** matches, ai::int32* count) {
    DocumentRoom& room = DocumentRoom::current();
    if (ASErr err = room.gate().enter(Op::GetSelectedArt)) return failQuery(room, err, matches, count);
    if (matches == nullptr || count == nullptr) return room.badParameter("get-selected-art", "null result pointer");
    // From the document's selection index, not a walk over every object.
    const Document& document = room.document();
    std::vector<AIArtHandle> found = room.ledger().spareArtArray();
    for (ArtIndex index : document.selected()) {
        found.push_back(room.artHandle(index));
        if (document.art(index).listedTwice) found.push_back(room.artHandle(index));
    }
    return handOut(room, std::move(found), matches, count);
}

ASErr GetMatchingArt(const MatchRecord* records, ai::int32 numRecords, AIArtHandle*** matches, ai::int32* count) {
    DocumentRoom& room = DocumentRoom::current();
    if (ASErr err = room.gate().enter(Op::GetMatchingArt, nullptr, [&] {
            std::string text = std::to_string(numRecords) + " record(s)";
            if (records != nullptr && numRecords > 0) text += ", type " + std::to_string(records[0].type);
            return text;
        }))
        return failQuery(room, err, matches, count);
    if (matches == nullptr || count == nullptr) return room.badParameter("get-matching-art", "null result pointer");
    if (numRecords < 0 || (numRecords > 0 && records == nullptr))
        return room.badParameter("get-matching-art", "no records");
    if (numRecords == 1) return handOut(room, collectOfType(room, records[0]), matches, count);
    return handOut(room,
                   collect(room,
                           [&](const ArtNode& node) {
                               for (ai::int32 i = 0; i < numRecords; ++i) {
                                   if (matchesRecord(node, records[i])) return true;
                               }
                               return false;
                           }),
                   matches, count);
}

ASErr MdMemoryDisposeHandle(AIMdMemoryHandle handle) {
    DocumentRoom& room = DocumentRoom::current();
    if (ASErr err =
            room.gate().enter(Op::DisposeHandle, CallSubject{handle, nullptr}, [&] { return showPointer(handle); }))
        return err;
    if (handle == nullptr || !room.ledger().disposeHandle(handle))
        return room.badParameter("dispose-handle", showPointer(handle) + " is not a live handle");
    return kNoErr;
}

// ---- User suite -----------------------------------------------------------------------

ASErr NumberToString(AIReal value, ai::int16 precision, unsigned char* text) {
    SuiteRoom& room = SuiteRoom::current();
    if (ASErr err = room.gate().enter(Op::NumberToString, nullptr, [&] {
            return std::to_string(value) + ", " + std::to_string(precision);
        }))
        return err;
    if (text == nullptr) return room.badParameter("number-to-string", "null buffer");
    if (precision < 0 || precision > 20) return room.badParameter("number-to-string", "precision out of range");
    char formatted[256];
    const int n = std::snprintf(formatted, sizeof formatted, "%.*f", static_cast<int>(precision),
                                static_cast<double>(value));
    const std::size_t length = std::min<std::size_t>(n < 0 ? 0 : static_cast<std::size_t>(n), 255);
    text[0] = static_cast<unsigned char>(length);
    std::memcpy(text + 1, formatted, length);
    return kNoErr;
}

ASErr StringToNumber(const unsigned char* text, AIReal* value) {
    SuiteRoom& room = SuiteRoom::current();
    if (ASErr err = room.gate().enter(Op::StringToNumber, nullptr, [&] {
            return text == nullptr ? std::string("null")
                                   : "\"" + std::string(reinterpret_cast<const char*>(text + 1), text[0]) + "\"";
        }))
        return err;
    if (text == nullptr || value == nullptr) return room.badParameter("string-to-number", "null argument");
    const std::string digits(reinterpret_cast<const char*>(text + 1), text[0]);
    const char* begin = digits.c_str();
    char* end = nullptr;
    const float number = std::strtof(begin, &end);
    // The whole text must be the number, give or take surrounding spaces.
    while (end != nullptr && *end == ' ') ++end;
    if (end == begin || end == nullptr || *end != 0) return kBadParameterErr;
    *value = number;
    return kNoErr;
}

// ---- Unicode String suite ----------------------------------------------------------

ASErr StringInitialize(ai::UnicodeString* str, const char* text, ai::int32 length, AICharacterEncoding encoding) {
    SuiteRoom& room = SuiteRoom::current();
    if (ASErr err = room.gate().enter(
            Op::StringInitialize,
            CallSubject{str, text, length < 0 ? 0 : static_cast<std::size_t>(length), 0, {length, encoding, 0}},
            [&] { return showText(text) + ", " + std::to_string(length) + ", " + std::to_string(encoding); }))
        return err;
    if (str == nullptr || length < 0 || (text == nullptr && length > 0))
        return room.badParameter("initialize", "null string object or text");
    // The object must be empty: a handle in it would be lost, or is garbage.
    if (const AIUnicodeStringHandle held = ai::UnicodeString::HandleOf(str))
        return room.refuse("string-already-initialised", "initialize",
                           "the object already holds " + showPointer(held));
    *ai::UnicodeString::HandleSlot(str) =
        room.ledger().newString(std::string(text == nullptr ? "" : text, static_cast<std::size_t>(length)));
    return kNoErr;
}

void StringDestroy(ai::UnicodeString* str) {
    SuiteRoom& room = SuiteRoom::current();
    if (room.gate().enter(Op::StringDestroy, CallSubject{str, nullptr}, [&] { return showPointer(str); })) return;
    if (str == nullptr) {
        room.badParameter("destroy", "null string object");
        return;
    }
    AIUnicodeStringHandle* slot = ai::UnicodeString::HandleSlot(str);
    if (*slot == nullptr) {
        room.refuse("string-not-initialised", "destroy", "the object holds no string");
        return;
    }
    if (!room.ledger().destroyString(*slot)) {
        room.badParameter("destroy", "string " + showPointer(*slot) + " is not live");
        return;
    }
    *slot = nullptr;
}

ASErr StringCopy(ai::UnicodeString* dest, const ai::UnicodeString* src) {
    SuiteRoom& room = SuiteRoom::current();
    if (ASErr err = room.gate().enter(Op::StringCopy, CallSubject{dest, nullptr}, [&] {
            return showPointer(dest) + ", " + showPointer(src);
        }))
        return err;
    if (dest == nullptr || src == nullptr) return room.badParameter("copy", "null string object");
    if (dest == src) return kNoErr;
    Ledger& ledger = room.ledger();
    const AIUnicodeStringHandle from = ai::UnicodeString::HandleOf(src);
    AIUnicodeStringHandle* to = ai::UnicodeString::HandleSlot(dest);
    if (from == nullptr) return room.refuse("string-not-initialised", "copy", "the source holds no string");
    const std::string* text = ledger.stringText(from);
    if (text == nullptr) return room.badParameter("copy", "source string is not live");
    if (*to != nullptr && !ledger.isLiveString(*to)) return room.badParameter("copy", "destination string is not live");
    if (*to != nullptr) {
        ledger.setStringText(*to, *text);
    } else {
        *to = ledger.newString(*text);
    }
    return kNoErr;
}

}  // namespace

void fillMdMemorySuite(void* table) {
    AIMdMemorySuite suite{};
    suite.MdMemoryDisposeHandle = MdMemoryDisposeHandle;
    storeTable(table, suite);
}

void fillArtSuite(void* table) {
    AIArtSuite suite{};
    suite.GetArtLayer = GetArtLayer;
    suite.GetArtType = GetArtType;
    suite.GetArtUserAttr = GetArtUserAttr;
    suite.SetArtUserAttr = SetArtUserAttr;
    suite.GetArtParent = GetArtParent;
    suite.GetArtFirstChild = GetArtFirstChild;
    suite.GetArtSibling = GetArtSibling;
    storeTable(table, suite);
}

void fillUserSuite(void* table) {
    AIUserSuite suite{};
    suite.NumberToString = NumberToString;
    suite.StringToNumber = StringToNumber;
    storeTable(table, suite);
}

void fillMatchingArtSuite(void* table) {
    AIMatchingArtSuite suite{};
    suite.GetSelectedArt = GetSelectedArt;
    suite.GetMatchingArt = GetMatchingArt;
    storeTable(table, suite);
}

void fillPathSuite(void* table) {
    AIPathSuite suite{};
    suite.GetPathClosed = GetPathClosed;
    suite.GetPathGuide = GetPathGuide;
    storeTable(table, suite);
}

void fillPathStyleSuite(void* table) {
    AIPathStyleSuite suite{};
    suite.GetPathStyle = GetPathStyle;
    storeTable(table, suite);
}

void fillLayerSuite(void* table) {
    AILayerSuite suite{};
    suite.GetLayerVisible = GetLayerVisible;
    suite.GetLayerEditable = GetLayerEditable;
    storeTable(table, suite);
}

void fillPluginGroupSuite(void* table) {
    AIPluginGroupSuite suite{};
    suite.GetPluginArtResultArt = GetPluginArtResultArt;
    storeTable(table, suite);
}

void fillUnicodeStringSuite(void* table) {
    AIUnicodeStringSuite suite{};
    suite.Initialize = StringInitialize;
    suite.Destroy = StringDestroy;
    suite.Copy = StringCopy;
    storeTable(table, suite);
}

}  // namespace simhost
