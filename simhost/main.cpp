// simhost: the stand-in host's program. One parser for every subcommand,
// built from what each front end adds to it: the command line's (select,
// menus, about), the web server's (serve) and the validator's (validate).
#include <signal.h>

#include <CLI/CLI.hpp>

#include "CommandLine.h"
#include "Invocation.h"
#include "ValidateCommand.h"
#if WENDLOW_BUILD_SERVE
#include "Serve.h"
#endif

int main(int argc, char** argv) {
    // A closed pipe is a failed write to be reported, not a silent death.
    signal(SIGPIPE, SIG_IGN);
    CLI::App app("simhost");
    simhost_app::Invocation invocation;
    simhost_cli::addCommandLine(app, invocation);
    addValidate(app, invocation);
#if WENDLOW_BUILD_SERVE
    simhost_serve::addServe(app, invocation);
#else
    simhost_app::addSubcommand(
        app, invocation, "serve",
        [&invocation](const std::vector<std::string>&) {
            return invocation.usageError("this simhost was built without the web server");
        },
        invocation.usageError);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return invocation.usageError(simhost_app::parseFailure(e));
    }
    return invocation.run();
}
