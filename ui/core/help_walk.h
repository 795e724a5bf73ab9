// The help overlays' walk, without widgets: which picture the full-window
// help label shows, which of the three overlay buttons show, and the slide
// index. The window applies the view to its widgets after each step; the pad
// is hidden whenever a picture shows.
//
// Slides by index: 0 the first help slide, 1 the second, 2 the how-to
// picture, 3 the headset advice. The walk does not wrap around: an index the
// slides do not cover changes nothing on screen (the arrow that would lead
// there is hidden, so only a caller that ignores the view gets there).
//
// Thread contract: a plain value; the GUI thread owns the window's walk.
#pragma once

namespace parlune::ui {

enum class HelpPicture { None, SlideA, SlideB, HowTo, SlideD };

struct HelpView {
    HelpPicture picture = HelpPicture::None;  // None: the help label is hidden
    bool next = false;
    bool previous = false;
    bool close = false;

    bool padVisible() const { return picture == HelpPicture::None; }
    bool operator==(const HelpView& o) const {
        return picture == o.picture && next == o.next && previous == o.previous && close == o.close;
    }
};

class HelpWalk {
public:
    int slideIndex() const { return index_; }
    const HelpView& view() const { return view_; }

    // The help button: the first slide with next and close. The index is not
    // touched; closing reset it.
    void open();
    void next();
    void previous();
    // The setup button's menu is about to show: the how-to picture and the
    // close button; the index and the arrows stay as they are.
    void openHowTo();
    // The close button. True when it closed a picture (index back to 0, pad
    // shown); false when none showed, and the caller then hides the backdrop
    // if it is still up. Either way the close button is hidden.
    bool close();

private:
    int index_ = 0;
    HelpView view_;
};

}  // namespace parlune::ui
