// The subcommands of the mervox tool. Each Add*Command registers its
// options on the parent app and returns the function that runs it once the
// command line has been parsed. A new subcommand is one more function here
// and one line in main.cpp.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace mervox::cli {

struct GlobalOptions {
    bool quiet = false;
};

struct Subcommand {
    CLI::App* app;                                 // parsed() tells whether it was chosen
    std::function<int(const GlobalOptions&)> run;  // returns an ExitCode
};

Subcommand AddDecodeCommand(CLI::App& parent);
Subcommand AddInfoCommand(CLI::App& parent);
Subcommand AddPcapCommand(CLI::App& parent);

}  // namespace mervox::cli
