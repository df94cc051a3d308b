// The address plan reader (CSV by MAC) on any bytes.
// Input: one byte choosing the checks (known MACs, addresses in use, a
// subnet), then the file's text.
// Properties: it never throws; a plan is either rows or faults, both bounded;
// an accepted plan has no name with a control character, only usable
// addresses, and reads back the same after it is written.

#include "FuzzUtil.h"
#include "addressing/PlanCsv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::uint8_t choice = in.Byte();
    addressing::PlanChecks checks;
    if ((choice & 1u) != 0) {
        checks.knownMacs = std::set<std::string>{"02:51:56:00:00:01", "02:51:56:00:00:02"};
    }
    if ((choice & 2u) != 0) {
        checks.inUse = {{0x0A4D0114u, ""}, {0x0A4D0105u, "02:51:56:00:00:02"}};
    }
    if ((choice & 4u) != 0) {
        checks.subnet = addressing::Subnet::Of(0x0A4D0101u, 0xFFFFFE00u);
    }
    const std::string text = in.Rest();
    addressing::Plan plan;
    try {
        plan = addressing::ReadPlan(text, checks);
    } catch (...) {
        std::fprintf(stderr, "property broken: the reader threw\n");
        std::abort();
    }
    FUZZ_CHECK(plan.ok() != plan.rows.empty());
    FUZZ_CHECK(plan.rows.size() <= addressing::kMaxPlanRows);
    FUZZ_CHECK(plan.errors.size() <= addressing::kMaxPlanErrors + 1);
    if (!plan.ok()) {
        return 0;
    }
    for (const auto& r : plan.rows) {
        FUZZ_CHECK(
            addressing::CheckAddress(r.ip, r.mask.value_or(addressing::kDefaultMask), r.gateway)
                .empty());
        for (const char c : r.name) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        }
    }
    const auto back = addressing::ReadPlan(addressing::WritePlan(plan.rows), checks);
    FUZZ_CHECK(back.ok() && back.rows == plan.rows);
    return 0;
}
