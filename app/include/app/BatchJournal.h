#pragma once

// The journal of a running batch: one line per event, appended beside the
// reports as the batch goes and flushed to disk with every finished camera,
// so that a crash, a kill or a power loss leaves what was done
// (docs/batch-report.md). The batch's report replaces it when the batch ends.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/BatchReport.h"

namespace app {

// `<stateDir>/reports/batch-ID.journal`.
std::string JournalPath(const std::string& stateDir, const std::string& id);

class JournalWriter {
  public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Creates the journal of `batch` (its header and request) in the reports
    // folder, never through a link, and flushes it with the folder's entry.
    bool Open(const std::string& stateDir, const BatchReport& batch, std::string* why);
    bool IsOpen() const { return fd_ >= 0; }
    // A camera handed to the workers; reaches the disk with the next flush.
    bool Queued(const std::string& mac, const std::string& ip, std::string* why);
    // A camera's record (at its verdict, or again at its proof); on disk when
    // this returns. `proofFollows`: its check is still to come.
    bool Camera(const ReportCamera& camera, bool proofFollows, std::string* why);
    // The batch's end: the journal is complete.
    bool Finish(const BatchReport& batch, std::string* why);
    // Closes it and removes the file (its report now holds everything).
    void Remove();
    void Close();

    // What the flushes have cost so far.
    std::uint32_t Syncs() const { return syncs_; }
    std::int64_t SyncMicros() const { return syncMicros_; }

  private:
    bool Line(const nlohmann::json& line, bool sync, std::string* why);

    int fd_ = -1;
    std::string path_;
    std::uint32_t syncs_ = 0;
    std::int64_t syncMicros_ = 0;
};

// A journal read back: the batch as far as it got. Every queued camera is
// among report.cameras: one without a verdict as "未处理" (result failed, not
// proven), one whose check was still to come with verify "stopped".
struct JournalBatch {
    BatchReport report;
    nlohmann::json doc;            // the report document it makes, for printing
    bool complete = false;         // its end was written
    std::uint32_t unfinished = 0;  // queued cameras without a final record
};

// Longest line a journal may hold: a camera's record is well under 4 KiB.
inline constexpr std::size_t kMaxJournalLine = 64u << 10;

// The journal's text. A last line without its end (torn by the crash) is
// ignored; any other damage refuses it with the reason naming the line.
// Never throws.
std::optional<JournalBatch> ParseJournal(const std::string& text, std::string* why);
std::optional<JournalBatch> ReadJournalFile(const std::string& path, std::string* why);
// The journals in the reports folder, newest first.
std::vector<ReportEntry> ListJournals(const std::string& stateDir);

// The newest batch of the folder, when it is an interrupted one (a journal
// without its end and without a report): what the next start says.
std::optional<JournalBatch> InterruptedLastBatch(const std::string& stateDir);
// "上次批量任务未完成：%d台未处理".
std::string InterruptedText(const JournalBatch& batch);

}  // namespace app
