#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/QuorvaneDlg.h"

namespace cli {

// One camera of a plan with what its file is: read from the file itself.
struct PlanLine {
    app::PlannedUpgrade camera;
    std::string name;  // the file's name as the camera receives it
    long long size = -1;
    std::string md5;      // lower-case hex; empty when the file cannot be read
    std::string version;  // "<major>.<minor>" the file names; empty when none
    std::string note;     // "降级：…" when the camera runs a newer version
};

PlanLine DescribePlanned(const app::PlannedUpgrade& camera);
// The table on stdout, or JSON (the machine interface).
void PrintPlan(const std::vector<PlanLine>& lines, bool json);

// An IP change's plan: each camera's MAC, its address now, the one it gets and
// what was passed over for it, as a table on `out`. An address plan's table
// has its mask, gateway and name ("-" where not given) in place of the note.
void PrintIpPlan(const std::vector<app::PlannedAddress>& plan, std::FILE* out,
                 bool addressPlan = false);

}  // namespace cli
