#include "addressing/PlanCsv.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <map>

namespace addressing {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::array<std::string_view, 5> kColumns = {"mac", "ip", "mask", "gateway", "name"};
enum Column { kMac, kIp, kMask, kGateway, kName };

std::string Line(int line, const std::string& what) {
    return "第" + std::to_string(line) + "行：" + what;
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && Blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && Blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// One line into its fields: plain ones are trimmed; a quoted one keeps its
// blanks and takes "" for a quote. Nothing when the quoting is broken.
std::optional<std::vector<std::string>> Fields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && Blank(line[at])) {
            ++at;
        }
        std::string field;
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size()) {
                    return std::nullopt;  // no closing quote
                }
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at++];
            }
            while (at < line.size() && Blank(line[at])) {
                ++at;
            }
            if (at < line.size() && line[at] != ',') {
                return std::nullopt;  // text after the closing quote
            }
        } else {
            const std::size_t end = std::min(line.find(',', at), line.size());
            const std::string_view plain = Trimmed(line.substr(at, end - at));
            if (plain.find('"') != std::string_view::npos) {
                return std::nullopt;
            }
            field = plain;
            at = end;
        }
        out.push_back(std::move(field));
        if (at >= line.size()) {
            return out;
        }
        ++at;  // the comma
    }
}

// Well-formed UTF-8 without control characters, so that no name can break a
// line or forge one where it is shown.
bool GoodName(std::string_view s) {
    if (s.size() > kMaxPlanName) {
        return false;
    }
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n >= s.size()) {
            return false;  // cut short
        }
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0u) != 0x80u) {
                return false;
            }
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        const std::uint32_t least = n == 1 ? 0x80u : n == 2 ? 0x800u : 0x10000u;
        if (cp < least || cp > 0x10FFFFu || (cp >= 0xD800u && cp <= 0xDFFFu) ||
            (cp >= 0x80u && cp < 0xA0u)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

class Reader {
  public:
    explicit Reader(const PlanChecks& checks) : checks_(checks) {}

    Plan Read(std::string_view text) {
        if (text.size() > kMaxPlanBytes) {
            Fault("地址表过大");
            return Finish();
        }
        if (text.substr(0, kBom.size()) == kBom) {
            text.remove_prefix(kBom.size());
        }
        int line = 0;
        bool header = false;
        while (!text.empty()) {
            const std::size_t nl = std::min(text.find('\n'), text.size());
            std::string_view one = text.substr(0, nl);
            text.remove_prefix(std::min(nl + 1, text.size()));
            ++line;
            if (!one.empty() && one.back() == '\r') {
                one.remove_suffix(1);
            }
            if (Trimmed(one).empty()) {
                continue;
            }
            if (one.size() > kMaxPlanLine) {
                Fault(Line(line, "行过长"));
                if (!header) {
                    return Finish();
                }
                continue;
            }
            if (!header) {
                if (!Header(line, one)) {
                    return Finish();
                }
                header = true;
                continue;
            }
            if (++rows_ > kMaxPlanRows) {
                Fault("地址表超过" + std::to_string(kMaxPlanRows) + "行");
                return Finish();
            }
            Row(line, one);
        }
        if (!header || rows_ == 0) {
            Fault("地址表为空");
        }
        return Finish();
    }

  private:
    void Fault(std::string text) {
        if (plan_.errors.size() < kMaxPlanErrors) {
            plan_.errors.push_back(std::move(text));
        } else {
            ++more_;
        }
    }

    Plan Finish() {
        if (more_ > 0) {
            plan_.errors.push_back("另有" + std::to_string(more_) + "处错误");
        }
        if (!plan_.errors.empty()) {
            plan_.rows.clear();
        }
        return std::move(plan_);
    }

    bool Header(int line, std::string_view text) {
        const auto names = Fields(text);
        if (!names || names->size() > kColumns.size()) {
            Fault(Line(line, "表头无效"));
            return false;
        }
        std::array<bool, kColumns.size()> seen{};
        for (const auto& raw : *names) {
            std::string name = raw;
            std::transform(name.begin(), name.end(), name.begin(), [](char c) {
                return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            });
            const auto it = std::find(kColumns.begin(), kColumns.end(), name);
            const auto col = static_cast<std::size_t>(it - kColumns.begin());
            if (it == kColumns.end() || seen[col]) {
                Fault(Line(line, "表头无效"));
                return false;
            }
            seen[col] = true;
            order_.push_back(static_cast<int>(col));
        }
        if (!seen[kMac] || !seen[kIp]) {
            Fault(Line(line, "表头缺少 mac 或 ip"));
            return false;
        }
        return true;
    }

    void Row(int line, std::string_view text) {
        const auto fields = Fields(text);
        if (!fields) {
            Fault(Line(line, "引号不成对"));
            return;
        }
        if (fields->size() != order_.size()) {
            Fault(Line(line, "列数不符"));
            return;
        }
        std::array<std::string, kColumns.size()> v;
        for (std::size_t i = 0; i < order_.size(); ++i) {
            v[static_cast<std::size_t>(order_[i])] = (*fields)[i];
        }
        PlanRow row;
        row.line = line;
        const auto mac = NormalizeMac(v[kMac]);
        const auto ip = ParseIpv4(v[kIp]);
        const auto mask = v[kMask].empty() ? std::optional<std::uint32_t>() : ParseIpv4(v[kMask]);
        const auto gateway =
            v[kGateway].empty() ? std::optional<std::uint32_t>() : ParseIpv4(v[kGateway]);
        bool good = true;
        const auto bad = [&](const char* what) {
            Fault(Line(line, what));
            good = false;
        };
        if (!mac) {
            bad("MAC地址无效");
        }
        if (!ip) {
            bad("IP地址无效");
        }
        if (!v[kMask].empty() && (!mask || !UsableMask(*mask))) {
            bad("子网掩码无效");
        }
        if (!v[kGateway].empty() && !gateway) {
            bad("网关无效");
        }
        if (!GoodName(v[kName])) {
            bad("名称无效");
        }
        if (!good) {
            return;
        }
        row.mac = *mac;
        row.ip = *ip;
        row.mask = mask;
        row.gateway = gateway;
        row.name = v[kName];
        Judge(row);
    }

  public:
    // What the whole plan must hold beyond each line's own form: the address
    // usable, the camera known, no MAC or address twice, none in use, inside
    // the subnet. A row not read from a file is named by its MAC.
    void Judge(PlanRow row) {
        const std::string at = row.line > 0 ? Line(row.line, "") : row.mac + "：";
        const auto where = [](int line) {
            return line > 0 ? "（第" + std::to_string(line) + "行）" : std::string();
        };
        if (const auto why = CheckAddress(row.ip, row.mask.value_or(kDefaultMask), row.gateway);
            !why.empty()) {
            Fault(at + why);
        }
        if (checks_.knownMacs && checks_.knownMacs->count(row.mac) == 0) {
            Fault(at + "未找到设备 " + row.mac);
        }
        if (const auto [it, fresh] = macs_.emplace(row.mac, row.line); !fresh) {
            Fault(at + "MAC重复 " + row.mac + where(it->second));
        }
        if (const auto [it, fresh] = ips_.emplace(row.ip, row.line); !fresh) {
            Fault(at + "地址重复 " + FormatIpv4(row.ip) + where(it->second));
        }
        if (const auto held = checks_.inUse.find(row.ip);
            held != checks_.inUse.end() && held->second != row.mac) {
            Fault(at + "地址已被占用 " + FormatIpv4(row.ip));
        }
        std::optional<Subnet> subnet = checks_.subnet;
        if (const auto own = checks_.subnets.find(row.mac); own != checks_.subnets.end()) {
            subnet = own->second;
        }
        if (subnet && !subnet->IsHost(row.ip)) {
            Fault(at + "地址不在子网 " + subnet->Text() + " 内");
        }
        plan_.rows.push_back(std::move(row));
    }

    Plan Done() { return Finish(); }

  private:
    const PlanChecks& checks_;
    Plan plan_;
    std::vector<int> order_;
    std::size_t rows_ = 0;
    std::size_t more_ = 0;
    std::map<std::string, int> macs_;
    std::map<std::uint32_t, int> ips_;
};

std::string Quoted(const std::string& name) {
    std::string clean = name;
    for (auto& c : clean) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = ' ';  // a line end would split the row
        }
    }
    const bool plain = clean.find_first_of(",\"") == std::string::npos &&
                       (clean.empty() || (!Blank(clean.front()) && !Blank(clean.back())));
    if (plain) {
        return clean;
    }
    std::string out = "\"";
    for (const char c : clean) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

}  // namespace

