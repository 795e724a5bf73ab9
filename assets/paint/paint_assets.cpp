// paint_assets: draws every picture of the program's resource bundle with
// QPainter and writes them, with the bundle's .qrc, into one folder.
//
//   paint_assets <out-dir> <Roboto-Regular.ttf> <Roboto-Bold.ttf>
//
// The pictures and their sizes come from assets/asset_list.h; a listed
// picture without a painter here is an error, so the two cannot drift apart.
// Beside the bundle it writes preview/ (the window put together from the
// pictures, both pad modes, and a contact sheet) for a person to look at.
// Runs once at build time on one thread; the offscreen platform suffices.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "assets/asset_list.h"
#include "ui/core/pad_math.h"
#include "ui/core/presets.h"

namespace {

using parlune::assets::kPictures;
using parlune::assets::Picture;
using parlune::ui::PadRange;

// ---------------------------------------------------------------- palette

namespace pal {
const QColor deep(0x14, 0x17, 0x2f);     // window edges, deepest navy
const QColor navy(0x28, 0x36, 0x5f);     // panels
const QColor teal(0x50, 0xa0, 0xad);     // active borders, device texts
const QColor light(0x67, 0xd2, 0xdd);    // hover, selection
const QColor cartoon(0x15, 0x9d, 0x8c);  // cartoon mode
const QColor human(0x3c, 0x5d, 0x8e);    // human mode
const QColor field(0x23, 0x1f, 0x20);    // number fields
const QColor text(0xe6, 0xe7, 0xe8);
const QColor muted(0x80, 0x81, 0x84);
const QColor grey(170, 170, 127);      // version and warp labels
const QColor panel(0x1b, 0x22, 0x42);  // between deep and navy
const QColor edge(0x34, 0x41, 0x6d);   // thin outlines on navy
const QColor rec(0xe0, 0x56, 0x5b);    // the one warm accent: recording
}  // namespace pal

QFont roboto(double px, bool bold = true, double spacing = 0) {
    QFont f(QStringLiteral("Roboto"));
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(px))));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

void drawText(QPainter& p, const QRectF& r, int flags, const QString& s, const QFont& f,
              const QColor& c) {
    p.save();
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, flags, s);
    p.restore();
}

QImage blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// A flat rounded shape with a vertical gradient and a thin outline.
void panel(QPainter& p, const QRectF& r, double radius, const QColor& top, const QColor& bottom,
           const QColor& border, double borderWidth = 1.0) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.save();
    p.setBrush(g);
    if (borderWidth > 0)
        p.setPen(QPen(border, borderWidth));
    else
        p.setPen(Qt::NoPen);
    const double h = borderWidth / 2;
    p.drawRoundedRect(r.adjusted(h, h, -h, -h), radius, radius);
    p.restore();
}

// ---------------------------------------------------------------- glyphs
// Each glyph is drawn in a 24 x 24 unit box scaled to the given rectangle.

struct Glyph {
    QPainter& p;
    Glyph(QPainter& painter, const QRectF& box) : p(painter) {
        p.save();
        p.translate(box.topLeft());
        p.scale(box.width() / 24.0, box.height() / 24.0);
    }
    ~Glyph() { p.restore(); }
    void stroke(const QColor& c, double w) {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
    }
    void fill(const QColor& c) {
        p.setPen(Qt::NoPen);
        p.setBrush(c);
    }
};

void glyphMic(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    g.p.drawRoundedRect(QRectF(8.5, 2, 7, 12.5), 3.5, 3.5);
    g.stroke(c, 2);
    g.p.drawArc(QRectF(5, 5, 14, 13), 180 * 16, 180 * 16);
    g.p.drawLine(QPointF(12, 18), QPointF(12, 21.5));
    g.p.drawLine(QPointF(8, 21.5), QPointF(16, 21.5));
}

void glyphSpeaker(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    QPolygonF body;
    body << QPointF(3, 9) << QPointF(7.5, 9) << QPointF(13, 4) << QPointF(13, 20)
         << QPointF(7.5, 15) << QPointF(3, 15);
    g.p.drawPolygon(body);
    g.stroke(c, 2);
    g.p.drawArc(QRectF(11, 8, 8, 8), -50 * 16, 100 * 16);
    g.p.drawArc(QRectF(9, 4, 14, 16), -50 * 16, 100 * 16);
}

void glyphHeadset(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2.2);
    g.p.drawArc(QRectF(4, 3, 16, 18), 0, 180 * 16);
    g.fill(c);
    g.p.drawRoundedRect(QRectF(2.5, 11, 5, 8.5), 2, 2);
    g.p.drawRoundedRect(QRectF(16.5, 11, 5, 8.5), 2, 2);
    g.stroke(c, 1.8);
    QPainterPath boom(QPointF(19, 19));
    boom.quadTo(QPointF(19, 22.5), QPointF(13.5, 22.5));
    g.p.drawPath(boom);
    g.fill(c);
    g.p.drawEllipse(QPointF(12.5, 22.5), 1.6, 1.6);
}

void glyphQuestion(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2);
    g.p.drawEllipse(QRectF(2, 2, 20, 20));
    QPainterPath q(QPointF(8.8, 9.2));
    q.cubicTo(QPointF(8.8, 5.8), QPointF(15.2, 5.8), QPointF(15.2, 9.2));
    q.cubicTo(QPointF(15.2, 11.8), QPointF(12, 11.8), QPointF(12, 14.5));
    g.p.drawPath(q);
    g.fill(c);
    g.p.drawEllipse(QPointF(12, 17.8), 1.4, 1.4);
}

void glyphSliders(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2);
    const double xs[3] = {5, 12, 19};
    const double knobs[3] = {15, 7, 12};
    for (int i = 0; i < 3; ++i) g.p.drawLine(QPointF(xs[i], 3), QPointF(xs[i], 21));
    g.fill(c);
    for (int i = 0; i < 3; ++i) g.p.drawRoundedRect(QRectF(xs[i] - 3, knobs[i] - 2, 6, 4), 1, 1);
}

void glyphEnvelope(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2);
    g.p.drawRoundedRect(QRectF(2.5, 5.5, 19, 13), 1.5, 1.5);
    g.p.drawPolyline(QPolygonF() << QPointF(3, 6.5) << QPointF(12, 13) << QPointF(21, 6.5));
}

void glyphShareNodes(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2);
    g.p.drawLine(QPointF(6, 12), QPointF(17.5, 5.5));
    g.p.drawLine(QPointF(6, 12), QPointF(17.5, 18.5));
    g.fill(c);
    g.p.drawEllipse(QPointF(6, 12), 3.2, 3.2);
    g.p.drawEllipse(QPointF(17.5, 5.5), 3.2, 3.2);
    g.p.drawEllipse(QPointF(17.5, 18.5), 3.2, 3.2);
}

void glyphBubble(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2);
    QPainterPath b;
    b.addRoundedRect(QRectF(2.5, 3.5, 19, 13), 4, 4);
    g.p.drawPath(b);
    g.p.drawPolyline(QPolygonF() << QPointF(7, 16.5) << QPointF(6, 21) << QPointF(11.5, 16.5));
    g.fill(c);
    for (double x : {7.5, 12.0, 16.5}) g.p.drawEllipse(QPointF(x, 10), 1.5, 1.5);
}

void glyphPhone(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    QPainterPath ph;
    // A handset seen from the side: earpiece top left, mouthpiece bottom right.
    ph.moveTo(5, 3);
    ph.lineTo(9, 3);
    ph.lineTo(10.5, 8);
    ph.lineTo(8, 10);
    ph.cubicTo(9.5, 13, 11, 14.5, 14, 16);
    ph.lineTo(16, 13.5);
    ph.lineTo(21, 15);
    ph.lineTo(21, 19);
    ph.cubicTo(21, 20.5, 19.5, 21.5, 18, 21);
    ph.cubicTo(10, 19.5, 4.5, 14, 3, 6);
    ph.cubicTo(2.6, 4.3, 3.5, 3, 5, 3);
    g.p.drawPath(ph);
}

void glyphGamepad(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    QPainterPath pad;
    pad.addRoundedRect(QRectF(1.5, 6.5, 21, 12), 6, 6);
    QPainterPath holes;
    holes.addRect(QRectF(5, 11.5, 6, 2));
    holes.addRect(QRectF(7, 9.5, 2, 6));
    holes.addEllipse(QPointF(16, 11), 1.4, 1.4);
    holes.addEllipse(QPointF(18.5, 13.8), 1.4, 1.4);
    g.p.drawPath(pad.subtracted(holes));
}

void glyphDots(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    for (double x : {5.0, 12.0, 19.0}) g.p.drawEllipse(QPointF(x, 12), 2.4, 2.4);
}

void glyphStar(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double a = -M_PI / 2 + i * M_PI / 5;
        const double r = i % 2 ? 4.6 : 10.5;
        star << QPointF(12 + r * std::cos(a), 12.8 + r * std::sin(a));
    }
    g.p.drawPolygon(star);
}

