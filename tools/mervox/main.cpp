// mervox: command-line G.723.1 decoder. See doc/command.md for usage and
// exit codes.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/names.h"
#include "commands.h"
#include "exit_codes.h"
#include "mervox.h"
#include "output/temporary_files.h"
#include "platform/process.h"

namespace {

using namespace mervox::cli;

// CLI11 reports a first word that names no subcommand as "A subcommand is
// required"; say which word it did not know.
bool ReportUnknownSubcommand(int argc, char** argv, const std::vector<Subcommand>& commands)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-q" || word == "--quiet")
            continue;
        if (word.empty() || word[0] == '-')
            return false;  // an option: CLI11's own message
        for (const Subcommand& command : commands)
            if (command.app->get_name() == word)
                return false;
        std::fprintf(stderr, "mervox: error: unknown subcommand '%s' (use decode, info or pcap; see --help)\n",
                     mervox::media::base::EscapeControlCharacters(word).c_str());
        return true;
    }
    return false;
}

int Run(int argc, char** argv)
{
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
    if (ReportUnknownSubcommand(argc, argv, commands))
        return kExitUsage;

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

}  // namespace

int main(int argc, char** argv)
{
    // UTF-8 words (on Windows from the wide-character command line); binary
    // standard streams; a reader that goes away shows as EPIPE.
    mervox::media::platform::CommandLine words(argc, argv);
    mervox::media::output::InstallTemporaryFileCleanup();
    try {
        return Run(words.argc(), words.argv());
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // Every output was abandoned while the stack unwound.
    std::fputs("mervox: error: out of memory\n", stderr);
    return kExitOutOfMemory;
}
