// The batch record reader (history, --retry-from) on any text.
// Input: the file's text.
// Properties: it never throws and never aborts; a record it accepts is given
// back the same when written again and read again, and prints as CSV.

#include "FuzzUtil.h"
#include "app/BatchReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::string text = in.Rest();
    std::string why;
    std::optional<app::StoredReport> read;
    try {
        read = app::ParseReport(text, &why);
    } catch (...) {
        std::fprintf(stderr, "property broken: the reader threw\n");
        std::abort();
    }
    FUZZ_CHECK(read.has_value() == why.empty());
    if (!read) {
        return 0;
    }
    const nlohmann::json again = app::ReportJson(read->report);
    std::string whyAgain;
    const auto back = app::ParseReport(again.dump(), &whyAgain);
    FUZZ_CHECK(back && app::ReportJson(back->report) == again);
    const std::string csv = app::CamerasCsv(read->report);
    FUZZ_CHECK(csv.find('\x1b') == std::string::npos);
    return 0;
}