void glyphPlay(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    g.p.drawPolygon(QPolygonF() << QPointF(7, 4) << QPointF(20, 12) << QPointF(7, 20));
}

void glyphDownload(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.stroke(c, 2.2);
    g.p.drawLine(QPointF(12, 3), QPointF(12, 14));
    g.p.drawPolyline(QPolygonF() << QPointF(7, 9.5) << QPointF(12, 14.5) << QPointF(17, 9.5));
    g.p.drawPolyline(QPolygonF() << QPointF(4, 15) << QPointF(4, 20) << QPointF(20, 20)
                                 << QPointF(20, 15));
}

void glyphChevron(QPainter& painter, const QRectF& box, const QColor& c, int dir, double w = 2.4) {
    // dir: 0 down, 1 right, 2 left, 3 up.
    Glyph g(painter, box);
    g.stroke(c, w);
    QPolygonF v;
    if (dir == 0) v << QPointF(6, 9) << QPointF(12, 15) << QPointF(18, 9);
    if (dir == 1) v << QPointF(9, 5) << QPointF(16, 12) << QPointF(9, 19);
    if (dir == 2) v << QPointF(15, 5) << QPointF(8, 12) << QPointF(15, 19);
    if (dir == 3) v << QPointF(6, 15) << QPointF(12, 9) << QPointF(18, 15);
    g.p.drawPolyline(v);
}

void glyphCross(QPainter& painter, const QRectF& box, const QColor& c, double w) {
    Glyph g(painter, box);
    g.stroke(c, w);
    g.p.drawLine(QPointF(5, 5), QPointF(19, 19));
    g.p.drawLine(QPointF(19, 5), QPointF(5, 19));
}

void glyphHuman(QPainter& painter, const QRectF& box, const QColor& c) {
    Glyph g(painter, box);
    g.fill(c);
    g.p.drawEllipse(QPointF(12, 8), 4.6, 5.2);
    QPainterPath body(QPointF(3, 23));
    body.cubicTo(QPointF(3, 16), QPointF(7, 14), QPointF(12, 14));
    body.cubicTo(QPointF(17, 14), QPointF(21, 16), QPointF(21, 23));
    body.closeSubpath();
    g.p.drawPath(body);
}

void glyphCartoon(QPainter& painter, const QRectF& box, const QColor& c, const QColor& eyes) {
    Glyph g(painter, box);
    g.fill(c);
    g.p.drawEllipse(QRectF(2, 2.5, 20, 19.5));
    g.fill(eyes);
    g.p.drawEllipse(QRectF(6.2, 6.5, 5, 6.5));
    g.p.drawEllipse(QRectF(12.8, 6.5, 5, 6.5));
    g.fill(c);
    g.p.drawEllipse(QPointF(9.3, 10.3), 1.5, 1.8);
    g.p.drawEllipse(QPointF(15.9, 10.3), 1.5, 1.8);
    g.stroke(eyes, 1.6);
    g.p.drawArc(QRectF(7.5, 11, 9, 6.5), 200 * 16, 140 * 16);
}

void glyphWave(QPainter& painter, const QRectF& box, const QColor& c, double w) {
    // Sound bars, tall in the middle: the program's mark.
    Glyph g(painter, box);
    g.stroke(c, w);
    const double heights[5] = {5, 10, 16, 10, 5};
    for (int i = 0; i < 5; ++i) {
        const double x = 4 + i * 4;
        g.p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
    }
}

void glyphBars(QPainter& painter, const QRectF& box, const QColor& c) {
    // Level bars rising left to right: an audio device, input or output.
    Glyph g(painter, box);
    g.fill(c);
    const double heights[4] = {6, 10, 14, 18};
    for (int i = 0; i < 4; ++i)
        g.p.drawRoundedRect(QRectF(3 + i * 5, 21 - heights[i], 3, heights[i]), 1, 1);
}

// ---------------------------------------------------------------- the window's layout
// Widget rectangles of the main window (x, y, width, height), as the form
// places them; the background's frames and the slides' arrows follow them.

namespace ui {
const QRect window(0, 0, 1098, 727);
const QRect dspButton(337, 48, 191, 27);
const QRect pitch(590, 90, 41, 31);
const QRect formant(363, 280, 45, 27);
const QRect matrixLabel(402, 114, 497, 357);
const QRect customPlot(405, 118, 414, 349);
const QRect toggleHuman(820, 114, 71, 77);
const QRect toggleCartoon(820, 190, 71, 77);
const QRect presetsTab(39, 90, 125, 43);
const QRect favoritesTab(164, 90, 126, 43);
const QRect slotBox(38, 150, 251, 441);
const QRect hint(80, 590, 161, 41);
const QRect savePreset(139, 596, 150, 34);
const QRect inputList(420, 610, 252, 43);
const QRect outputList(750, 610, 252, 43);
const QRect recordButton(570, 466, 85, 84);
const QRect saveWavButton(510, 479, 59, 62);
const QRect playButton(656, 479, 59, 62);
const QRect twitter(25, 663, 37, 37);
const QRect facebook(62, 663, 36, 37);
const QRect email(98, 663, 36, 37);
const QRect help(150, 663, 27, 37);
const QRect setup(190, 663, 28, 37);
const QRect soundSettings(230, 663, 34, 37);
const QRect minimize(1038, 16, 20, 15);
const QRect close(1067, 16, 16, 15);
const QRect warning(0, 10, 410, 340);
const int effectX = 936, effectY0 = 150, effectStep = 50, effectW = 144, effectH = 42;
const char* const effects[5] = {"ECHO", "REVERB", "CHORUS", "DISTORTION", "TREMOLO"};
const int slotHeight = 49;  // a 41 px picture and an 8 px gap
}  // namespace ui

// Framed panels of the background, around the widgets they hold.
namespace frame {
const QRect left(26, 80, 276, 562);
const QRect centre(340, 82, 576, 480);
const QRect effects(926, 108, 164, 296);
const QRect devices(340, 576, 750, 80);
}  // namespace frame

// ---------------------------------------------------------------- pictures

using Painter = std::function<void(QPainter&, const QSize&)>;
std::map<QString, Painter>& painters() {
    static std::map<QString, Painter> m;
    return m;
}
std::map<QString, QImage>& cache() {
    static std::map<QString, QImage> m;
    return m;
}

const Picture* findPicture(const QString& name) {
    for (const Picture& pic : kPictures)
        if (name == QLatin1String(pic.name)) return &pic;
    return nullptr;
}

// The picture as the bundle holds it, drawn once.
const QImage& picture(const QString& name) {
    auto it = cache().find(name);
    if (it != cache().end()) return it->second;
    const Picture* pic = findPicture(name);
    auto painter = painters().find(name);
    if (!pic || painter == painters().end()) {
        std::fprintf(stderr, "paint_assets: no painter or no list entry for %s\n",
                     qPrintable(name));
        std::exit(1);
    }
    QImage img = blank(pic->width, pic->height);
    {
        QPainter p(&img);
        begin(p);
        painter->second(p, img.size());
    }
    return cache().emplace(name, img).first->second;
}

void put(QPainter& p, const QString& name, const QPoint& at) { p.drawImage(at, picture(name)); }

// -- the background

