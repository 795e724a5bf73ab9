#include "ui/core/help_walk.h"

namespace parlune::ui {

void HelpWalk::open() {
    view_.picture = HelpPicture::SlideA;
    view_.next = true;
    view_.close = true;
}

void HelpWalk::next() {
    ++index_;
    switch (index_) {
        case 1:
            view_.picture = HelpPicture::SlideB;
            view_.next = view_.previous = true;
            break;
        case 2:
            view_.picture = HelpPicture::HowTo;
            view_.next = view_.previous = true;
            break;
        case 3:
            view_.picture = HelpPicture::SlideD;
            view_.next = false;
            break;
        default:
            break;
    }
}

void HelpWalk::previous() {
    --index_;
    switch (index_) {
        case 0:
            view_.picture = HelpPicture::SlideA;
            view_.previous = false;
            view_.next = true;
            break;
        case 1:
            view_.picture = HelpPicture::SlideB;
            view_.next = true;
            break;
        case 2:
            view_.picture = HelpPicture::HowTo;
            view_.next = true;
            break;
        default:
            break;
    }
}

void HelpWalk::openHowTo() {
    view_.picture = HelpPicture::HowTo;
    view_.close = true;
}

bool HelpWalk::close() {
    const bool pictureShown = view_.picture != HelpPicture::None;
    if (pictureShown) {
        view_ = HelpView{};
        index_ = 0;
    }
    view_.close = false;
    return pictureShown;
}

}  // namespace parlune::ui
