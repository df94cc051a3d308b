#pragma once

namespace cli {

// `quorvane-cli interfaces`: the PC's IPv4 adapters, one line each (or JSON),
// with the ones a search goes out on by default marked. Returns the exit status.
int ListInterfaces(bool json);

}  // namespace cli