void paintBackground(QPainter& p, const QSize& s) {
    const QRectF all(0, 0, s.width(), s.height());
    // Rounded window: the window is translucent, so the corners stay clear.
    QRadialGradient glow(QPointF(s.width() * 0.55, s.height() * 0.42), s.width() * 0.75);
    glow.setColorAt(0, QColor(0x22, 0x2c, 0x50));
    glow.setColorAt(1, pal::deep);
    p.setBrush(glow);
    p.setPen(QPen(pal::edge, 1));
    p.drawRoundedRect(all.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);

    // Title strip: the drag area, a shade darker, with the wordmark.
    QPainterPath strip;
    strip.addRoundedRect(all.adjusted(1, 1, -1, 0), 9, 9);
    QPainterPath top;
    top.addRect(QRectF(0, 0, s.width(), 43));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x13, 0x28));
    p.drawPath(strip.intersected(top));
    p.setPen(QPen(pal::edge, 1));
    p.drawLine(QPointF(1, 43.5), QPointF(s.width() - 1, 43.5));
    glyphWave(p, QRectF(420, 10, 24, 24), pal::teal, 2.6);
    drawText(p, QRectF(450, 0, 200, 44), Qt::AlignVCenter | Qt::AlignLeft, "PARLUNE",
             roboto(17, true, 5), pal::text);

    // Panels.
    for (const QRect& r : {frame::left, frame::centre, frame::effects, frame::devices})
        panel(p, r, 6, QColor(0x26, 0x32, 0x58, 230), QColor(0x1a, 0x21, 0x40, 230), pal::edge);

    // Left panel: a rule under the tabs, a quiet well behind the slots.
    p.setPen(QPen(pal::teal, 2));
    p.drawLine(QPointF(ui::presetsTab.left(), 134), QPointF(ui::favoritesTab.right() + 1, 134));
    panel(p, QRectF(ui::slotBox).adjusted(-4, -6, 6, 0), 5, QColor(0x12, 0x16, 0x2e, 160),
          QColor(0x12, 0x16, 0x2e, 160), Qt::transparent, 0);

    // Centre: the pad's well and the names of the two number fields.
    panel(p, QRectF(ui::matrixLabel).adjusted(-3, -3, 3, 3), 8, QColor(0x0f, 0x12, 0x26),
          QColor(0x0f, 0x12, 0x26), pal::edge);
    drawText(p, QRectF(480, ui::pitch.top(), ui::pitch.left() - 488, ui::pitch.height()),
             Qt::AlignVCenter | Qt::AlignRight, "PITCH", roboto(11, true, 2), pal::muted);
    {
        p.save();
        p.translate(ui::formant.center().x() - 4, ui::formant.top() - 10);
        p.rotate(-90);
        drawText(p, QRectF(0, -8, 110, 16), Qt::AlignVCenter | Qt::AlignLeft, "FORMANT",
                 roboto(11, true, 2), pal::muted);
        p.restore();
    }
    // Recording: a shallow tray under the three buttons.
    panel(p, QRectF(500, 472, 225, 78), 6, QColor(0x14, 0x19, 0x33), QColor(0x14, 0x19, 0x33),
          pal::edge);

    // Effects heading.
    drawText(p,
             QRectF(frame::effects.left(), frame::effects.top() + 10, frame::effects.width(), 24),
             Qt::AlignCenter, "EFFECTS", roboto(12, true, 3), pal::teal);
    p.setPen(QPen(pal::edge, 1));
    p.drawLine(QPointF(ui::effectX + 6, 139.5), QPointF(ui::effectX + ui::effectW - 6, 139.5));

    // Devices: the two choosers' names above them.
    drawText(p, QRectF(ui::inputList.left() + 4, 582, 240, 22), Qt::AlignVCenter | Qt::AlignLeft,
             "MICROPHONE", roboto(11, true, 2), pal::muted);
    drawText(p, QRectF(ui::outputList.left() + 4, 582, 240, 22), Qt::AlignVCenter | Qt::AlignLeft,
             "SPEAKER", roboto(11, true, 2), pal::muted);
    glyphMic(p, QRectF(372, 618, 26, 26), pal::teal);
    glyphSpeaker(p, QRectF(705, 618, 26, 26), pal::teal);

    // Footer rule.
    p.setPen(QPen(pal::edge, 1));
    p.drawLine(QPointF(20, 659.5), QPointF(s.width() - 20, 659.5));
}

// -- the pad

struct PadGeometry {
    // The plot's surface inside the matrix picture.
    QRectF plot{3, 4, 414, 349};
    PadRange range;
    double px(double x) const {
        return plot.left() + (x - range.xMin) / (range.xMax - range.xMin) * plot.width();
    }
    double py(double y) const {
        return plot.top() + plot.height() - 1 -
               (y - range.yMin) / (range.yMax - range.yMin) * plot.height();
    }
};

QString number(double v) {
    QString s = QString::number(v, 'f', 2);
    if (s.endsWith('0') && !s.endsWith(".00")) s.chop(1);
    if (s.endsWith(".00")) s.chop(1);
    return s;
}

void modeButton(QPainter& p, const QRectF& r, bool human, bool lit) {
    const QColor mode = human ? pal::human : pal::cartoon;
    const QRectF b = r.adjusted(5, 5, -5, -4);
    if (lit) {
        panel(p, b, 6, mode.lighter(125), mode, pal::light, 2);
    } else {
        panel(p, b, 6, QColor(0x1e, 0x26, 0x48), QColor(0x18, 0x1e, 0x3a), pal::edge, 1);
    }
    const QColor ink = lit ? QColor(Qt::white) : pal::muted;
    const QRectF glyph(b.center().x() - 14, b.top() + 8, 28, 28);
    if (human)
        glyphHuman(p, glyph, ink);
    else
        glyphCartoon(p, glyph, ink, lit ? mode : QColor(0x18, 0x1e, 0x3a));
    drawText(p, QRectF(b.left(), b.bottom() - 24, b.width(), 20), Qt::AlignCenter,
             human ? "HUMAN" : "CARTOON", roboto(10, true, 0.5), ink);
}

