// quorvane-cli: the main dialog's logic behind a console. Each command runs a
// search, picks rows, presses the button, waits for the batch to end and
// prints what the window would show.
#include "Commands.h"
#include "Options.h"
#include "platform/Args.h"
#include "platform/SafeFile.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    platform::IgnoreFileSizeSignal();
    // UTF-8 arguments on every system (Windows hands argv over in its ANSI code page).
    std::vector<std::string> utf8 = platform::Utf8Args(argc, argv);
    std::vector<char*> args8;
    for (auto& a : utf8) {
        args8.push_back(a.data());
    }
    args8.push_back(nullptr);
    argv = args8.data();
    cli::Args args;
    if (const auto status = cli::ParseArgs(argc, argv, args)) {
        return *status;
    }
    return cli::Run(args);
}
