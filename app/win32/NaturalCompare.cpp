#include "app/NaturalCompare.h"

#include <windows.h>

#include <shlwapi.h>

#include "platform/WideText.h"

namespace app {

// The Windows edition sorts with the very call the list view's comparison
// uses on a Chinese PC, so the order is the system's, with no table of ours.
int NaturalCompare(std::string_view a, std::string_view b) {
    return ::StrCmpLogicalW(platform::Wide(a).c_str(), platform::Wide(b).c_str());
}

}  // namespace app