void paintMatrix(QPainter& p, const QSize& s, bool human) {
    PadGeometry g;
    g.range = human ? parlune::ui::kHumanRange : parlune::ui::kCartoonRange;
    const QColor mode = human ? pal::human : pal::cartoon;
    (void)s;

    // Surface: dark, tinted by the mode towards the top.
    QLinearGradient surf(g.plot.topLeft(), g.plot.bottomLeft());
    QColor tint = mode;
    tint.setAlpha(70);
    surf.setColorAt(0, QColor(0x18, 0x22, 0x40));
    surf.setColorAt(1, QColor(0x11, 0x15, 0x2c));
    p.setPen(Qt::NoPen);
    p.setBrush(surf);
    p.drawRoundedRect(g.plot, 6, 6);
    QRadialGradient halo(QPointF(g.px(1.0), g.py(1.0)), 260);
    halo.setColorAt(0, tint);
    halo.setColorAt(1, Qt::transparent);
    p.setBrush(halo);
    p.drawRoundedRect(g.plot, 6, 6);

    p.save();
    p.setClipRect(g.plot);
    // Grid in pad units: across at the pitch marks, up every step of the range.
    const std::vector<double> xs{0.3, 0.5, 0.7, 1.0, 1.2, 1.4, 1.7};
    std::vector<double> ys;
    const double step = human ? 0.1 : 0.5;
    for (double y = g.range.yMin; y <= g.range.yMax + 1e-9; y += step) ys.push_back(y);
    QColor gridC = pal::edge;
    gridC.setAlpha(170);
    p.setPen(QPen(gridC, 1));
    for (double x : xs)
        p.drawLine(QPointF(g.px(x), g.plot.top()), QPointF(g.px(x), g.plot.bottom()));
    for (double y : ys)
        p.drawLine(QPointF(g.plot.left(), g.py(y)), QPointF(g.plot.right(), g.py(y)));
    // The neutral voice: pitch 1.0 and formant 1.0, a little brighter.
    QColor neutral = mode.lighter(150);
    neutral.setAlpha(200);
    p.setPen(QPen(neutral, 1.2));
    p.drawLine(QPointF(g.px(1.0), g.plot.top()), QPointF(g.px(1.0), g.plot.bottom()));
    p.drawLine(QPointF(g.plot.left(), g.py(1.0)), QPointF(g.plot.right(), g.py(1.0)));

    // The warp curve changes where the pad says so: the first pixel column
    // whose coordinate gives the other warp gets a faint dashed line.
    double warpX = g.plot.left();
    for (int i = 0; i < static_cast<int>(g.plot.width()); ++i) {
        const double x = g.range.xMin + (i + 0.5) / g.plot.width() * (g.range.xMax - g.range.xMin);
        if (parlune::ui::warpFromPad(x) != parlune::ui::warpFromPad(g.range.xMin)) {
            warpX = g.plot.left() + i;
            break;
        }
    }
    QPen dashed(QColor(170, 170, 127, 90), 1, Qt::DashLine);
    p.setPen(dashed);
    p.drawLine(QPointF(warpX + 0.5, g.plot.top() + 22), QPointF(warpX + 0.5, g.plot.bottom() - 22));
    drawText(p, QRectF(warpX - 40, g.plot.top() + 6, 36, 14), Qt::AlignRight | Qt::AlignVCenter,
             "SIG", roboto(9, true, 1), QColor(170, 170, 127, 150));
    drawText(p, QRectF(warpX + 4, g.plot.top() + 6, 36, 14), Qt::AlignLeft | Qt::AlignVCenter,
             "LOG", roboto(9, true, 1), QColor(170, 170, 127, 150));

    // Scale marks: the pitch each column gives, along the bottom; the formant
    // of each row, along the left.
    const QFont tick = roboto(10, true);
    const QColor tickC(0xb8, 0xc4, 0xd8);
    for (double x : xs) {
        const double at = g.px(x);
        p.setPen(QPen(tickC, 1.2));
        p.drawLine(QPointF(at, g.plot.bottom() - 5), QPointF(at, g.plot.bottom()));
        const QString label = number(parlune::ui::pitchFromPad(x));
        QRectF r(at - 20, g.plot.bottom() - 20, 40, 14);
        int align = Qt::AlignHCenter;
        if (x == xs.front()) {
            r.moveLeft(at + 5);
            align = Qt::AlignLeft;
        } else if (x == xs.back()) {
            r.moveRight(at - 5);
            align = Qt::AlignRight;
        }
        drawText(p, r, align | Qt::AlignVCenter, label, tick, tickC);
    }
    for (double y : ys) {
        const double at = g.py(y);
        p.setPen(QPen(tickC, 1.2));
        p.drawLine(QPointF(g.plot.left(), at), QPointF(g.plot.left() + 5, at));
        QRectF r(g.plot.left() + 8, at - 7, 40, 14);
        if (y == ys.front()) r.moveBottom(at - 20);  // above the pitch marks
        if (y == ys.back()) r.moveTop(at + 3);
        drawText(p, r, Qt::AlignLeft | Qt::AlignVCenter, number(y), tick, tickC);
    }
    // Axis names, with the way the value grows.
    const QFont axis = roboto(12, true, 3);
    const QColor axisC(0xe6, 0xe7, 0xe8, 200);
    drawText(p, QRectF(g.plot.right() - 180, g.plot.bottom() - 40, 150, 16),
             Qt::AlignRight | Qt::AlignVCenter, "PITCH", axis, axisC);
    glyphChevron(p, QRectF(g.plot.right() - 30, g.plot.bottom() - 42, 18, 18), axisC, 1, 3);
    p.translate(g.plot.left() + 44, g.plot.top() + 30);
    p.rotate(-90);
    drawText(p, QRectF(-140, -8, 120, 16), Qt::AlignRight | Qt::AlignVCenter, "FORMANT", axis,
             axisC);
    glyphChevron(p, QRectF(-18, -9, 18, 18), axisC, 1, 3);
    p.restore();

    // Outline of the surface.
    p.setPen(QPen(mode.lighter(120), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(g.plot.adjusted(0.75, 0.75, -0.75, -0.75), 6, 6);

    // The mode buttons sit on the picture at its right edge.
    const QPoint origin = ui::matrixLabel.topLeft();
    modeButton(p, ui::toggleHuman.translated(-origin), true, human);
    modeButton(p, ui::toggleCartoon.translated(-origin), false, !human);

    // Below them, the active ranges in the values the fields show.
    const QRectF legend(420, 280, 74, 70);
    drawText(p, legend.adjusted(0, 0, 0, -46), Qt::AlignCenter, human ? "HUMAN" : "CARTOON",
             roboto(9, true, 1), mode.lighter(150));
    const QString ranges = QStringLiteral("pitch\n%1 – %2\nformant\n%3 – %4")
                               .arg(number(parlune::ui::pitchFromPad(g.range.xMin)))
                               .arg(number(parlune::ui::pitchFromPad(g.range.xMax)))
                               .arg(number(g.range.yMin))
                               .arg(number(g.range.yMax));
    drawText(p, legend.adjusted(0, 16, 0, 0), Qt::AlignHCenter | Qt::AlignTop, ranges,
             roboto(9, false), pal::muted);
}

void paintCursor(QPainter& p, const QSize& s) {
    const QPointF c(s.width() / 2.0, s.height() / 2.0);
    QRadialGradient glow(c, 13);
    glow.setColorAt(0, QColor(0x67, 0xd2, 0xdd, 110));
    glow.setColorAt(1, Qt::transparent);
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(c, 13, 13);
    p.setPen(QPen(QColor(0x0b, 0x0e, 0x1e), 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 8.5, 8.5);
    p.setPen(QPen(pal::light, 2.2));
    p.drawEllipse(c, 8.5, 8.5);
    p.setPen(QPen(QColor(0x0b, 0x0e, 0x1e), 1));
    p.setBrush(Qt::white);
    p.drawEllipse(c, 3, 3);
}

// -- switches and plain items

void segmentSwitch(QPainter& p, const QSize& s, const QString& leftText, const QString& rightText,
                   bool rightOn, const QColor& onColor) {
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    panel(p, r, r.height() / 2, QColor(0x12, 0x16, 0x2e), QColor(0x1a, 0x20, 0x3d), pal::edge);
    const double half = r.width() / 2;
    const QRectF knob = rightOn ? QRectF(r.left() + half, r.top() + 2, half - 2, r.height() - 4)
                                : QRectF(r.left() + 2, r.top() + 2, half - 2, r.height() - 4);
    panel(p, knob, knob.height() / 2, onColor.lighter(120), onColor, onColor.lighter(150));
    const QFont f = roboto(11, true, 1.5);
    drawText(p, QRectF(r.left(), r.top(), half, r.height()), Qt::AlignCenter, leftText, f,
             rightOn ? pal::muted : QColor(Qt::white));
    drawText(p, QRectF(r.left() + half, r.top(), half, r.height()), Qt::AlignCenter, rightText, f,
             rightOn ? QColor(Qt::white) : pal::muted);
}

void micSwitch(QPainter& p, const QSize& s, bool on) {
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    panel(p, r, r.height() / 2, QColor(0x12, 0x16, 0x2e), QColor(0x1a, 0x20, 0x3d), pal::edge);
    glyphMic(p, QRectF(8, 4, 19, 19), on ? pal::light : pal::muted);
    drawText(p, QRectF(30, 0, 46, s.height()), Qt::AlignVCenter | Qt::AlignLeft, "MONITOR",
             roboto(9, true, 0.5), on ? pal::text : pal::muted);
    const QRectF knob(s.width() - 46, 3, 42, s.height() - 6);
    if (on)
        panel(p, knob, knob.height() / 2, pal::teal.lighter(115), pal::teal, pal::light);
    else
        panel(p, knob, knob.height() / 2, QColor(0x30, 0x38, 0x58), QColor(0x28, 0x2f, 0x4c),
              pal::edge);
    drawText(p, knob, Qt::AlignCenter, on ? "ON" : "OFF", roboto(10, true, 1),
             on ? QColor(Qt::white) : pal::muted);
}

void item(QPainter& p, const QSize& s, double radius) {
    const QRectF r(0, 0, s.width(), s.height());
    panel(p, r, radius, QColor(0x2c, 0x3a, 0x66), QColor(0x22, 0x2d, 0x52), pal::edge);
    // A soft highlight along the top edge.
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.drawLine(QPointF(radius, 1.5), QPointF(s.width() - radius, 1.5));
}

void tab(QPainter& p, const QSize& s, const QString& label, bool on, bool star) {
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() + 6);
    p.save();
    p.setClipRect(QRectF(0, 0, s.width(), s.height()));
    if (on)
        panel(p, r, 6, QColor(0x34, 0x46, 0x7a), pal::navy, pal::teal);
    else
        panel(p, r, 6, QColor(0x1a, 0x20, 0x3e), QColor(0x16, 0x1b, 0x35), pal::edge);
    p.restore();
    const QColor ink = on ? QColor(Qt::white) : pal::muted;
    const QRectF g(12, s.height() / 2.0 - 8, 16, 16);
    if (star)
        glyphStar(p, g, on ? pal::light : pal::muted);
    else
        glyphBars(p, g, on ? pal::light : pal::muted);
    drawText(p, QRectF(32, 0, s.width() - 36, s.height()), Qt::AlignVCenter | Qt::AlignLeft, label,
             roboto(11, true, 1.2), ink);
}

void saveButton(QPainter& p, const QSize& s, bool hover) {
    const QRectF r(0, 0, s.width(), s.height());
    if (hover)
        panel(p, r, 5, QColor(0x3b, 0x8c, 0x98), QColor(0x2f, 0x74, 0x80), pal::light, 1.5);
    else
        panel(p, r, 5, QColor(0x34, 0x47, 0x7b), QColor(0x2a, 0x3a, 0x66), pal::teal, 1.5);
    const QColor ink = hover ? QColor(Qt::white) : pal::light;
    glyphStar(p, QRectF(12, s.height() / 2.0 - 8, 16, 16), ink);
    drawText(p, QRectF(32, 0, s.width() - 38, s.height()), Qt::AlignCenter, "SAVE FAVORITE",
             roboto(11, true, 1), ink);
}

void deviceChooser(QPainter& p, const QSize& s) {
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    panel(p, r, 5, QColor(0x17, 0x1d, 0x37), QColor(0x12, 0x16, 0x2e), pal::teal);
    glyphBars(p, QRectF(8, s.height() / 2.0 - 8, 16, 16), pal::teal);
    p.setPen(QPen(pal::edge, 1));
    p.drawLine(QPointF(s.width() - 30.5, 8), QPointF(s.width() - 30.5, s.height() - 8));
    glyphChevron(p, QRectF(s.width() - 25, s.height() / 2.0 - 9, 18, 18), pal::light, 0);
}

// -- recording

void roundButton(QPainter& p, const QSize& s, const QColor& ring, bool pressed) {
    const double d = std::min(s.width(), s.height()) - 4;
    const QRectF c(s.width() / 2.0 - d / 2, s.height() / 2.0 - d / 2, d, d);
    // Drop shadow, then the face; pressed looks pushed in: no shadow, darker.
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 90));
        p.drawEllipse(c.translated(0, 2));
    }
    QLinearGradient g(c.topLeft(), c.bottomLeft());
    g.setColorAt(0, pressed ? QColor(0x16, 0x1b, 0x33) : QColor(0x30, 0x3f, 0x6e));
    g.setColorAt(1, pressed ? QColor(0x1e, 0x26, 0x48) : QColor(0x1e, 0x27, 0x4a));
    p.setBrush(g);
    p.setPen(QPen(ring, 2));
    p.drawEllipse(c.adjusted(1, 1, -1, -1));
}

