#pragma once

// A report window that keeps everything posted to it, from any thread, and lets
// a test wait for what it expects.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/TaskDispatcher.h"

namespace enginetest {

inline constexpr auto kPatience = std::chrono::seconds(30);

struct Report {
    enum Type { kResult, kProgress, kBatchDone, kProof };
    Type type = kResult;
    TaskResult result;      // kResult, kProof
    uint32_t finished = 0;  // kProgress
    int32_t kind = 0;       // kBatchDone
};

class RecordingReportWindow : public ReportWindow {
  public:
    void PostTaskResult(std::unique_ptr<TaskResult> result) override {
        Report r;
        r.type = Report::kResult;
        r.result = *result;
        Add(r);
    }
    void PostTaskProgress(uint32_t finished) override {
        Report r;
        r.type = Report::kProgress;
        r.finished = finished;
        Add(r);
    }
    void PostTaskProof(std::unique_ptr<TaskResult> proof) override {
        Report r;
        r.type = Report::kProof;
        r.result = *proof;
        Add(r);
    }
    void PostBatchDone(int32_t kind) override {
        Report r;
        r.type = Report::kBatchDone;
        r.kind = kind;
        Add(r);
    }

    bool WaitForBatchDone(std::chrono::milliseconds patience = kPatience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return batchDone_ > 0; });
    }
    bool WaitForReports(size_t count, std::chrono::milliseconds patience = kPatience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return reports_.size() >= count; });
    }
    std::vector<Report> Reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::vector<TaskResult> Results() const {
        std::lock_guard lock(mutex_);
        std::vector<TaskResult> out;
        for (const auto& r : reports_) {
            if (r.type == Report::kResult) {
                out.push_back(r.result);
            }
        }
        return out;
    }
    std::vector<TaskResult> Proofs() const {
        std::lock_guard lock(mutex_);
        std::vector<TaskResult> out;
        for (const auto& r : reports_) {
            if (r.type == Report::kProof) {
                out.push_back(r.result);
            }
        }
        return out;
    }
    int BatchDoneCount() const {
        std::lock_guard lock(mutex_);
        return batchDone_;
    }

  private:
    void Add(const Report& r) {
        {
            std::lock_guard lock(mutex_);
            reports_.push_back(r);
            if (r.type == Report::kBatchDone) {
                ++batchDone_;
            }
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
    int batchDone_ = 0;
};

}  // namespace enginetest
