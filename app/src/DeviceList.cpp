#include "app/DeviceList.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <numeric>

#include "app/BatchReport.h"
#include "app/DialogTexts.h"
#include "app/IpBatch.h"
#include "app/NaturalCompare.h"
#include "app/OutcomeText.h"

namespace app {

std::string IpText(const std::uint8_t (&ip)[4]) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::string MacText(const std::uint8_t (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

namespace {

// Each column's text in the record, in column order.
constexpr std::string DeviceRow::*kFields[] = {
    &DeviceRow::number, &DeviceRow::type, &DeviceRow::ip,     &DeviceRow::mac,
    &DeviceRow::soft,   &DeviceRow::hard, &DeviceRow::status, &DeviceRow::detail};
static_assert(std::size(kFields) == kColumnCount);

bool IsColumn(int column) {
    return column >= 0 && column < kColumnCount;
}

}  // namespace

const std::string& DeviceRow::Text(int column) const {
    static const std::string kNone;
    return IsColumn(column) ? this->*kFields[column] : kNone;
}

void DeviceList::SetAnsweredOn(int row, const platform::NetAdapter& adapter) {
    if (row < 0 || row >= Count()) {
        return;
    }
    DeviceRow& r = rows_[static_cast<std::size_t>(row)];
    r.adapter = platform::DescribeAdapter(adapter);
    r.adapterAddress = adapter.address;
    r.adapterPrefix = adapter.prefix;
    JudgeSubnet(r);
    if (!r.foreignOf.empty()) {
        SetText(row, kColDetail, ForeignText(r.foreignOf));
    }
}

void DeviceList::JudgeSubnet(DeviceRow& r) {
    r.foreignOf.clear();
    const auto ip = ParseDottedIpv4(r.ip);
    if (r.adapter.empty() || !ip) {
        return;
    }
    platform::NetAdapter adapter;
    adapter.address = r.adapterAddress;
    adapter.prefix = r.adapterPrefix;
    const std::uint32_t address = (std::uint32_t{(*ip)[0]} << 24) |
                                  (std::uint32_t{(*ip)[1]} << 16) | (std::uint32_t{(*ip)[2]} << 8) |
                                  (*ip)[3];
    if (!platform::InSubnet(adapter, address)) {
        r.foreignOf =
            platform::FormatIpv4(r.adapterAddress) + "/" + std::to_string(r.adapterPrefix);
    }
}

void DeviceList::Clear() {
    rows_.clear();
    view_.DeleteAllRows();
}

int DeviceList::Add(const tNetDeviceInfo& record) {
    view_.InsertRow();  // at the end, as the record
    rows_.emplace_back();
    const int row = Count() - 1;
    SetText(row, kColNumber, std::to_string(row));
    SetText(row, kColStatus, "等待升级");
    SetText(row, kColIp, IpText(record.ucIp));
    SetText(row, kColMac, MacText(record.ucMac));
    SetText(row, kColSoft, FieldText(record.szSoftVersion));
    SetText(row, kColHard, FieldText(record.szHardVersion));
    SetText(row, kColType, FieldText(record.szDevType));
    const auto unset = [](const std::uint8_t(&ip)[4]) {
        return ip[0] == 0 && ip[1] == 0 && ip[2] == 0 && ip[3] == 0;
    };
    DeviceRow& added = rows_.back();
    added.mask = unset(record.ucMask) ? "" : IpText(record.ucMask);
    added.gateway = unset(record.ucGateway) ? "" : IpText(record.ucGateway);
    view_.SetItemData(row, row);
    return row;
}

void DeviceList::SetName(int row, const std::string& name) {
    if (row >= 0 && row < Count()) {
        rows_[static_cast<std::size_t>(row)].name = name;
    }
}

void DeviceList::SetAddress(int row, const std::string& mask, const std::string& gateway) {
    if (row < 0 || row >= Count()) {
        return;
    }
    DeviceRow& r = rows_[static_cast<std::size_t>(row)];
    // Without a gateway the specified request lets the camera choose one: unknown.
    r.mask = mask;
    r.gateway = gateway;
}

const DeviceRow& DeviceList::Row(int row) const {
    static const DeviceRow kNone;
    return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)] : kNone;
}

std::string DeviceList::Text(int row, int column) const {
    return Row(row).Text(column);
}

void DeviceList::SetText(int row, int column, const std::string& text) {
    if (row < 0 || row >= Count()) {
        return;
    }
    if (IsColumn(column)) {
        rows_[static_cast<std::size_t>(row)].*kFields[column] = text;
        view_.SetCellText(row, column, text);
        if (column == kColIp) {
            // A camera given a new address may have come into the subnet.
            JudgeSubnet(rows_[static_cast<std::size_t>(row)]);
        }
    }
}

int DeviceList::FindByMac(const std::string& mac) const {
    for (int i = 0; i < Count(); ++i) {
        if (rows_[static_cast<std::size_t>(i)].mac == mac) {
            return i;
        }
    }
    return -1;
}

int CompareRows(std::intptr_t item1, std::intptr_t item2, const SortInfo& info) {
    if (info.list == nullptr) {
        return 0;
    }
    const std::intptr_t rows = info.list->Count();
    if (item1 < 0 || item2 < 0 || item1 >= rows || item2 >= rows) {
        return 0;
    }
    const int c = NaturalCompare(info.list->Text(static_cast<int>(item1), info.column),
                                 info.list->Text(static_cast<int>(item2), info.column));
    if ((info.ascending == 1 && c > 0) || (info.ascending == 0 && c < 0)) {
        return 1;
    }
    return 0;
}

void DeviceList::Sort(std::int32_t column, std::int32_t ascending) {
    if (Count() < 2) {
        return;
    }
    const SortInfo info{this, column, ascending};
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    // The comparison only says "belongs after"; a stable merge keeps rows that
    // compare equal in their previous order, as the list's own sort does.
    std::stable_sort(order.begin(), order.end(),
                     [&](int x, int y) { return CompareRows(y, x, info) > 0; });
    std::vector<DeviceRow> sorted;
    sorted.reserve(rows_.size());
    for (int from : order) {
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(from)]));
    }
    rows_ = std::move(sorted);
    view_.ReorderRows(order);
}

void DeviceList::Number(int first) {
    for (int i = 0; i < Count(); ++i) {
        SetText(i, kColNumber, std::to_string(i + first));
        view_.SetItemData(i, i);
    }
}

std::vector<int> DeviceList::Ticked() const {
    std::vector<int> ticked;
    for (int i = 0; i < Count(); ++i) {
        if (view_.RowChecked(i)) {
            ticked.push_back(i);
        }
    }
    return ticked;
}

void DeviceList::Tick(int row, bool ticked) {
    view_.SetRowChecked(row, ticked);
}

std::string DeviceList::Csv() const {
    std::string csv = "\xEF\xBB\xBF";  // spreadsheets take UTF-8 only with its mark
    for (const ColumnSpec& c : kColumns) {
        csv += std::string(c.column != 0 ? "," : "") + c.heading;
    }
    csv += "\r\n";
    for (const DeviceRow& row : rows_) {
        for (int c = 0; c < kColumnCount; ++c) {
            csv += std::string(c ? "," : "") + CsvField(row.Text(c));
        }
        csv += "\r\n";
    }
    return csv;
}

}  // namespace app
