#include "Invocation.h"

namespace simhost_app {

CLI::App* addSubcommand(CLI::App& app, Invocation& invocation, const std::string& name,
                        std::function<int(const std::vector<std::string>&)> run,
                        std::function<int(const std::string&)> usageError) {
    CLI::App* subcommand = app.add_subcommand(name);
    subcommand->allow_extras();
    subcommand->preparse_callback([subcommand, &invocation, run, usageError](std::size_t) {
        invocation.usageError = usageError;
        invocation.run = [subcommand, run] { return run(subcommand->remaining()); };
    });
    return subcommand;
}

std::string parseFailure(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (e.get_name() == "ArgumentMismatch" && what.find(": ") != std::string::npos)
        return what.substr(0, what.find(": ")) + " needs a value";
    return what;
}

}  // namespace simhost_app
