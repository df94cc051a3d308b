#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "app/WindowDescription.h"
#include "korvel.h"
#include "platform/NetAdapters.h"

namespace app {

// A search record's address and MAC as the list shows them.
std::string IpText(const std::uint8_t (&ip)[4]);
std::string MacText(const std::uint8_t (&mac)[6]);

// One camera of the list: what the search found and what the batches wrote since.
struct DeviceRow {
    std::string number;
    std::string type;
    std::string ip;
    std::string mac;
    std::string soft;
    std::string hard;
    std::string status;
    std::string detail;
    // The PC's adapter the camera answered on ("eth0 10.77.0.1/16"), empty
    // when the library does not tell; and when the camera's address lies
    // outside that adapter's subnet, the adapter's "10.77.0.1/16".
    std::string adapter;
    std::string foreignOf;
    std::uint32_t adapterAddress = 0;  // host order
    int adapterPrefix = 0;
    // The mask and gateway the search reported, then what a batch gave it;
    // empty when unknown (a record of 0.0.0.0: the camera did not say).
    std::string mask;
    std::string gateway;
    std::string name;  // given by the last address plan that named it

    const std::string& Text(int column) const;
};

class DeviceList;

// Handed to the list's sort together with CompareListItems.
struct SortInfo {
    const DeviceList* list = nullptr;
    std::int32_t column = 0;
    std::int32_t ascending = 1;
};

// The device list's rows as records, in the order shown. The view shows them
// and holds the check boxes (the technician's selection); every text the
// dialog reads back comes from here, never from a cell.
class DeviceList {
  public:
    explicit DeviceList(DialogView& view) : view_(view) {}

    void Clear();
    // A row for the record at the end, numbered by its position, "等待升级".
    int Add(const tNetDeviceInfo& record);

    int Count() const { return static_cast<int>(rows_.size()); }
    // Row `row`'s record; an empty one outside the list.
    const DeviceRow& Row(int row) const;
    std::string Text(int row, int column) const;
    // Writes one text into the record and its cell.
    void SetText(int row, int column, const std::string& text);
    // The adapter row `row` answered on; a camera outside its subnet is
    // marked in 详情 ("不在本机网段：10.77.0.1/16").
    void SetAnsweredOn(int row, const platform::NetAdapter& adapter);
    // The first row showing `mac` (exact text), or -1.
    int FindByMac(const std::string& mac) const;

    // Stable, by the natural order of one column's texts (CompareListItems).
    void Sort(std::int32_t column, std::int32_t ascending);
    // Column 0 from `first` up and the item data from 0, in the order shown.
    void Number(int first);

    // The mask and gateway row `row` now has (an IP change it confirmed); an
    // empty gateway is unknown.
    void SetAddress(int row, const std::string& mask, const std::string& gateway);
    void SetName(int row, const std::string& name);

    std::vector<int> Ticked() const;
    void Tick(int row, bool ticked);

    // The list as shown (every column, the rows in their order) as CSV, with
    // the mark that makes spreadsheets read it as UTF-8.
    std::string Csv() const;

  private:
    // foreignOf from the row's address and adapter.
    static void JudgeSubnet(DeviceRow& row);

    DialogView& view_;
    std::vector<DeviceRow> rows_;
};

// The comparison of the list's sort: 1 when item1 belongs after item2.
int CompareRows(std::intptr_t item1, std::intptr_t item2, const SortInfo& info);

}  // namespace app
