#pragma once
// Where the main window's controls go: dialog units to pixels, and their
// places when the window is not at its template size. Plain arithmetic on
// pixels, so that it is the same in every view and on every system.

namespace app {

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

struct DuBox;

// Dialog units to pixels through the dialog font's base units, as Windows
// does it: x px = du * baseX / 4, y px = du * baseY / 8, rounded.
class DialogUnits {
  public:
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
    int X(int du) const { return MulDiv(du, baseX_, 4); }
    int Y(int du) const { return MulDiv(du, baseY_, 8); }
    Box ToPixels(const DuBox& box) const;
    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

  private:
    // Rounded a * b / c, as the Windows MulDiv.
    static int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }
    int baseX_;
    int baseY_;
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

// The template's client size in pixels.
Extent TemplateClient(const DialogUnits& du);
// The smallest client size: the band between list and pane whole, a few rows
// of the list and a few lines of the pane.
Extent MinimumClient(const DialogUnits& du);

// The window size to open with: the template's, shrunk where the work area is
// smaller, never below `minimum`.
Extent FitToWorkArea(Extent window, Extent minimum, Extent workArea);

}  // namespace app
