#include "ui/core/help_walk.h"

#include <gtest/gtest.h>

#include <string>

namespace parlune::ui {
namespace {

using P = HelpPicture;

// Each case runs its steps from a fresh walk ('h' help, 'n' next, 'p'
// previous, 'c' close, 't' how-to menu) and states what shows at the end.
struct Case {
    const char* steps;
    HelpView view;
    int index;
};

const Case kCases[] = {
    {"", {P::None, false, false, false}, 0},
    {"h", {P::SlideA, true, false, true}, 0},
    {"hn", {P::SlideB, true, true, true}, 1},
    {"hnn", {P::HowTo, true, true, true}, 2},
    {"hnnn", {P::SlideD, false, true, true}, 3},
    {"hnnnp", {P::HowTo, true, true, true}, 2},
    {"hnnnpp", {P::SlideB, true, true, true}, 1},
    {"hnnnppp", {P::SlideA, true, false, true}, 0},
    // Close from slide 2, then help again: slide 0, only next and close.
    {"hnnc", {P::None, false, false, false}, 0},
    {"hnnch", {P::SlideA, true, false, true}, 0},
    // The how-to menu shows its picture and close, no arrows, index kept.
    {"t", {P::HowTo, false, false, true}, 0},
    {"tc", {P::None, false, false, false}, 0},
    // Past the last slide nothing on screen changes, and the walk comes back.
    {"hnnnn", {P::SlideD, false, true, true}, 4},
    {"hnnnnp", {P::SlideD, false, true, true}, 3},
    // Before the first slide likewise.
    {"hp", {P::SlideA, true, false, true}, -1},
    {"hpn", {P::SlideA, true, false, true}, 0},
    // Close with no picture: nothing to close, only the button hides.
    {"c", {P::None, false, false, false}, 0},
};

TEST(HelpWalk, StepsGiveTheDesignedView) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("steps \"") + c.steps + "\"");
        HelpWalk walk;
        for (const char* s = c.steps; *s; ++s) {
            switch (*s) {
                case 'h':
                    walk.open();
                    break;
                case 'n':
                    walk.next();
                    break;
                case 'p':
                    walk.previous();
                    break;
                case 'c':
                    walk.close();
                    break;
                case 't':
                    walk.openHowTo();
                    break;
                default:
                    FAIL() << "unknown step " << *s;
            }
        }
        const HelpView& v = walk.view();
        EXPECT_EQ(static_cast<int>(v.picture), static_cast<int>(c.view.picture));
        EXPECT_EQ(v.next, c.view.next);
        EXPECT_EQ(v.previous, c.view.previous);
        EXPECT_EQ(v.close, c.view.close);
        EXPECT_EQ(v.padVisible(), c.view.picture == P::None);
        EXPECT_EQ(walk.slideIndex(), c.index);
    }
}

TEST(HelpWalk, CloseSaysWhetherAPictureWasClosed) {
    HelpWalk walk;
    EXPECT_FALSE(walk.close());  // the caller hides the backdrop instead
    walk.open();
    EXPECT_TRUE(walk.close());
    walk.openHowTo();
    EXPECT_TRUE(walk.close());
}

}  // namespace
}  // namespace parlune::ui
