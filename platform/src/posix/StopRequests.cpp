#include "platform/StopRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace platform {
namespace {

// The handler may only write to a pipe; a thread of ours reads it and calls back.
int g_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 's';
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

struct StopRequests::Impl {
    std::function<void(int)> onRequest;
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    std::thread watcher;
    bool active = false;
};

StopRequests::StopRequests(std::function<void(int count)> onRequest)
    : impl_(std::make_unique<Impl>()) {
    impl_->onRequest = std::move(onRequest);
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC) != 0) {
        return;
    }
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);  // a flood of signals never blocks the handler
    impl_->watcher = std::thread([impl = impl_.get(), fd = g_pipe[0]] {
        int count = 0;
        char byte = 0;
        for (;;) {
            const ssize_t n = ::read(fd, &byte, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0 || byte == 'q') {
                return;
            }
            if (impl->onRequest) {
                impl->onRequest(++count);
            }
        }
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    impl_->active = ::sigaction(SIGINT, &sa, &impl_->oldInt) == 0 &&
                    ::sigaction(SIGTERM, &sa, &impl_->oldTerm) == 0;
}

StopRequests::~StopRequests() {
    if (g_pipe[0] < 0 || !impl_->watcher.joinable()) {
        return;
    }
    ::sigaction(SIGINT, &impl_->oldInt, nullptr);
    ::sigaction(SIGTERM, &impl_->oldTerm, nullptr);
    const char quit = 'q';
    while (::write(g_pipe[1], &quit, 1) < 0 && errno == EINTR) {
    }
    impl_->watcher.join();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool StopRequests::Active() const {
    return impl_->active;
}

}  // namespace platform
