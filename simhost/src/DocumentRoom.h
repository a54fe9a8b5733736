// The document as plug-ins see it: handles for its objects and layers, and
// how the host answers matching queries. The handle plumbing is inline: it
// runs on every call of the document suites.
#pragma once

#include <optional>
#include <utility>

#include "Handles.h"
#include "Room.h"
#include "simhost/Document.h"
#include "simhost/MatchingOptions.h"

namespace simhost {

class DocumentRoom : public Room {
public:
    using Room::Room;

    static DocumentRoom& current() { return Current<DocumentRoom>::get(); }

    Document& document() { return *document_; }
    void setDocument(Document document) {
        own_ = std::move(document);
        document_ = &own_;
    }
    // Works on `document`, which stays its owner's, until lent nullptr.
    void lendDocument(Document* document) { document_ = document != nullptr ? document : &own_; }
    MatchingOptions& matching() { return matching_; }

    AIArtHandle artHandle(ArtIndex index) const {
        return makeHandle<AIArtHandle>(HandleKind::kArt, static_cast<std::uint32_t>(index));
    }
    std::optional<ArtIndex> artIndexOf(AIArtHandle handle) const {
        const auto index = handleIndex(HandleKind::kArt, handle);
        if (!index || !document_->hasArt(*index)) return std::nullopt;
        return static_cast<ArtIndex>(*index);
    }
    // The node a handle names, or null (and a violation recorded, naming
    // `operation`) when it names none. Read-only: the host changes nodes
    // through the document, which keeps its selection index.
    const ArtNode* artOf(AIArtHandle handle, const char* operation) {
        const auto index = artIndexOf(handle);
        if (!index) {
            badArt(handle, operation);
            return nullptr;
        }
        return &std::as_const(*document_).art(*index);
    }

    AILayerHandle layerHandle(LayerIndex index) const {
        return makeHandle<AILayerHandle>(HandleKind::kLayer, static_cast<std::uint32_t>(index));
    }
    Layer* layerOf(AILayerHandle handle, const char* operation) {
        const auto index = handleIndex(HandleKind::kLayer, handle);
        if (!index || !document_->hasLayer(*index)) {
            badLayer(handle, operation);
            return nullptr;
        }
        return &document_->layer(static_cast<LayerIndex>(*index));
    }

private:
    void badArt(AIArtHandle handle, const char* operation);
    void badLayer(AILayerHandle handle, const char* operation);

    Current<DocumentRoom> registration_{this};
    Document own_;
    Document* document_ = &own_;  // own_, or a lent document
    MatchingOptions matching_;
};

}  // namespace simhost