enum class RecLook { Idle, Pressed, BlinkOn, BlinkOff };
void recordButton(QPainter& p, const QSize& s, RecLook look) {
    const bool pressed = look == RecLook::Pressed;
    const QColor ring = look == RecLook::BlinkOn    ? pal::rec
                        : look == RecLook::BlinkOff ? pal::edge
                                                    : pal::teal;
    roundButton(p, s, ring, pressed);
    const QPointF c(s.width() / 2.0, s.height() / 2.0);
    QColor dot = pal::rec;
    double r = 24;
    if (look == RecLook::Pressed) dot = pal::rec.darker(140);
    if (look == RecLook::BlinkOff) dot = pal::rec.darker(220);
    if (look == RecLook::BlinkOn) {
        QRadialGradient glow(c, 38);
        glow.setColorAt(0.55, QColor(0xe0, 0x56, 0x5b, 160));
        glow.setColorAt(1, Qt::transparent);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, 40, 40);
        dot = pal::rec.lighter(115);
        r = 26;
    }
    QRadialGradient g(c - QPointF(6, 8), r * 1.6);
    g.setColorAt(0, dot.lighter(125));
    g.setColorAt(1, dot);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

void smallRoundButton(QPainter& p, const QSize& s, bool play, int state) {
    // state: 0 normal, 1 pressed, 2 disabled.
    const QColor ring = state == 2 ? pal::edge : pal::teal;
    roundButton(p, s, ring, state == 1);
    const QColor ink = state == 2 ? pal::muted.darker(130) : state == 1 ? pal::teal : pal::light;
    const QRectF g(s.width() / 2.0 - 12, s.height() / 2.0 - 15, 24, 24);
    if (play) {
        glyphPlay(p, g.translated(1, 3), ink);
    } else {
        glyphDownload(p, g, ink);
        drawText(p, QRectF(0, s.height() / 2.0 + 7, s.width(), 12), Qt::AlignCenter, "WAV",
                 roboto(9, true, 1), ink);
    }
}

// -- footer, window and slide buttons

void footerIcon(QPainter& p, const QSize& s,
                void (*glyph)(QPainter&, const QRectF&, const QColor&)) {
    // One glyph size across the footer, whatever the button's width.
    const double g = std::min(s.width() - 4.0, 22.0);
    glyph(p, QRectF(s.width() / 2.0 - g / 2, s.height() / 2.0 - g / 2, g, g), pal::teal);
}

void slideButton(QPainter& p, const QSize& s, int dir, bool hover, bool cross) {
    const QRectF c(1, 1, s.width() - 2, s.height() - 2);
    p.setPen(QPen(hover ? pal::light : pal::teal, 2));
    p.setBrush(hover ? QColor(0x2f, 0x40, 0x70) : QColor(0x1c, 0x24, 0x46, 235));
    p.drawEllipse(c);
    const QColor ink = hover ? QColor(Qt::white) : pal::light;
    const QRectF g =
        c.adjusted(c.width() * 0.22, c.height() * 0.22, -c.width() * 0.22, -c.height() * 0.22);
    if (cross)
        glyphCross(p, g, ink, 2.8);
    else
        glyphChevron(p, g.translated(dir == 1 ? 1 : -1, 0), ink, dir, 3);
}

// -- icons

void appIcon(QPainter& p, const QSize& s) {
    const double w = s.width();
    const QRectF r(w * 0.03, w * 0.03, w * 0.94, w * 0.94);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, pal::navy);
    g.setColorAt(1, pal::deep);
    p.setPen(QPen(pal::teal, w * 0.025));
    p.setBrush(g);
    p.drawRoundedRect(r, w * 0.2, w * 0.2);
    // Three broad bars rather than the wordmark's five, so the mark still
    // reads when a desktop shows it at 16 px.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::light);
    const double bar = w * 0.16, gap = w * 0.09;
    const double heights[3] = {0.36, 0.62, 0.46};
    for (int i = 0; i < 3; ++i) {
        const double x = w / 2 - 1.5 * bar - gap + i * (bar + gap);
        const double h = heights[i] * w;
        p.drawRoundedRect(QRectF(x, w / 2 - h / 2, bar, h), bar / 2, bar / 2);
    }
}

void menuIcon(QPainter& p, const QSize& s, void (*glyph)(QPainter&, const QRectF&, const QColor&)) {
    glyph(p, QRectF(0, 0, s.width(), s.height()), pal::light);
}

void presetIcon(QPainter& p, const QSize& s, bool cartoonMode) {
    const QRectF r(0, 0, s.width(), s.height());
    const QColor mode = cartoonMode ? pal::cartoon : pal::human;
    p.setPen(Qt::NoPen);
    p.setBrush(mode);
    p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
    const QRectF g = r.adjusted(3, 3, -3, -3);
    if (cartoonMode)
        glyphCartoon(p, g, Qt::white, mode);
    else
        glyphHuman(p, g.adjusted(0, 0, 0, 0), Qt::white);
}

// -- the window put together, for the slides and the preview

struct Scene {
    bool human = false;
    bool favoritesPage = false;
    bool recording = false;  // the record, play and save buttons shown
    bool warning = false;
    bool saveButton = false;  // the save button in place of the presets page's hint
};

