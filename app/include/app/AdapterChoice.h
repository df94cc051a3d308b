#pragma once

// The choice of the adapter searches go out on: the window's drop-down "网卡",
// the console's --interface, and what config.ini remembers of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/NetAdapters.h"

namespace app {

inline constexpr const char* kAllAdapters = "全部网卡";

// What the drop-down offers after "全部网卡": the adapters that are up and
// have an address, the loopback left out, in the system's order.
std::vector<platform::NetAdapter> ChoosableAdapters(const std::vector<platform::NetAdapter>& all);

// The drop-down's items: "全部网卡", then "名称 地址/前缀" per adapter.
std::vector<std::string> AdapterItems(const std::vector<platform::NetAdapter>& choosable);

// What item `index` tells the libraries and config.ini: "" for every adapter,
// else the adapter's name, or its address where the name has several.
std::string AdapterKey(const std::vector<platform::NetAdapter>& choosable, int index);

// The item of a remembered key; 0 ("全部网卡") for "" or an adapter no longer there.
int AdapterIndex(const std::vector<platform::NetAdapter>& choosable, const std::string& key);

// A choice typed by hand (--interface NAME|ADDRESS): the text itself when an
// adapter of `all` that is up has that name or address, else nothing and
// `why` is the refusal (naming the adapters there are, or saying it is down).
std::optional<std::string> CheckAdapterChoice(const std::vector<platform::NetAdapter>& all,
                                              const std::string& text, std::string* why);

// A start address for `count` cameras brought into the subnet of the adapter
// at `address`/`prefix`: the lowest from which the consecutive numbering of
// the IP batch (ConsecutiveAddresses) gives `count` hosts of that subnet, none
// of them in `used` or the adapter's own. Nothing when the subnet has no room.
std::optional<std::array<std::uint8_t, 4>> ProposeStartIp(std::uint32_t address, int prefix,
                                                          std::size_t count,
                                                          const std::set<std::uint32_t>& used);

}  // namespace app
