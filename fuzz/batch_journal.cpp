// The journal reader (the next start, history, --retry-from) on any text.
// Input: the file's text.
// Properties: it never throws and never aborts; what it accepts is a report
// that reads back the same, counts no more unfinished cameras than it holds
// and none when complete; a torn piece after the text (no line end) changes
// nothing.

#include "FuzzUtil.h"
#include "app/BatchJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::string text = in.Rest();
    std::string why;
    std::optional<app::JournalBatch> read;
    std::optional<app::JournalBatch> torn;
    std::string tornWhy;
    try {
        read = app::ParseJournal(text, &why);
        torn = app::ParseJournal(text + "{\"camera\":{\"mac\":\"02:51", &tornWhy);
    } catch (...) {
        std::fprintf(stderr, "property broken: the reader threw\n");
        std::abort();
    }
    FUZZ_CHECK(read.has_value() == why.empty());
    if (!read) {
        return 0;
    }
    FUZZ_CHECK(read->unfinished <= read->report.cameras.size());
    FUZZ_CHECK(!read->complete || read->unfinished == 0);
    // A text that ends in the middle of its last line was torn already: the
    // piece joins that line and the two are dropped together.
    if (text.empty() || text.back() == '\n') {
        FUZZ_CHECK(torn && app::ReportJson(torn->report) == app::ReportJson(read->report));
    }
    const nlohmann::json again = app::ReportJson(read->report);
    std::string whyAgain;
    const auto back = app::ParseReport(again.dump(), &whyAgain);
    FUZZ_CHECK(back && app::ReportJson(back->report) == again);
    return 0;
}
