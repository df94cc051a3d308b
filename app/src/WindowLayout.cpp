#include "app/WindowLayout.h"

#include <algorithm>

#include "app/DialogView.h"
#include "app/WindowDescription.h"

namespace app {

Box DialogUnits::ToPixels(const DuBox& box) const {
    return {X(box.x), Y(box.y), X(box.w), Y(box.h)};
}

Anchor AnchorOf(int id, int x, int rightColumnX) {
    switch (id) {
        case IDC_DEVICE_LIST:
            return Anchor::List;
        case IDC_LOG_PANE:
            return Anchor::Pane;
        case IDC_PROGRESS:
        case IDC_FILE_EDIT:
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

Extent TemplateClient(const DialogUnits& du) {
    return {du.X(kTemplateSize.w), du.Y(kTemplateSize.h)};
}

Extent MinimumClient(const DialogUnits& du) {
    const ControlSpec* list = FindControl(IDC_DEVICE_LIST);
    const ControlSpec* pane = FindControl(IDC_LOG_PANE);
    const int band = du.Y(kTemplateSize.h) - du.Y(list->box.h) - du.Y(pane->box.h);
    // Some 7 dialog-unit lines of the list, 6 of the pane.
    return {du.X(kTemplateSize.w), band + du.Y(60) + du.Y(50)};
}

Extent FitToWorkArea(Extent window, Extent minimum, Extent workArea) {
    return {std::max(minimum.w, std::min(window.w, workArea.w)),
            std::max(minimum.h, std::min(window.h, workArea.h))};
}

}  // namespace app
