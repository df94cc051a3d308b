#pragma once

#include <functional>
#include <memory>

namespace platform {

// While it lives, Ctrl-C and requests to terminate (SIGINT, SIGTERM; the
// console's close and Ctrl-Break on Windows) no longer end the process: each
// one calls `onRequest` with its number (1, 2, ...) on a thread of its own.
// The usual handling is back once it is gone. One at a time per process.
class StopRequests {
  public:
    explicit StopRequests(std::function<void(int count)> onRequest);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // False when the handlers could not be installed (the usual handling stays).
    bool Active() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
