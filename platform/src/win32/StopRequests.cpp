#include "platform/StopRequests.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

// The console calls the handler on a thread of its own; it only counts and
// wakes ours, which calls back, so the callback may take its time.
struct StopRequests::Impl {
    std::function<void(int)> onRequest;
    std::mutex mutex;
    std::condition_variable wake;
    int pending = 0;
    bool quit = false;
    std::thread watcher;
    bool active = false;
};

namespace {
std::atomic<StopRequests::Impl*> g_current{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD type) {
    StopRequests::Impl* impl = g_current.load();
    if (impl == nullptr ||
        (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)) {
        return FALSE;
    }
    {
        std::lock_guard lock(impl->mutex);
        ++impl->pending;
    }
    impl->wake.notify_one();
    return TRUE;
}
}  // namespace

StopRequests::StopRequests(std::function<void(int count)> onRequest)
    : impl_(std::make_unique<Impl>()) {
    impl_->onRequest = std::move(onRequest);
    Impl* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, impl_.get())) {
        return;
    }
    impl_->watcher = std::thread([impl = impl_.get()] {
        int count = 0;
        std::unique_lock lock(impl->mutex);
        for (;;) {
            impl->wake.wait(lock, [&] { return impl->quit || impl->pending > 0; });
            if (impl->quit) {
                return;
            }
            --impl->pending;
            lock.unlock();
            if (impl->onRequest) {
                impl->onRequest(++count);
            }
            lock.lock();
        }
    });
    impl_->active = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

StopRequests::~StopRequests() {
    if (g_current.load() != impl_.get()) {
        return;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->quit = true;
    }
    impl_->wake.notify_one();
    impl_->watcher.join();
    g_current.store(nullptr);
}

bool StopRequests::Active() const {
    return impl_->active;
}

}  // namespace platform
