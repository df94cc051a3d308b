#include "app/MemoryView.h"

#include <utility>

namespace app {

MemoryView::Row* MemoryView::At(int row) {
    if (row < 0 || row >= RowCount()) {
        return nullptr;
    }
    return &rows[static_cast<std::size_t>(row)];
}

const MemoryView::Row* MemoryView::At(int row) const {
    if (row < 0 || row >= RowCount()) {
        return nullptr;
    }
    return &rows[static_cast<std::size_t>(row)];
}

void MemoryView::CameraChanged(const CameraRowUpdate& update) {
    CameraRecord record{update, {}, {}};
    if (update.live != nullptr) {
        record.live = *update.live;
    }
    if (update.outcome != nullptr) {
        record.outcome = *update.outcome;
    }
    record.update.live = nullptr;
    record.update.outcome = nullptr;
    cameras.push_back(std::move(record));
}

int MemoryView::InsertRow() {
    rows.emplace_back();
    return RowCount() - 1;
}

void MemoryView::SetCellText(int row, int column, const std::string& text) {
    if (Row* r = At(row); r != nullptr && column >= 0 && column < kColumnCount) {
        r->cells[static_cast<std::size_t>(column)] = text;
    }
}

std::string MemoryView::CellText(int row, int column) const {
    const Row* r = At(row);
    if (r == nullptr || column < 0 || column >= kColumnCount) {
        return {};
    }
    return r->cells[static_cast<std::size_t>(column)];
}

bool MemoryView::RowChecked(int row) const {
    const Row* r = At(row);
    return r != nullptr && r->checked;
}

void MemoryView::SetRowChecked(int row, bool checked) {
    if (Row* r = At(row)) {
        r->checked = checked;
    }
}

void MemoryView::SetItemData(int row, std::intptr_t data) {
    if (Row* r = At(row)) {
        r->data = data;
    }
}

std::intptr_t MemoryView::ItemData(int row) const {
    const Row* r = At(row);
    return r != nullptr ? r->data : 0;
}

void MemoryView::ReorderRows(const std::vector<int>& order) {
    if (order.size() != rows.size()) {
        return;
    }
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (int from : order) {
        const Row* r = At(from);
        if (r == nullptr) {
            return;
        }
        sorted.push_back(*r);
    }
    rows = std::move(sorted);
}

void MemoryView::SetProgressRange(int low, int high) {
    progressLow = low;
    progressHigh = high;
}

void MemoryView::SetStartIp(const std::array<std::uint8_t, 4>& octets) {
    startIp = octets;
    startIpBlank = false;
    startIpPartlyBlank = false;
}

bool MemoryView::IsChecked(ControlId id) const {
    const auto it = checks.find(id);
    return it != checks.end() && it->second;
}

void MemoryView::PostToUi(std::function<void()> fn) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(fn));
    }
    queueCv_.notify_all();
}

std::size_t MemoryView::RunPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(queueMutex_);
        batch.swap(queue_);
    }
    for (auto& fn : batch) {
        fn();
    }
    return batch.size();
}

bool MemoryView::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::function<void()> next;
        {
            std::unique_lock lock(queueMutex_);
            if (!queueCv_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
                return done();
            }
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        next();
    }
    return true;
}

}  // namespace app
