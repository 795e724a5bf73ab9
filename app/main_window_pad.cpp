// The voice selection: the matrix pad, the presets page, the favorites page
// and the double click that applies a slot of either.
#include <QApplication>
#include <QDebug>
#include <QInputDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>

#include <qcustomplot.h>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "ui/core/presets.h"
#include "ui_main_window.h"

namespace parlune::app {
namespace {

const char* const kHumanPicture = ":/fixed/assets/matrix_human.png";
const char* const kCartoonPicture = ":/fixed/assets/matrix_cartoon.png";
const char* const kHumanColour = "#3c5d8e";
const char* const kCartoonColour = "#159D8C";
const char* const kCursorPicture = ":/interactable/assets/matrix_cursor.png";
const char* const kCartoonIcon = ":/icons/assets/icon_cartoonPreset.png";
const char* const kHumanIcon = ":/icons/assets/icon_humanPreset.png";

// The cursor's top-left from the point: the 27-pixel picture roughly centred
// on it at the pad's size, in each mode's vertical units.
constexpr double kCursorLeft = 0.05;
constexpr double kCursorDropCartoon = 0.105;
constexpr double kCursorDropHuman = 0.013;
// The cursor before the first action: the start point in cartoon units.
const QPointF kCursorAtStart(0.95, 1.105);

// The bottom margin of a slot button, which does not take a click.
constexpr int kSlotBottomMargin = 8;

const char* const kSlotNormalLook =
    "QRadioButton {color:white; text-align:left; background-image: "
    "url(:/interactable/assets/item_presets_off.png);} QRadioButton::indicator "
    "{background-color:transparent;selection-background-color:transparent;color:transparent;"
    "selection-color:transparent;} QRadioButton:checked {border: 1px solid white; "
    "border-radius:5px;}";
const char* const kSlotAppliedLook =
    "QRadioButton {font-weight:bold; color: #50a0ad; border: 2px solid #50a0ad; "
    "border-radius:5px; text-align:left; background-image: "
    "url(:/interactable/assets/item_presets_off.png);} QRadioButton::indicator "
    "{background-color:transparent;selection-background-color:transparent;color:transparent;"
    "selection-color:transparent;} QRadioButton:checked {border: 3px solid #50a0ad; "
    "border-radius:5px;}";

QString fieldStyle(const char* colour, bool pitchField) {
    return QStringLiteral(
               "QLineEdit { color: %1; background-color: #231F20; border: 2px solid %1; "
               "border-radius: 5px;%2 }")
        .arg(QLatin1String(colour), pitchField ? QStringLiteral(" padding-top: 4px;") : QString());
}

}  // namespace

// --- Set-up ----------------------------------------------------------------

void MainWindow::setUpPresets() {
    // The table is the one in ui/core/presets; the buttons come after the pad.
}

void MainWindow::setUpMatrixPlot() {
    QCustomPlot* plot = ui_->customPlot;
    setPadRanges(ui::kCartoonRange);
    plot->axisRect()->setAutoMargins(QCP::msNone);
    plot->axisRect()->setMargins(QMargins(0, 0, 0, 0));
    plot->setBackground(QBrush(QColor(0, 0, 0, 0), Qt::SolidPattern));
    plot->xAxis->setVisible(false);
    plot->yAxis->setVisible(false);
    matrixCursor_ = new QCPItemPixmap(plot);
    matrixCursor_->setPixmap(QPixmap(QString::fromLatin1(kCursorPicture)));
    matrixCursor_->setScaled(false);
    matrixCursor_->topLeft->setCoords(kCursorAtStart);
}

void MainWindow::setUpPresetButtons() {
    for (const ui::Preset& preset : ui::presets()) {
        QRadioButton* button = makeSlotButton(QString::fromLatin1(preset.name), preset.cartoon);
        ui_->presetSlots->addButton(button, QDialogButtonBox::ActionRole);
        presetButtons_ << button;
    }
}

void MainWindow::updateFavoriteSlots() {
    for (int slot = 0; slot < favorites::kSlotCount; ++slot) {
        const favorites::Record& record = favorites_[static_cast<size_t>(slot)];
        QRadioButton* button = makeSlotButton(favoriteName(slot), record.cartoon != 0);
        button->setBaseSize(251, 41);
        ui_->favoriteSlots->addButton(button, QDialogButtonBox::ActionRole);
        favoriteButtons_ << button;
    }
    // Rebuilt slots have lost the applied look, and maybe a name.
    emit voiceChanged();
}

QRadioButton* MainWindow::makeSlotButton(const QString& text, bool cartoon) {
    auto* button = new QRadioButton(text);
    button->installEventFilter(this);
    button->setMouseTracking(true);
    button->setIcon(QIcon(QString::fromLatin1(cartoon ? kCartoonIcon : kHumanIcon)));
    button->setIconSize(QSize(32, 16));
    return button;
}

void MainWindow::applyStartPoint() {
    // Cursor, fields and properties agree from the first frame: the start
    // point goes through the same path as any later move.
    updateMatrixCursor(false);
    updateWarp();
    savePresetButtonAt_ = ui_->savePresetButton->mapTo(this, QPoint(0, 0));
}

// --- The pad ---------------------------------------------------------------

void MainWindow::setPadRanges(const ui::PadRange& range) {
    ui_->customPlot->xAxis->setRange(range.xMin, range.xMax);
    ui_->customPlot->yAxis->setRange(range.yMin, range.yMax);
    clampRange_ = range;
}

void MainWindow::showMode(bool cartoon) {
    ui_->matrixLabel->setPixmap(
        QPixmap(QString::fromLatin1(cartoon ? kCartoonPicture : kHumanPicture)));
    const char* colour = cartoon ? kCartoonColour : kHumanColour;
    ui_->pitch->setStyleSheet(fieldStyle(colour, true));
    ui_->formant->setStyleSheet(fieldStyle(colour, false));
}

void MainWindow::updateMatrixCursor(bool clamp) {
    if (clamp) ui::clampToRange(clampRange_, padX_, padY_);
    const bool cartoon = properties().get(prop::isCartoonMorph);
    matrixCursor_->topLeft->setCoords(padX_ - kCursorLeft,
                                      padY_ + (cartoon ? kCursorDropCartoon : kCursorDropHuman));
    const double pitch = pitchFromPad(padX_);
    const double formant = ui::formantFromPad(padY_);
    properties().set(prop::pitch, pitch);
    properties().set(prop::formant, formant);
    // The fields hold four characters: a longer text is cut by the field.
    ui_->pitch->setText(QString::number(pitch, 'f', 2));
    ui_->formant->setText(QString::number(formant, 'f', 2));
    ui_->customPlot->replot();
    emit voiceChanged();
}

void MainWindow::updateWarp() {
    const int warp = ui::warpFromPad(padX_);
    properties().set(prop::warp, warp);
    ui_->warpText->setText(warp == 3 ? QStringLiteral("Log") : QStringLiteral("Sig"));
}

void MainWindow::setPadPointFromPixel(const QPoint& at) {
    padX_ = ui_->customPlot->xAxis->pixelToCoord(at.x());
    padY_ = ui_->customPlot->yAxis->pixelToCoord(at.y());
}

void MainWindow::setPadPoint(double x, double y) {
    padX_ = x;
    padY_ = y;
    updateMatrixCursor(true);
    updateWarp();
}

void MainWindow::mousePress(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (ui_->customPlot->itemAt(event->pos()) == matrixCursor_) {
        // A press on the cursor picks it up where it is.
        padDragging_ = true;
        return;
    }
    // The cursor picture is the only marker while dragging.
    QApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    padPointerHidden_ = true;
    padDragging_ = true;
    setPadPoint(ui_->customPlot->xAxis->pixelToCoord(event->pos().x()),
                ui_->customPlot->yAxis->pixelToCoord(event->pos().y()));
}

void MainWindow::mouseMove(QMouseEvent* event) {
    if (!padDragging_) return;
    setPadPoint(ui_->customPlot->xAxis->pixelToCoord(event->pos().x()),
                ui_->customPlot->yAxis->pixelToCoord(event->pos().y()));
}

void MainWindow::mouseRelease(QMouseEvent* event) {
    if (padDragging_) {
        setPadPointFromPixel(event->pos());
        updateMatrixCursor(true);
    }
    padDragging_ = false;
    if (padPointerHidden_) {
        QApplication::restoreOverrideCursor();
        padPointerHidden_ = false;
    }
}

void MainWindow::on_toggleHuman_clicked() {
    toggledCartoon_ = false;
    showMode(false);
    if (properties().get(prop::isCartoonMorph)) padY_ = ui::cartoonToHumanY(padY_);
    properties().set(prop::isCartoonMorph, false);
    setPadRanges(ui::kHumanRange);
    updateMatrixCursor(true);
}

void MainWindow::on_toggleCartoon_clicked() {
    toggledCartoon_ = true;
    showMode(true);
    if (!properties().get(prop::isCartoonMorph)) padY_ = ui::humanToCartoonY(padY_);
    properties().set(prop::isCartoonMorph, true);
    setPadRanges(ui::kCartoonRange);
    updateMatrixCursor(true);
}

void MainWindow::on_pitch_editingFinished() {
    // Leaving the field also ends an edit: without typing, the shown pitch
    // would be taken as a pad position and the voice would drift.
    if (!ui_->pitch->isModified()) return;
    ui_->pitch->setModified(false);
    // The number is the pad coordinate; the field then shows the pitch it
    // gives. Text that is not a number counts as 0 and is clamped.
    padX_ = ui_->pitch->text().toDouble();
    updateMatrixCursor(true);
    properties().set(prop::pitch, pitchFromPad(padX_));
}

void MainWindow::on_formant_editingFinished() {
    if (!ui_->formant->isModified()) return;
    ui_->formant->setModified(false);
    padY_ = ui_->formant->text().toDouble();
    updateMatrixCursor(true);
    properties().set(prop::formant, ui::formantFromPad(padY_));
}

// --- Presets and favorites -------------------------------------------------

void MainWindow::updatePresetParams(int id) {
    if (id < 0 || id >= ui::kPresetCount) return;
    const ui::Preset& preset = ui::presets()[static_cast<size_t>(id)];
    padX_ = preset.padX;
    padY_ = preset.padY;
    properties().set(prop::isCartoonMorph, preset.cartoon);
    showMode(preset.cartoon);
    qDebug() << "**** *** ***  isCArtoon? " << preset.cartoon;
    setPadRanges(preset.cartoon ? ui::kCartoonRange : ui::kHumanRange);
    properties().set(prop::pitch, pitchFromPad(padX_));
    properties().set(prop::formant, ui::formantFromPad(padY_));
    updateMatrixCursor(false);
    updateWarp();
}

void MainWindow::updateFavoriteParams(int id) {
    if (id < 0 || id >= favorites::kSlotCount) return;
    const favorites::Record& record = favorites_[static_cast<size_t>(id)];
    const bool cartoon = record.cartoon != 0;
    padX_ = record.padX;
    padY_ = record.padY;
    properties().set(prop::pitch, pitchFromPad(padX_));
    properties().set(prop::formant, ui::formantFromPad(padY_));
    properties().set(prop::isCartoonMorph, cartoon);
    showMode(cartoon);
    setPadRanges(cartoon ? ui::kCartoonRange : ui::kHumanRange);
    // Stored points come from a file: recall holds them on the pad.
    updateMatrixCursor(true);
    updateWarp();
}

void MainWindow::initializeFavorites() { favorites_ = favorites::defaultTable(); }

void MainWindow::on_presetsTab_toggled(bool checked) {
    if (!checked) return;
    ui_->presetSlots->show();
    ui_->favoriteSlots->hide();
    ui_->savePresetButton->hide();
    ui_->label_2->show();
}

void MainWindow::on_favoritesTab_toggled(bool checked) {
    if (!checked) return;
    ui_->presetSlots->hide();
    ui_->favoriteSlots->show();
    ui_->savePresetButton->show();
    ui_->label_2->hide();
}

bool MainWindow::isCollision(const QList<QAbstractButton*>& buttons, QPoint mouse) const {
    for (const QAbstractButton* button : buttons) {
        if (!button->isEnabled()) continue;
        const QPoint topLeft = button->pos() + button->parentWidget()->pos();
        if (mouse.x() >= topLeft.x() && mouse.x() <= topLeft.x() + button->width() &&
            mouse.y() >= topLeft.y() &&
            mouse.y() <= topLeft.y() + button->height() - kSlotBottomMargin)
            return true;
    }
    return false;
}

void MainWindow::setNormalLook(const QList<QAbstractButton*>& buttons) {
    for (QAbstractButton* button : buttons)
        button->setStyleSheet(QString::fromLatin1(kSlotNormalLook));
}

namespace {

int appliedIndex(const QList<QAbstractButton*>& buttons) {
    for (int index = 0; index < buttons.size(); ++index)
        if (buttons[index]->styleSheet() == QLatin1String(kSlotAppliedLook)) return index;
    return -1;
}

int checkedIndex(const QList<QAbstractButton*>& buttons) {
    for (int index = 0; index < buttons.size(); ++index)
        if (buttons[index]->isChecked()) return index;
    return -1;
}

}  // namespace

int MainWindow::appliedPreset() const { return appliedIndex(presetButtons_); }

int MainWindow::appliedFavorite() const { return appliedIndex(favoriteButtons_); }

int MainWindow::markApplied(const QList<QAbstractButton*>& buttons) {
    int applied = -1;
    for (int index = 0; index < buttons.size(); ++index) {
        QAbstractButton* button = buttons[index];
        button->setStyleSheet(QString::fromLatin1(kSlotNormalLook));
        if (button->isChecked()) {
            button->setStyleSheet(QString::fromLatin1(kSlotAppliedLook));
            applied = index;
        }
    }
    return applied;
}

void MainWindow::applyPreset(int index) {
    if (index >= 0 && index < presetButtons_.size()) {
        presetButtons_[index]->setChecked(true);
        markApplied(presetButtons_);
        updatePresetParams(index);
    } else {
        setNormalLook(presetButtons_);
    }
    setNormalLook(favoriteButtons_);
    updateMatrixCursor(false);
}

void MainWindow::applyFavorite(int index) {
    if (index >= 0 && index < favoriteButtons_.size()) {
        favoriteButtons_[index]->setChecked(true);
        markApplied(favoriteButtons_);
        updateFavoriteParams(index);
    } else {
        setNormalLook(favoriteButtons_);
    }
    setNormalLook(presetButtons_);
    updateMatrixCursor(false);
}

void MainWindow::stepPreset(int step) {
    const int count = presetButtons_.size();
    if (count == 0) return;
    const int from = appliedPreset();
    const int to = from >= 0 ? ((from + step) % count + count) % count : (step > 0 ? 0 : count - 1);
    applyPreset(to);
}

void MainWindow::handleSlotDoubleClick(const QMouseEvent* event) {
    // The checked button is applied, not the one under the pointer: the
    // first click of the double click has checked it already.
    const QPoint at = mapFromGlobal(event->globalPos());
    if (!ui_->presetSlots->isHidden() && isCollision(presetButtons_, at))
        applyPreset(checkedIndex(presetButtons_));
    else if (!ui_->favoriteSlots->isHidden() && isCollision(favoriteButtons_, at))
        applyFavorite(checkedIndex(favoriteButtons_));
    else
        updateMatrixCursor(false);
}

int MainWindow::runModal(QDialog& dialog) {
    ui_->backdrop->show();
    const int result = services_.execDialog(dialog);
    ui_->backdrop->hide();
    return result;
}

void MainWindow::on_savePresetButton_clicked() {
    int slot = -1;
    for (int index = 0; index < favoriteButtons_.size() && slot < 0; ++index)
        if (favoriteButtons_[index]->isChecked()) slot = index;
    if (slot < 0 || !ui_->favoriteSlots->isVisible()) {
        errorBox_->setText(
            QStringLiteral("Please select the slot where you want to save your favorite."));
        runModal(*errorBox_);
        return;
    }
    nameDialog_->move(pos() + savePresetButtonAt_ + QPoint(-25, -115));
    nameDialog_->setTextValue(favoriteName(slot));
    if (runModal(*nameDialog_) != QDialog::Accepted) return;

    for (QAbstractButton* button : favoriteButtons_) {
        ui_->favoriteSlots->removeButton(button);
        delete button;
    }
    favoriteButtons_.clear();
    favorites::Record& record = favorites_[static_cast<size_t>(slot)];
    favorites::setName(record, nameDialog_->textValue().toStdString());
    record.padX = padX_;
    record.padY = padY_;
    // The mode the pad is in, so the voice comes back as it was heard.
    record.cartoon = properties().get(prop::isCartoonMorph) ? 1 : 0;
    updateFavoriteSlots();
    writeFavorites();
}

void MainWindow::writeFavorites() {
    if (favoritesPath_.empty() || !favorites::writeFile(favoritesPath_, favorites_))
        qDebug("Error: favorites.dat not created");
}

}  // namespace parlune::app
