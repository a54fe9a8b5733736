// How the host answers matching queries; levers for hostile documents.
#pragma once

#include <cstdint>

namespace simhost {

struct MatchingOptions {
    bool shuffle = false;
    std::uint64_t shuffleSeed = 0;
    bool nullHandleForEmpty = false;
    // When the gate fails get-matching-art or get-selected-art, still hand
    // out a handle the caller must dispose of.
    bool handleOnFailure = false;
};

}  // namespace simhost
