// mervox: command-line G.723.1 decoder. See the README's "mervox command"
// section for usage and exit codes.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "commands.h"
#include "exit_codes.h"
#include "mervox.h"

int main(int argc, char** argv)
{
    using namespace mervox::cli;

    CLI::App app{"Decodes G.723.1 speech streams (6.3 and 5.3 kbit/s) to 16-bit PCM at 8 kHz.", "mervox"};
    app.set_version_flag("--version", std::string("mervox ") + mervox_version_string());
    app.require_subcommand(1);
    app.fallthrough();  // global options may also follow the subcommand

    GlobalOptions global;
    app.add_flag("-q,--quiet", global.quiet, "Print nothing but errors");

    const std::vector<Subcommand> commands = {
        AddDecodeCommand(app),
        AddInfoCommand(app),
        AddPcapCommand(app),
    };

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    for (const Subcommand& command : commands)
        if (command.app->parsed())
            return command.run(global);
    return kExitUsage;
}