Plan ReadPlan(std::string_view text, const PlanChecks& checks) {
    return Reader(checks).Read(text);
}

Plan CheckPlan(std::vector<PlanRow> rows, const PlanChecks& checks) {
    Reader reader(checks);
    if (rows.empty()) {
        return reader.Done();
    }
    if (rows.size() > kMaxPlanRows) {
        Plan p;
        p.errors.push_back("地址表超过" + std::to_string(kMaxPlanRows) + "行");
        return p;
    }
    for (auto& row : rows) {
        reader.Judge(std::move(row));
    }
    return reader.Done();
}

Plan ReadPlanFile(const std::filesystem::path& path, const PlanChecks& checks) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Plan p;
        p.errors.push_back("无法读取地址表");
        return p;
    }
    std::string text(kMaxPlanBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        Plan p;
        p.errors.push_back("无法读取地址表");
        return p;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    return ReadPlan(text, checks);
}

std::string WritePlan(const std::vector<PlanRow>& rows) {
    std::string out(kBom);
    out += "mac,ip,mask,gateway,name\r\n";
    for (const auto& r : rows) {
        out += r.mac + "," + FormatIpv4(r.ip) + "," + (r.mask ? FormatIpv4(*r.mask) : "") + "," +
               (r.gateway ? FormatIpv4(*r.gateway) : "") + "," + Quoted(r.name) + "\r\n";
    }
    return out;
}

}  // namespace addressing
