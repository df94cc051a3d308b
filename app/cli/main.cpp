// quorvane-cli: the main dialog's logic behind a console. Each command runs a
// search, picks rows, presses the button, waits for the batch to end and
// prints what the window would show.
#include "Commands.h"
#include "Options.h"
#include "platform/SafeFile.h"

int main(int argc, char** argv) {
    platform::IgnoreFileSizeSignal();
    cli::Args args;
    if (const auto status = cli::ParseArgs(argc, argv, args)) {
        return *status;
    }
    return cli::Run(args);
}
