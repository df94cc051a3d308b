#include "platform/OpenInEditor.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {
constexpr int kLauncherWaitMs = 1500;
}  // namespace

bool OpenInEditor(const std::string& path) {
    const char* custom = std::getenv("QUORVANE_EDITOR");
    const std::string program = (custom != nullptr && *custom != '\0') ? custom : "xdg-open";
    // Everything the child needs is built before fork: after it only
    // async-signal-safe calls are allowed in a threaded program.
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                            nullptr};
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // A second fork leaves the editor to init, so nobody has to reap it.
        const pid_t editor = ::fork();
        if (editor == 0) {
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        if (editor < 0) {
            ::_exit(1);
        }
        // A launcher that finds no program for the file (xdg-open without a
        // handler) fails at once: wait a moment for that, not for an editor.
        for (int waited = 0; waited < kLauncherWaitMs; waited += 20) {
            int status = 0;
            if (::waitpid(editor, &status, WNOHANG) == editor) {
                ::_exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 3);
            }
            const struct timespec pause { 0, 20 * 1000 * 1000 };
            ::nanosleep(&pause, nullptr);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform
