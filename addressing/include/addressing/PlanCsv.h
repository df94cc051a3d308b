#pragma once
// The address plan by MAC as a CSV file: a header line naming the columns
// (mac and ip, optional mask, gateway and name, in any order), then one camera
// per line. Read as untrusted input: every length is bounded and the plan is
// checked whole, every fault with its line number.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "addressing/Address.h"

namespace addressing {

inline constexpr std::size_t kMaxPlanRows = 1024;
inline constexpr std::size_t kMaxPlanLine = 512;    // bytes, without the line end
inline constexpr std::size_t kMaxPlanName = 128;    // bytes of UTF-8
inline constexpr std::size_t kMaxPlanErrors = 100;  // faults reported; the rest are counted
inline constexpr std::size_t kMaxPlanBytes = (kMaxPlanRows + 1) * (kMaxPlanLine + 2) + 3;

struct PlanRow {
    int line = 0;     // in the file, from 1 (the header); 0 for a row not read from a file
    std::string mac;  // upper case, colons
    std::uint32_t ip = 0;
    std::optional<std::uint32_t> mask;     // absent: 255.255.255.0
    std::optional<std::uint32_t> gateway;  // absent: unchanged
    std::string name;                      // may be empty

    bool operator==(const PlanRow& o) const {
        return mac == o.mac && ip == o.ip && mask == o.mask && gateway == o.gateway &&
               name == o.name;
    }
};

// What the whole plan is checked against; each check is skipped when not given.
struct PlanChecks {
    std::optional<std::set<std::string>> knownMacs;  // the cameras of the list (upper case, colons)
    InUse inUse;                                     // addresses other hosts hold
    std::optional<Subnet> subnet;                    // every address must lie in it
    // Per camera (by MAC) in place of `subnet`: the subnet of the adapter it answered on.
    std::map<std::string, Subnet> subnets;
};

struct Plan {
    std::vector<PlanRow> rows;        // empty when refused
    std::vector<std::string> errors;  // "第3行：MAC重复 ..." (Chinese); empty when accepted
    bool ok() const { return errors.empty(); }
};

Plan ReadPlan(std::string_view text, const PlanChecks& checks);
// Rows made here rather than read (an undo from a batch record) checked as
// the lines of a file are; a row without a line number is named by its MAC.
Plan CheckPlan(std::vector<PlanRow> rows, const PlanChecks& checks);
// Reads at most kMaxPlanBytes; a larger or unreadable file is refused.
Plan ReadPlanFile(const std::filesystem::path& path, const PlanChecks& checks);

// The same CSV: UTF-8 with a byte order mark (so that spreadsheets show the
// names), CRLF line ends, every column; ReadPlan gives the rows back.
std::string WritePlan(const std::vector<PlanRow>& rows);

}  // namespace addressing