void paintWindow(QPainter& p, const Scene& sc) {
    put(p, "background.png", {0, 0});
    if (sc.warning) put(p, "overlay_headsetWarning.png", ui::warning.topLeft());
    put(p, sc.human ? "matrix_human.png" : "matrix_cartoon.png", ui::matrixLabel.topLeft());
    // The cursor where the pad places it at start: top-left (0.95, 1.105)
    // in cartoon units, the point (1.0, 1.0).
    {
        PadGeometry g;
        g.range = sc.human ? parlune::ui::kHumanRange : parlune::ui::kCartoonRange;
        const double y = sc.human ? 1.0 + 0.013 : 1.105;
        put(p, "matrix_cursor.png",
            QPoint(static_cast<int>(ui::customPlot.left() + g.px(0.95) - g.plot.left()),
                   static_cast<int>(ui::customPlot.top() + g.py(y) - g.plot.top())));
    }
    put(p, "switch_parlune.png", ui::dspButton.topLeft());
    const QColor mode = sc.human ? pal::human : pal::cartoon;
    for (const QRect& f : {ui::pitch, ui::formant}) {
        p.setPen(QPen(mode, 2));
        p.setBrush(pal::field);
        p.drawRoundedRect(QRectF(f).adjusted(1, 1, -1, -1), 5, 5);
    }
    drawText(p, QRectF(ui::pitch).adjusted(0, 6, 0, 0), Qt::AlignHCenter | Qt::AlignTop, "1",
             roboto(13, true), mode);
    drawText(p, ui::formant, Qt::AlignCenter, "1.00", roboto(13, true), mode);

    for (int i = 0; i < 5; ++i) {
        const QRect r(ui::effectX, ui::effectY0 + i * ui::effectStep, ui::effectW, ui::effectH);
        put(p, "item_fx_off.png", r.topLeft());
        drawText(p, r.adjusted(20, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, ui::effects[i],
                 roboto(12, true), pal::text);
    }
    put(p, sc.favoritesPage ? "tab_presets_off.png" : "tab_presets_on.png",
        ui::presetsTab.topLeft());
    put(p, sc.favoritesPage ? "tab_favorites_on.png" : "tab_favorites_off.png",
        ui::favoritesTab.topLeft());
    const auto& presets = parlune::ui::presets();
    for (int i = 0; i < 8; ++i) {
        const QPoint at(ui::slotBox.left(), ui::slotBox.top() + i * ui::slotHeight);
        put(p, "item_presets_off.png", at);
        const bool cartoonSlot = sc.favoritesPage ? false : presets[i].cartoon;
        p.drawImage(QRectF(at.x() + 10, at.y() + 12, 16, 16),
                    picture(cartoonSlot ? "icon_cartoonPreset.png" : "icon_humanPreset.png"));
        drawText(p, QRectF(at.x() + 44, at.y(), 200, 41), Qt::AlignVCenter | Qt::AlignLeft,
                 sc.favoritesPage ? "-" : presets[i].name, roboto(12, false), Qt::white);
    }
    if (sc.favoritesPage || sc.saveButton)
        put(p, "btn_save.png", ui::savePreset.topLeft());
    else
        drawText(p, ui::hint, Qt::AlignCenter, "(Double click to select)", roboto(14, true),
                 Qt::white);

    put(p, "ddown_drivers_off.png", ui::inputList.topLeft());
    put(p, "ddown_drivers_off.png", ui::outputList.topLeft());
    for (const QRect& r : {ui::inputList, ui::outputList})
        drawText(p, r.adjusted(30, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft, "- none",
                 roboto(13, true), pal::teal);
    if (sc.recording) {
        put(p, "btn_saveWav.png", ui::saveWavButton.topLeft());
        put(p, "btn_record.png", ui::recordButton.topLeft());
        put(p, "btn_play.png", ui::playButton.topLeft());
    }
    put(p, "btn_twitter.png", ui::twitter.topLeft());
    put(p, "btn_facebook.png", ui::facebook.topLeft());
    put(p, "btn_email.png", ui::email.topLeft());
    put(p, "btn_help.png", ui::help.topLeft());
    put(p, "btn_headset.png", ui::setup.topLeft());
    put(p, "btn_soundSettings.png", ui::soundSettings.topLeft());
    put(p, "btn_minimize.png", ui::minimize.topLeft());
    put(p, "btn_close.png", ui::close.topLeft());
    drawText(p, QRect(10, 10, 47, 13), Qt::AlignLeft | Qt::AlignVCenter, "2.2.0.0",
             roboto(11, false), pal::grey);
}

QImage windowImage(const Scene& sc) {
    QImage img = blank(ui::window.width(), ui::window.height());
    QPainter p(&img);
    begin(p);
    paintWindow(p, sc);
    return img;
}

// -- help slides

struct Callout {
    QRectF box;  // width and top left; the height follows the text
    QString title;
    QString body;
    std::vector<QPointF> targets;
};

// Height of a callout's box for its text.
double calloutHeight(QPainter& p, const Callout& c) {
    p.save();
    p.setFont(roboto(14, false));
    p.setPen(Qt::white);  // with no pen, Qt measures no text at all
    const QRectF body = p.boundingRect(QRectF(0, 0, c.box.width() - 28, 1000),
                                       Qt::TextWordWrap | Qt::AlignLeft, c.body);
    p.restore();
    return 14 + 20 + 6 + body.height() + 14;
}

void arrow(QPainter& p, const QPointF& from, const QPointF& to) {
    // A gentle curve from the box to the target, with a solid head.
    const QPointF mid = (from + to) / 2;
    const QPointF d = to - from;
    const QPointF bend(-d.y() * 0.12, d.x() * 0.12);
    QPainterPath path(from);
    path.quadTo(mid + bend, to);
    p.setPen(QPen(pal::light, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    const QPointF tangent = to - (mid + bend);
    const double len = std::hypot(tangent.x(), tangent.y());
    const QPointF u = tangent / len;
    const QPointF n(-u.y(), u.x());
    p.setPen(Qt::NoPen);
    p.setBrush(pal::light);
    p.drawPolygon(QPolygonF() << to << to - u * 11 + n * 5.5 << to - u * 11 - n * 5.5);
    p.setBrush(pal::light);
    p.drawEllipse(from, 3, 3);
}

QPointF boxAnchor(const QRectF& box, const QPointF& target) {
    // The point on the box's edge facing the target.
    const QPointF c = box.center();
    const double dx = target.x() - c.x(), dy = target.y() - c.y();
    if (std::abs(dx) * box.height() > std::abs(dy) * box.width())
        return {dx > 0 ? box.right() : box.left(),
                std::clamp(target.y(), box.top() + 14, box.bottom() - 14)};
    return {std::clamp(target.x(), box.left() + 14, box.right() - 14),
            dy > 0 ? box.bottom() : box.top()};
}

void drawCallout(QPainter& p, const Callout& c, int number) {
    QRectF box = c.box;
    box.setHeight(calloutHeight(p, c));
    for (const QPointF& t : c.targets) arrow(p, boxAnchor(box, t), t);
    panel(p, box, 6, QColor(0x2a, 0x39, 0x66), QColor(0x22, 0x2e, 0x55), pal::teal, 1.5);
    QRectF badge(box.left() + 12, box.top() + 12, 22, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::light);
    p.drawEllipse(badge);
    drawText(p, badge, Qt::AlignCenter, QString::number(number), roboto(13, true), pal::deep);
    drawText(p, QRectF(box.left() + 42, box.top() + 12, box.width() - 54, 22),
             Qt::AlignVCenter | Qt::AlignLeft, c.title, roboto(13, true, 1.5), pal::light);
    drawText(p, QRectF(box.left() + 14, box.top() + 40, box.width() - 28, box.height() - 46),
             Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, c.body, roboto(14, false), pal::text);
}

// The window under a dark veil, the widgets a slide talks about lit.
void slideBase(QPainter& p, const Scene& sc, const std::vector<QRect>& lit, const QString& title) {
    const QImage win = windowImage(sc);
    p.drawImage(0, 0, win);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(ui::window).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.save();
    p.setClipPath(outline);
    p.fillRect(ui::window, QColor(0x0b, 0x0d, 0x1c, 217));  // about 85 %
    p.restore();
    for (const QRect& r : lit) {
        const QRect spot = r.adjusted(-4, -4, 4, 4);
        p.drawImage(spot.topLeft(), win.copy(spot));
        p.setPen(QPen(pal::light, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(spot).adjusted(1, 1, -1, -1), 6, 6);
    }
    // The title gets the strip to itself.
    p.fillRect(QRectF(ui::window.width() * 0.3, 1, ui::window.width() * 0.4, 42),
               QColor(0x0b, 0x0d, 0x1c, 235));
    drawText(p, QRectF(0, 4, ui::window.width(), 36), Qt::AlignCenter, title, roboto(18, true, 4),
             pal::text);
}

QRect effectsRect() {
    return QRect(ui::effectX, ui::effectY0, ui::effectW, 4 * ui::effectStep + ui::effectH);
}

QPointF cursorPoint() {
    PadGeometry g;
    g.range = parlune::ui::kCartoonRange;
    return QPointF(ui::customPlot.left() + g.px(1.0) - g.plot.left(),
                   ui::customPlot.top() + g.py(1.0) - g.plot.top());
}

void slideA(QPainter& p, const QSize& s) {
    // The label centres this 2 px taller picture: the window sits 1 px down.
    (void)s;
    p.translate(0, 1);
    Scene sc;
    sc.saveButton = true;  // it shows on the Favorites tab; the slide names it
    const QPointF cur = cursorPoint();
    const QRect cursorSpot(static_cast<int>(cur.x()) - 16, static_cast<int>(cur.y()) - 16, 32, 32);
    const QRect leftPanel(ui::presetsTab.left(), ui::presetsTab.top(), 251, 494);
    slideBase(p, sc,
              {leftPanel, ui::dspButton, effectsRect(), cursorSpot, ui::savePreset, ui::inputList,
               ui::outputList},
              "HOW PARLUNE WORKS");
    std::vector<Callout> cs = {
        {QRectF(318, 122, 250, 0),
         "VOICES",
         "Presets and Favorites. Click a voice, then double-click it to use it.",
         {QPointF(292, 240)}},
        {QRectF(560, 48, 290, 0),
         "ON / OFF",
         "PARLUNE changes your voice, NORMAL lets it through unchanged.",
         {QPointF(530, 62)}},
        {QRectF(650, 250, 250, 0),
         "EFFECTS",
         "Add an effect on top of the voice. Click again to take it off.",
         {QPointF(932, 272)}},
        {QRectF(432, 330, 200, 0),
         "THE PAD",
         "Drag the point: across for pitch, up and down for formant.",
         {cur + QPointF(-4, 12)}},
        {QRectF(312, 482, 240, 0),
         "SAVE A FAVORITE",
         "On the Favorites tab, pick a slot and press SAVE FAVORITE to keep the voice you made.",
         {QPointF(292, 612)}},
        {QRectF(600, 470, 250, 0),
         "INPUT AND OUTPUT",
         "Choose your microphone, and the speaker or headset you listen on.",
         {QPointF(546, 606), QPointF(876, 606)}},
    };
    int n = 1;
    for (const Callout& c : cs) drawCallout(p, c, n++);
}

void slideB(QPainter& p, const QSize& s) {
    (void)s;
    Scene sc;
    sc.recording = true;
    const QRect modes(ui::toggleHuman.left(), ui::toggleHuman.top(), ui::toggleHuman.width(),
                      ui::toggleCartoon.bottom() - ui::toggleHuman.top() + 1);
    const QRect rec(ui::saveWavButton.left(), ui::recordButton.top(),
                    ui::playButton.right() - ui::saveWavButton.left() + 1,
                    ui::recordButton.height());
    slideBase(p, sc, {modes, rec, ui::setup}, "HOW PARLUNE WORKS");
    std::vector<Callout> cs = {
        {QRectF(560, 120, 220, 0),
         "TWO KINDS OF VOICE",
         "HUMAN keeps the voice natural; CARTOON goes much further.",
         {QPointF(818, 170), QPointF(818, 232)}},
        {QRectF(120, 380, 300, 0),
         "TRY IT OUT",
         "Record up to 30 seconds with the round button, listen with play, keep it as a WAV file "
         "with save.",
         {QPointF(508, 512), QPointF(612, 464)}},
        {QRectF(60, 530, 280, 0),
         "SET UP A CHAT PROGRAM",
         "The headset button shows how to use PARLUNE in your chat program.",
         {QPointF(204, 660)}},
    };
    int n = 1;
    for (const Callout& c : cs) drawCallout(p, c, n++);
}

// A chat program's audio settings, generic, with PARLUNE-01 picked.
void chatSettingsSketch(QPainter& p, const QRectF& r) {
    panel(p, r, 8, QColor(0x22, 0x2a, 0x48), QColor(0x1b, 0x22, 0x3e), pal::edge, 1.5);
    drawText(p, QRectF(r.left() + 16, r.top() + 10, r.width() - 32, 22),
             Qt::AlignVCenter | Qt::AlignLeft, "Your chat program  ›  Settings  ›  Audio",
             roboto(12, false), pal::muted);
    drawText(p, QRectF(r.left() + 16, r.top() + 40, r.width() - 32, 18),
             Qt::AlignVCenter | Qt::AlignLeft, "Microphone", roboto(12, true), pal::text);
    const QRectF combo(r.left() + 16, r.top() + 62, r.width() - 32, 32);
    panel(p, combo, 4, QColor(0x12, 0x16, 0x2e), QColor(0x12, 0x16, 0x2e), pal::light, 2);
    glyphMic(p, QRectF(combo.left() + 8, combo.top() + 7, 18, 18), pal::light);
    drawText(p, combo.adjusted(32, 0, -30, 0), Qt::AlignVCenter | Qt::AlignLeft,
             "PARLUNE-01 Microphone", roboto(13, true), Qt::white);
    glyphChevron(p, QRectF(combo.right() - 26, combo.top() + 7, 18, 18), pal::light, 0);
    drawText(p, QRectF(r.left() + 16, r.top() + 104, r.width() - 32, 18),
             Qt::AlignVCenter | Qt::AlignLeft, "Speaker", roboto(12, true), pal::text);
    const QRectF combo2(r.left() + 16, r.top() + 126, r.width() - 32, 32);
    panel(p, combo2, 4, QColor(0x12, 0x16, 0x2e), QColor(0x12, 0x16, 0x2e), pal::edge, 1);
    glyphSpeaker(p, QRectF(combo2.left() + 8, combo2.top() + 7, 18, 18), pal::muted);
    drawText(p, combo2.adjusted(32, 0, -30, 0), Qt::AlignVCenter | Qt::AlignLeft, "Your headset",
             roboto(13, false), pal::muted);
    glyphChevron(p, QRectF(combo2.right() - 26, combo2.top() + 7, 18, 18), pal::muted, 0);
}

void slideHowTo(QPainter& p, const QSize& s) {
    (void)s;
    Scene sc;
    slideBase(p, sc, {ui::inputList, ui::outputList, ui::setup}, "SET UP PARLUNE IN 3 STEPS");
    std::vector<Callout> cs = {
        {QRectF(412, 440, 270, 0),
         "CHOOSE YOUR MICROPHONE",
         "Open the left list and pick the microphone you speak into.",
         {QPointF(520, 606)}},
        {QRectF(742, 440, 300, 0),
         "CHOOSE YOUR SPEAKER",
         "Pick the headset or speaker you listen on, or \"Output to Skype/VoIP App\".",
         {QPointF(850, 606)}},
        {QRectF(40, 96, 340, 0),
         "IN YOUR CHAT PROGRAM",
         "Open its audio settings and pick \"PARLUNE-01 Microphone\" as the microphone. "
         "Your friends now hear the changed voice.",
         {}},
    };
    int n = 1;
    for (const Callout& c : cs) drawCallout(p, c, n++);
    chatSettingsSketch(p, QRectF(40, 250, 340, 172));
    drawText(p, QRectF(40, 436, 340, 40), Qt::TextWordWrap | Qt::AlignLeft,
             "The setup menu lists chat programs; each entry opens a step-by-step page.",
             roboto(12, false), pal::muted);
}

void slideD(QPainter& p, const QSize& s) {
    (void)s;
    Scene sc;
    slideBase(p, sc, {ui::setup}, "FOR THE BEST SOUND");
    const QRectF card(274, 150, 550, 390);
    panel(p, card, 10, QColor(0x2a, 0x39, 0x66), QColor(0x1e, 0x28, 0x4c), pal::teal, 1.5);
    glyphHeadset(p, QRectF(card.center().x() - 70, card.top() + 30, 140, 140), pal::light);
    drawText(p, QRectF(card.left(), card.top() + 186, card.width(), 34), Qt::AlignCenter,
             "USE A HEADSET", roboto(24, true, 4), Qt::white);
    drawText(p, QRectF(card.left() + 50, card.top() + 232, card.width() - 100, 90),
             Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignTop,
             "A USB headset is best. With loudspeakers your microphone hears its own changed "
             "voice again and the sound feeds back.",
             roboto(16, false), pal::text);
    drawText(p, QRectF(card.left(), card.bottom() - 56, card.width(), 30), Qt::AlignCenter,
             "Then choose it as input and output below.", roboto(14, true), pal::light);
}

void headsetWarning(QPainter& p, const QSize& s) {
    // One card over the left panel: the window raises the label for its
    // five seconds, so nothing covers it.
    const QRectF card(6.5, 6.5, s.width() - 13, s.height() - 13);
    panel(p, card, 10, QColor(0x2c, 0x3c, 0x6c, 250), QColor(0x1c, 0x25, 0x48, 250), pal::light, 2);
    glyphHeadset(p, QRectF(card.center().x() - 55, card.top() + 34, 110, 110), pal::light);
    drawText(p, QRectF(card.left(), card.top() + 162, card.width(), 34), Qt::AlignCenter,
             "PLUG IN A HEADSET", roboto(20, true, 3), Qt::white);
    drawText(p, QRectF(card.left() + 40, card.top() + 206, card.width() - 80, 80),
             Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignTop,
             "Plug in a headset to avoid feedback from your microphone.", roboto(15, false),
             pal::text);
}

void registerPainters() {
    auto& m = painters();
    m["background.png"] = paintBackground;
    m["matrix_human.png"] = [](QPainter& p, const QSize& s) { paintMatrix(p, s, true); };
    m["matrix_cartoon.png"] = [](QPainter& p, const QSize& s) { paintMatrix(p, s, false); };
    m["overlay_helpA.png"] = slideA;
    m["overlay_helpB.png"] = slideB;
    m["overlay_howTo.png"] = slideHowTo;
    m["overlay_helpD.png"] = slideD;
    m["overlay_headsetWarning.png"] = headsetWarning;

    m["icon_parlune.png"] = appIcon;
    // Setup menu: generic glyphs for kinds of program, never a product's mark.
    m["icon_skype.png"] = [](QPainter& p, const QSize& s) { menuIcon(p, s, glyphPhone); };
    m["icon_teamspeak.png"] = [](QPainter& p, const QSize& s) { menuIcon(p, s, glyphHeadset); };
    m["icon_steam.png"] = [](QPainter& p, const QSize& s) { menuIcon(p, s, glyphGamepad); };
    m["icon_ventrilo.png"] = [](QPainter& p, const QSize& s) { menuIcon(p, s, glyphMic); };
    m["icon_more.png"] = [](QPainter& p, const QSize& s) { menuIcon(p, s, glyphDots); };
    m["icon_cartoonPreset.png"] = [](QPainter& p, const QSize& s) { presetIcon(p, s, true); };
    m["icon_humanPreset.png"] = [](QPainter& p, const QSize& s) { presetIcon(p, s, false); };

    m["switch_parlune.png"] = [](QPainter& p, const QSize& s) {
        segmentSwitch(p, s, "NORMAL", "PARLUNE", true, pal::teal);
    };
    m["switch_normal.png"] = [](QPainter& p, const QSize& s) {
        segmentSwitch(p, s, "NORMAL", "PARLUNE", false, QColor(0x4a, 0x55, 0x78));
    };
    m["switch_micON.png"] = [](QPainter& p, const QSize& s) { micSwitch(p, s, true); };
    m["switch_micOFF.png"] = [](QPainter& p, const QSize& s) { micSwitch(p, s, false); };
    m["item_fx_off.png"] = [](QPainter& p, const QSize& s) { item(p, s, 6); };
    m["item_presets_off.png"] = [](QPainter& p, const QSize& s) { item(p, s, 5); };
    m["tab_presets_on.png"] = [](QPainter& p, const QSize& s) {
        tab(p, s, "PRESETS", true, false);
    };
    m["tab_presets_off.png"] = [](QPainter& p, const QSize& s) {
        tab(p, s, "PRESETS", false, false);
    };
    m["tab_favorites_on.png"] = [](QPainter& p, const QSize& s) {
        tab(p, s, "FAVORITES", true, true);
    };
    m["tab_favorites_off.png"] = [](QPainter& p, const QSize& s) {
        tab(p, s, "FAVORITES", false, true);
    };
    m["btn_save.png"] = [](QPainter& p, const QSize& s) { saveButton(p, s, false); };
    m["btn_save_hov.png"] = [](QPainter& p, const QSize& s) { saveButton(p, s, true); };
    m["ddown_drivers_off.png"] = deviceChooser;
    m["matrix_cursor.png"] = paintCursor;
    m["btn_record.png"] = [](QPainter& p, const QSize& s) { recordButton(p, s, RecLook::Idle); };
    m["btn_record_clic.png"] = [](QPainter& p, const QSize& s) {
        recordButton(p, s, RecLook::Pressed);
    };
    m["btn_rec_on.png"] = [](QPainter& p, const QSize& s) { recordButton(p, s, RecLook::BlinkOn); };
    m["btn_rec_off.png"] = [](QPainter& p, const QSize& s) {
        recordButton(p, s, RecLook::BlinkOff);
    };
    m["btn_saveWav.png"] = [](QPainter& p, const QSize& s) { smallRoundButton(p, s, false, 0); };
    m["btn_saveWav_clic.png"] = [](QPainter& p, const QSize& s) {
        smallRoundButton(p, s, false, 1);
    };
    m["btn_saveWav_dis.png"] = [](QPainter& p, const QSize& s) {
        smallRoundButton(p, s, false, 2);
    };
    m["btn_play.png"] = [](QPainter& p, const QSize& s) { smallRoundButton(p, s, true, 0); };
    m["btn_play_clic.png"] = [](QPainter& p, const QSize& s) { smallRoundButton(p, s, true, 1); };
    // Share buttons: plain glyphs (post, share, mail), no network's mark.
    m["btn_twitter.png"] = [](QPainter& p, const QSize& s) { footerIcon(p, s, glyphBubble); };
    m["btn_facebook.png"] = [](QPainter& p, const QSize& s) { footerIcon(p, s, glyphShareNodes); };
    m["btn_email.png"] = [](QPainter& p, const QSize& s) { footerIcon(p, s, glyphEnvelope); };
    m["btn_help.png"] = [](QPainter& p, const QSize& s) { footerIcon(p, s, glyphQuestion); };
    m["btn_headset.png"] = [](QPainter& p, const QSize& s) { footerIcon(p, s, glyphHeadset); };
    m["btn_soundSettings.png"] = [](QPainter& p, const QSize& s) {
        footerIcon(p, s, glyphSliders);
    };
    m["btn_minimize.png"] = [](QPainter& p, const QSize& s) {
        p.setPen(QPen(pal::muted, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, s.height() - 4), QPointF(s.width() - 4, s.height() - 4));
    };
    m["btn_minimize_hov.png"] = [](QPainter& p, const QSize& s) {
        p.setPen(QPen(pal::light, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, s.height() - 4), QPointF(s.width() - 4, s.height() - 4));
    };
    m["btn_close.png"] = [](QPainter& p, const QSize& s) {
        glyphCross(p, QRectF(0, 0, s.width(), s.height()), pal::muted, 3);
    };
    m["btn_close_hov.png"] = [](QPainter& p, const QSize& s) {
        glyphCross(p, QRectF(0, 0, s.width(), s.height()), pal::light, 3);
    };
    m["btn_nextSlide.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 1, false, false);
    };
    m["btn_nextSlide_hov.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 1, true, false);
    };
    m["btn_prevSlide.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 2, false, false);
    };
    m["btn_prevSlide_hov.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 2, true, false);
    };
    m["btn_closeSlides.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 0, false, true);
    };
    m["btn_closeSlides_hov.png"] = [](QPainter& p, const QSize& s) {
        slideButton(p, s, 0, true, true);
    };
}

// ---------------------------------------------------------------- preview

bool save(const QImage& img, const QString& path) {
    if (img.save(path, "PNG")) return true;
    std::fprintf(stderr, "paint_assets: cannot write %s\n", qPrintable(path));
    return false;
}

// Every small picture at twice its size on a grid, with its name; the
// program icon at the sizes a desktop shows it.
QImage contactSheet() {
    const int cols = 6, cellW = 300, cellH = 210;
    std::vector<const Picture*> small;
    for (const Picture& pic : kPictures)
        if (pic.width <= 260 && pic.height <= 260) small.push_back(&pic);
    const int rows = static_cast<int>((small.size() + cols - 1) / cols) + 1;
    QImage img(cols * cellW, rows * cellH, QImage::Format_ARGB32_Premultiplied);
    img.fill(QColor(0x30, 0x30, 0x38));
    QPainter p(&img);
    begin(p);
    for (size_t i = 0; i < small.size(); ++i) {
        const Picture& pic = *small[i];
        const QRect cell(static_cast<int>(i % cols) * cellW, static_cast<int>(i / cols) * cellH,
                         cellW, cellH);
        const double scale =
            std::min(2.0, std::min((cellW - 20.0) / pic.width, (cellH - 40.0) / pic.height));
        const QSizeF size(pic.width * scale, pic.height * scale);
        const QRectF at(cell.center().x() - size.width() / 2, cell.top() + 10, size.width(),
                        size.height());
        p.fillRect(at, QColor(0x14, 0x17, 0x2f));
        p.drawImage(at, picture(pic.name));
        drawText(p, QRectF(cell.left(), cell.bottom() - 28, cell.width(), 20), Qt::AlignCenter,
                 QStringLiteral("%1 %2x%3").arg(pic.name).arg(pic.width).arg(pic.height),
                 roboto(12, false), Qt::white);
    }
    const QImage icon = picture("icon_parlune.png");
    int x = 20;
    const int y = (rows - 1) * cellH + 20;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        p.drawImage(QPoint(x, y),
                    icon.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        x += size + 24;
    }
    return img;
}

// The program's icon for the desktop's hicolor theme, drawn at each size
// rather than scaled, so the bars stay sharp at 16 px. The file name is the
// desktop entry's Icon= (packaging/ installs the folder).
bool writeDesktopIcons(const QString& out) {
    bool ok = true;
    for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "paint_assets: cannot create %s\n", qPrintable(folder));
            ok = false;
            continue;
        }
        QImage img = blank(size, size);
        {
            QPainter p(&img);
            begin(p);
            appIcon(p, img.size());
        }
        ok = save(img, folder + QStringLiteral("/io.github.parlune.Parlune.png")) && ok;
    }
    return ok;
}

bool writeQrc(const QString& out, const QString& regular, const QString& bold) {
    QFile f(out + "/parlune_assets.qrc");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QTextStream s(&f);
    s << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n";
    for (auto prefix : {parlune::assets::Prefix::Fixed, parlune::assets::Prefix::Icons,
                        parlune::assets::Prefix::Interactable}) {
        s << "  <qresource prefix=\"/" << prefixName(prefix) << "\">\n";
        for (const Picture& pic : kPictures)
            if (pic.prefix == prefix)
                s << "    <file alias=\"assets/" << pic.name << "\">" << pic.name << "</file>\n";
        s << "  </qresource>\n";
    }
    s << "  <qresource prefix=\"/fonts\">\n";
    for (const QString& font : {regular, bold})
        s << "    <file alias=\"" << QFileInfo(font).fileName() << "\">" << font << "</file>\n";
    s << "  </qresource>\n</RCC>\n";
    s.flush();
    return f.error() == QFileDevice::NoError;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: paint_assets <out-dir> <Roboto-Regular.ttf> <Roboto-Bold.ttf>\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString regular = QString::fromLocal8Bit(argv[2]);
    const QString bold = QString::fromLocal8Bit(argv[3]);
    for (const QString& font : {regular, bold}) {
        const int id = QFontDatabase::addApplicationFont(font);
        if (id < 0 || !QFontDatabase::applicationFontFamilies(id).contains("Roboto")) {
            std::fprintf(stderr, "paint_assets: %s is not a Roboto font\n", qPrintable(font));
            return 1;
        }
    }
    if (!QDir().mkpath(out + "/preview")) {
        std::fprintf(stderr, "paint_assets: cannot create %s\n", qPrintable(out));
        return 1;
    }
    registerPainters();
    bool ok = true;
    for (const Picture& pic : kPictures) ok = save(picture(pic.name), out + "/" + pic.name) && ok;
    for (const auto& entry : painters())
        if (!findPicture(entry.first)) {
            std::fprintf(stderr, "paint_assets: %s is painted but not listed\n",
                         qPrintable(entry.first));
            ok = false;
        }

    Scene start;
    start.warning = true;
    ok = save(windowImage(start), out + "/preview/window_start.png") && ok;
    Scene cartoon;
    cartoon.recording = true;
    ok = save(windowImage(cartoon), out + "/preview/window_cartoon.png") && ok;
    Scene human;
    human.human = true;
    human.favoritesPage = true;
    ok = save(windowImage(human), out + "/preview/window_human_favorites.png") && ok;
    ok = save(contactSheet(), out + "/preview/contact_sheet.png") && ok;
    ok = writeDesktopIcons(out) && ok;

    // The .qrc last: the build takes it to mean every picture is written.
    if (!ok || !writeQrc(out, regular, bold)) {
        std::fprintf(stderr, "paint_assets: the pictures are incomplete\n");
        return 1;
    }
    return 0;
}
