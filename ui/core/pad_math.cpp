#include "ui/core/pad_math.h"

namespace parlune::ui {

double pitchFromPad(double x) { return x < 1.0 ? 1.0 - (1.0 - x) * 0.5 : x; }

double formantFromPad(double y) { return y == 0.0 ? 0.1 : y; }

int warpFromPad(double x) { return x >= 0.86 ? 3 : 1; }

void clampToRange(const PadRange& range, double& x, double& y) {
    if (x < range.xMin) x = range.xMin;
    if (x > range.xMax) x = range.xMax;
    if (y < range.yMin) y = range.yMin;
    if (y > range.yMax) y = range.yMax;
}

double humanToCartoonY(double y) {
    const PadRange& h = kHumanRange;
    const PadRange& c = kCartoonRange;
    return (y - h.yMin) * (c.yMax - c.yMin) / (h.yMax - h.yMin) + c.yMin;
}

double cartoonToHumanY(double y) {
    const PadRange& h = kHumanRange;
    const PadRange& c = kCartoonRange;
    return (y - c.yMin) * (h.yMax - h.yMin) / (c.yMax - c.yMin) + h.yMin;
}

}  // namespace parlune::ui
