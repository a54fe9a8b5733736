#include "DocumentRoom.h"

namespace simhost {

void DocumentRoom::badArt(AIArtHandle handle, const char* operation) {
    badParameter(operation, handle == nullptr ? "null art handle" : "unknown art handle");
}

void DocumentRoom::badLayer(AILayerHandle handle, const char* operation) {
    badParameter(operation, handle == nullptr ? "null layer handle" : "unknown layer handle");
}

}  // namespace simhost
