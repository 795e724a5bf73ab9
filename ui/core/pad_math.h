// The matrix pad's arithmetic: pad coordinates to the voice controls, the two
// modes' ranges and the remap of the vertical coordinate between them.
// Pure functions; safe on any thread.
#pragma once

namespace parlune::ui {

struct PadRange {
    double xMin, xMax, yMin, yMax;
};
// The modes share the horizontal range; the vertical one differs.
constexpr PadRange kCartoonRange{0.3, 1.7, -0.5, 2.5};
constexpr PadRange kHumanRange{0.3, 1.7, 0.8, 1.2};

// Horizontal coordinate to the pitch control: the left half is compressed
// (0.3 gives 0.65), from 1.0 up the coordinate is the pitch. Both modes.
double pitchFromPad(double x);

// Vertical coordinate to the formant control: the coordinate itself, except
// that exactly 0.0 becomes 0.1 (a zero warp strength has no curve). Negative
// cartoon values pass through. Which values can arrive depends on the mode,
// since the point is clamped to the mode's range first.
double formantFromPad(double y);

// The warp indicator: 3 ("Log") from x 0.86 on, else 1 ("Sig").
int warpFromPad(double x);

// The point held inside a range, x then y.
void clampToRange(const PadRange& range, double& x, double& y);

// The same relative height in the other mode's vertical range.
double humanToCartoonY(double y);
double cartoonToHumanY(double y);

}  // namespace parlune::ui
