#include "WindowLayout.h"

#include <algorithm>

#include "app/DialogView.h"

namespace win32view {

Anchor AnchorOf(int id, int x, int rightColumnX) {
    switch (id) {
        case app::IDC_DEVICE_LIST:
            return Anchor::List;
        case app::IDC_LOG_PANE:
            return Anchor::Pane;
        case app::IDC_PROGRESS:
        case app::IDC_FILE_EDIT:
            return Anchor::BandStretch;
        default:
            return x >= rightColumnX ? Anchor::BandRight : Anchor::Band;
    }
}

Box Place(Box base, Anchor anchor, int dx, int dy) {
    const int listDy = dy * 2 / 3;
    const int paneDy = dy - listDy;
    switch (anchor) {
        case Anchor::List:
            base.w += dx;
            base.h += listDy;
            break;
        case Anchor::Pane:
            base.y += listDy;
            base.w += dx;
            base.h += paneDy;
            break;
        case Anchor::Band:
            base.y += listDy;
            break;
        case Anchor::BandRight:
            base.x += dx;
            base.y += listDy;
            break;
        case Anchor::BandStretch:
            base.y += listDy;
            base.w += dx;
            break;
    }
    base.w = std::max(base.w, 0);
    base.h = std::max(base.h, 0);
    return base;
}

Extent MinimumClient(Extent templ, int band, int du8) {
    // Some 7 dialog-unit lines of the list, 6 of the pane.
    return {templ.w, band + du8 * 60 / 8 + du8 * 50 / 8};
}

Extent FitToWorkArea(Extent window, Extent minimum, Extent workArea) {
    return {std::max(minimum.w, std::min(window.w, workArea.w)),
            std::max(minimum.h, std::min(window.h, workArea.h))};
}

}  // namespace win32view
