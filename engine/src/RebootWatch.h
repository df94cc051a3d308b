#pragma once

// The check after reboot of every upgraded camera on one thread of its own,
// so that a worker is free for the next camera as soon as its camera has given
// its verdict. Each round looks for all of them at once: one search, or one
// directed probe to each address. A camera's proof is handed back when its
// check has ended; none is dropped, so that the batch can end.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DeviceJobs.h"

namespace engine {

class RebootWatch {
  public:
    // One camera from its result to its proof.
    struct Camera {
        DeviceTask task{};
        int result = 0;
        CameraOutcome outcome;
        BatchFields fields;
        VerifyTiming timing;
    };
    // Called once per camera when its check has ended, on the watch's thread
    // (or on the caller's of Add when the watch cannot take it), without the
    // watch's lock.
    using ProveFn = std::function<void(Camera&)>;

    // `checking` false ends every check at once as stopped (after Wake()).
    RebootWatch(const NetApi& net, const std::atomic<bool>& checking, LiveFn live, ProveFn prove);
    ~RebootWatch();  // Stop()
    RebootWatch(const RebootWatch&) = delete;
    RebootWatch& operator=(const RebootWatch&) = delete;

    void Start();
    // Hands a camera over, after its result was posted.
    void Add(std::unique_ptr<Camera> camera);
    // Tells the watch that `checking` has changed.
    void Wake();
    // Ends every check as stopped, proves them and joins the thread.
    void Stop();

  private:
    struct Entry {
        std::unique_ptr<Camera> camera;
        std::unique_ptr<RebootCheck> check;
    };
    void Run();
    void LookRound(std::vector<Entry>& watching, int round);
    void Prove(Camera& camera) noexcept;

    const NetApi net_;
    const std::atomic<bool>& checking_;
    const LiveFn live_;
    const ProveFn prove_;
    std::mutex mutex_;  // guards incoming_, started_ and quit_; never held while looking
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Camera>> incoming_;
    bool started_ = false;
    bool quit_ = false;
    // The watch's thread alone: what the last search and probes heard.
    bool searchHeard_ = false;
    bool probesDeaf_ = false;
    std::thread thread_;
};

}  // namespace engine
