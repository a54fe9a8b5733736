#include "Invocation.h"

namespace simhost_app {

std::string parseFailure(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (e.get_name() == "ArgumentMismatch" && what.find(": ") != std::string::npos)
        return what.substr(0, what.find(": ")) + " needs a value";
    return what;
}

}  // namespace simhost_app
