// The page's files, built into the program from simhost/serve/web/.
#pragma once

#include <cstddef>

namespace simhost_serve {

struct WebAsset {
    const char* name;  // path below web/, such as "app.js" or "icons/open.svg"
    const unsigned char* data;
    std::size_t size;
};

// Ends with an entry whose name is null.
extern const WebAsset kWebAssets[];

}  // namespace simhost_serve
