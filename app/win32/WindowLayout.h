#pragma once
// Where the main dialog's controls go when the window is not at its template
// size. Plain arithmetic on pixels, so that it is the same on every system.

namespace win32view {

struct Box {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool operator==(const Box&) const = default;
};

struct Extent {
    int w = 0;
    int h = 0;
    bool operator==(const Extent&) const = default;
};

// How a control follows the window: the list and the log pane take the room
// beyond the template's, the band between them keeps its place below the
// list, its right-hand controls keep their distance to the right edge, and
// the progress bar and the file box stretch with the width.
enum class Anchor { List, Pane, Band, BandRight, BandStretch };

// The anchor of control `id` whose template box (pixels) starts at `x`;
// `rightColumnX` is where the band's right-hand column starts.
Anchor AnchorOf(int id, int x, int rightColumnX);

// `base` (its place at the template's size) for a window `dx`, `dy` pixels
// larger (or smaller) than the template. The list takes two thirds of the
// change in height, the pane the rest.
Box Place(Box base, Anchor anchor, int dx, int dy);

// The smallest client size: the band whole, a few rows of the list and a few
// lines of the pane. `templ` is the template's client size, `band` the
// height of the band between list and pane, `du8` eight vertical dialog units.
Extent MinimumClient(Extent templ, int band, int du8);

// The window size to open with: the template's, shrunk where the work area is
// smaller, never below `minimum`.
Extent FitToWorkArea(Extent window, Extent minimum, Extent workArea);

}  // namespace win32view
