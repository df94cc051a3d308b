// ParseScanRange, the text of a search by address typed by a technician.
// Input: the text itself.
// Properties: taken, it gives 1 to kMaxScanAddresses ascending consecutive
// addresses, none in 0.0.0.0/8 nor from 224.0.0.0 on, and no reason; refused,
// it gives a reason without a control character (none of the text's reaches
// it), and no address.

#include "FuzzUtil.h"
#include "addressing/ScanRange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const std::string text = in.Rest();
    const addressing::ScanRange r = addressing::ParseScanRange(text);
    if (!r.ok()) {
        FUZZ_CHECK(r.addresses.empty());
        for (const char c : r.error) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        }
        return 0;
    }
    FUZZ_CHECK(!r.addresses.empty() && r.addresses.size() <= addressing::kMaxScanAddresses);
    FUZZ_CHECK(text.size() <= addressing::kMaxScanText);
    for (std::size_t i = 0; i < r.addresses.size(); ++i) {
        FUZZ_CHECK((r.addresses[i] >> 24) != 0 && r.addresses[i] < 0xE0000000u);
        FUZZ_CHECK(i == 0 || r.addresses[i] == r.addresses[i - 1] + 1);
    }
    return 0;
}
