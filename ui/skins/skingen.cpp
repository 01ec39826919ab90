// Skin generator: paints every picture of the panels and writes them, with a
// Qt resource list (skins.qrc), under the folder named on the command line.
//
//   quillon_skingen <output-folder>
//
// The build runs it before rcc. Pictures are drawn, not shipped, so the same
// bytes come out of every run: fixed fonts (the pinned look), fixed colours,
// fixed resolution, and no time stamps in the files. Frames of a combined
// picture are stacked top to bottom, first frame at the top.
#include "ui/skins/zlook.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QTextStream>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Colours of the skin.
const QColor kPanelTop(46, 51, 58);
const QColor kPanelBottom(28, 31, 36);
const QColor kEdge(78, 86, 96);
const QColor kGroove(16, 18, 21);
const QColor kText(222, 226, 230);
const QColor kTextDim(150, 158, 168);
const QColor kGreen(64, 210, 96);
const QColor kYellow(242, 196, 48);
const QColor kRed(228, 64, 56);
const QColor kBlue(56, 150, 220);
const QColor kAmber(255, 150, 40);

using FramePainter = std::function<void(QPainter&, const QRect&, int frame)>;

struct Skin {
    QString folder; // "images", "common/images", ...
    QString name; // file name with extension
    int width; // frame width
    int height; // frame height
    int frames;
    FramePainter paint;
};

QFont skinFont(int pixelSize, bool bold = true)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void caption(
    QPainter& p, const QRectF& r, const QString& text, const QColor& colour, int pixelSize, int flags = Qt::AlignCenter)
{
    p.setFont(skinFont(pixelSize));
    p.setPen(colour);
    p.drawText(r, flags, text);
}

// A brushed dark plate with a light upper edge, the base of every panel.
void plate(QPainter& p, const QRect& r, int radius = 0)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kPanelTop);
    g.setColorAt(1, kPanelBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    if (radius > 0) {
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    } else {
        p.drawRect(r);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kEdge, 1));
    if (radius > 0) {
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    } else {
        p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

void screw(QPainter& p, QPointF c)
{
    QRadialGradient g(c - QPointF(1, 1), 5);
    g.setColorAt(0, QColor(170, 176, 184));
    g.setColorAt(1, QColor(70, 76, 84));
    p.setPen(QPen(kGroove, 1));
    p.setBrush(g);
    p.drawEllipse(c, 4, 4);
    p.setPen(QPen(kGroove, 1.2));
    p.drawLine(c + QPointF(-2.5, -2.5), c + QPointF(2.5, 2.5));
}

// A full panel: plate, optional rack screws, a title at the top left.
FramePainter panel(const QString& title = QString(), bool screws = false)
{
    return [title, screws](QPainter& p, const QRect& r, int) {
        plate(p, r);
        if (screws) {
            screw(p, QPointF(r.left() + 10, r.top() + 10));
            screw(p, QPointF(r.right() - 9, r.top() + 10));
            screw(p, QPointF(r.left() + 10, r.bottom() - 9));
            screw(p, QPointF(r.right() - 9, r.bottom() - 9));
        }
        if (!title.isEmpty())
            caption(p, QRectF(r.left() + 24, r.top() + 4, r.width() - 48, 18), title, kTextDim, 12,
                Qt::AlignLeft | Qt::AlignVCenter);
    };
}

// Switch frames: off, off pressed, on, on pressed (4); off, on (2);
// off, pressed, on (3). `lit` is the colour of the on look.
struct SwitchLook {
    bool on;
    bool pressed;
};

SwitchLook switchLook(int frames, int frame)
{
    switch (frames) {
    case 2:
        return {frame == 1, false};
    case 3:
        return {frame == 2, frame == 1};
    default:
        return {frame >= 2, frame % 2 == 1};
    }
}

FramePainter switchButton(
    const QString& offText, const QString& onText, const QColor& lit, int frames, int pixelSize = 10)
{
    return [=](QPainter& p, const QRect& r, int frame) {
        const SwitchLook look = switchLook(frames, frame);
        const QRectF body = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        if (look.on) {
            g.setColorAt(0, lit.lighter(look.pressed ? 100 : 125));
            g.setColorAt(1, lit.darker(look.pressed ? 170 : 130));
        } else {
            g.setColorAt(0, QColor(86, 92, 100).darker(look.pressed ? 130 : 100));
            g.setColorAt(1, QColor(44, 48, 54).darker(look.pressed ? 130 : 100));
        }
        p.setPen(QPen(look.pressed ? kGroove : kEdge.lighter(120), 1));
        p.setBrush(g);
        p.drawRoundedRect(body, 3, 3);
        const QString text = look.on ? onText : offText;
        if (!text.isEmpty()) {
            const QColor ink = look.on ? QColor(12, 14, 16) : kText;
            const QRectF area = body.translated(0, look.pressed ? 1 : 0);
            caption(p, area, text, ink, pixelSize);
        }
    };
}

// An LED: frame k takes colours[k]; an invalid colour is the dark LED.
FramePainter led(const std::vector<QColor>& colours)
{
    return [colours](QPainter& p, const QRect& r, int frame) {
        const QColor c = colours[static_cast<size_t>(frame)];
        const QPointF centre = QRectF(r).center();
        const qreal radius = r.width() / 2.0 - 1.5;
        p.setPen(QPen(kGroove, 1));
        p.setBrush(QColor(30, 33, 37));
        p.drawEllipse(centre, radius + 1, radius + 1);
        QRadialGradient g(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
        if (c.isValid()) {
            g.setColorAt(0, c.lighter(170));
            g.setColorAt(0.5, c);
            g.setColorAt(1, c.darker(160));
        } else {
            g.setColorAt(0, QColor(90, 96, 104));
            g.setColorAt(1, QColor(36, 40, 44));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(centre, radius - 0.5, radius - 0.5);
    };
}

// A rotary knob: frame k of n points at -135 + 270 k / (n - 1) degrees.
FramePainter knob(const QColor& cap, int frames)
{
    return [cap, frames](QPainter& p, const QRect& r, int frame) {
        const double degrees = -135.0 + 270.0 * frame / (frames - 1);
        const QPointF c = QRectF(r).center();
        const qreal outer = r.width() / 2.0 - 1;
        // Value arc from the minimum stop to the pointer.
        const QRectF arcBox(c.x() - outer + 1.5, c.y() - outer + 1.5, 2 * outer - 3, 2 * outer - 3);
        p.setPen(QPen(QColor(20, 22, 26), 3, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arcBox, (90 + 135) * 16, -270 * 16);
        p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arcBox, (90 + 135) * 16, qRound(-(degrees + 135.0) * 16));
        // Cap.
        const qreal radius = outer - 5;
        QRadialGradient g(c - QPointF(radius / 3, radius / 3), radius * 1.5);
        g.setColorAt(0, cap.lighter(130));
        g.setColorAt(1, cap.darker(220));
        p.setPen(QPen(kGroove, 1));
        p.setBrush(g);
        p.drawEllipse(c, radius, radius);
        // Pointer.
        const double a = qDegreesToRadians(degrees);
        const QPointF tip(c.x() + (radius - 2) * std::sin(a), c.y() - (radius - 2) * std::cos(a));
        const QPointF base(c.x() + radius * 0.35 * std::sin(a), c.y() - radius * 0.35 * std::cos(a));
        p.setPen(QPen(QColor(20, 20, 20), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(base, tip);
    };
}

// The lit meter: green at the bottom through yellow to red at the top, with
// a dark line between steps so single rows read as segments.
FramePainter meterLit()
{
    return [](QPainter& p, const QRect& r, int) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const double t = 1.0 - double(y - r.top()) / std::max(1, r.height() - 1); // 0 bottom, 1 top
            QColor c = t > 0.88 ? kRed : (t > 0.7 ? kYellow : kGreen);
            if ((y - r.top()) % 2 == 1)
                c = c.darker(135);
            p.setPen(c);
            p.drawLine(r.left(), y, r.right(), y);
        }
    };
}

FramePainter meterBase()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, QColor(12, 13, 15));
        p.setPen(QPen(kEdge, 1));
        p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
        // The unlit meter shows dimly through.
        for (int y = r.top() + 2; y <= r.bottom() - 2; y += 2)
            p.fillRect(QRect(r.left() + 2, y, r.width() - 4, 1), QColor(34, 38, 42));
    };
}

FramePainter meterScale()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        p.setPen(kTextDim);
        // Ticks every 10 rows of the 41-row meter inside its 2-pixel frame.
        for (int i = 0; i <= 4; ++i) {
            const int y = r.top() + 2 + i * 10;
            p.drawLine(r.left() + (i % 2 ? 2 : 0), y, r.right(), y);
        }
    };
}

FramePainter textOnly(const QString& text, int pixelSize, const QColor& ink = kText)
{
    return [=](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        caption(p, QRectF(r), text, ink, pixelSize);
    };
}

// The word above a SYNC or SYSTEM indicator. Only the word: the LEDs sit
// below the picture, so a plate behind it would leave them hanging outside
// its frame on the lighter panels. It keeps to the top band because the
// info or alert icon covers the right of the picture from row 12 down.
FramePainter statusWord(const QString& text, int pixelSize)
{
    return [=](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        caption(p, QRectF(r.left(), r.top() + 1, r.width(), 12), text, kText, pixelSize);
    };
}

FramePainter textBox()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, QColor(8, 9, 10));
        p.setPen(QPen(kEdge, 1));
        p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    };
}

FramePainter alertIcon()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        QPainterPath tri;
        tri.moveTo(r.left() + r.width() / 2.0, r.top() + 0.5);
        tri.lineTo(r.right() + 0.5, r.bottom() + 0.5);
        tri.lineTo(r.left() + 0.5, r.bottom() + 0.5);
        tri.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(kAmber);
        p.drawPath(tri);
        caption(p, QRectF(r).adjusted(0, 2, 0, 1), QStringLiteral("!"), QColor(20, 20, 20), 10);
    };
}

FramePainter infoIcon()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(r).adjusted(0.5, 0, -0.5, 0));
        caption(p, QRectF(r), QStringLiteral("i"), Qt::white, 10);
    };
}

// The slot indicator bar: a coloured lamp and the state word; frame 1 is
// the pressed look.
FramePainter modeIndicator(const QColor& lamp, const QString& word)
{
    return [=](QPainter& p, const QRect& r, int frame) {
        p.fillRect(r, frame ? QColor(14, 16, 18) : QColor(24, 27, 31));
        const QPointF c(r.left() + 9, r.center().y() + 0.5);
        p.setPen(Qt::NoPen);
        p.setBrush(lamp.isValid() ? lamp : QColor(70, 74, 80));
        p.drawEllipse(c, 4, 4);
        caption(p, QRectF(r.left() + 17, r.top(), r.width() - 19, r.height()), word, lamp.isValid() ? kText : kTextDim,
            10, Qt::AlignLeft | Qt::AlignVCenter);
    };
}

// Slot button: normal, pressed, selected.
FramePainter slotButton()
{
    return [](QPainter& p, const QRect& r, int frame) {
        const QRectF body = QRectF(r).adjusted(1.5, 1.5, -1.5, -1.5);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        if (frame == 2) {
            // The slot number and unit id are drawn dark on a selected
            // button but the model name stays white: a light head behind
            // the first, a blue body behind the second.
            const qreal head = 21.0 / r.height();
            g.setColorAt(0, QColor(226, 236, 246));
            g.setColorAt(head, QColor(176, 204, 232));
            g.setColorAt(head + 0.02, QColor(42, 104, 168));
            g.setColorAt(1, QColor(26, 70, 122));
        } else {
            g.setColorAt(0, QColor(72, 78, 88).darker(frame ? 140 : 100));
            g.setColorAt(1, QColor(38, 42, 48).darker(frame ? 140 : 100));
        }
        p.setPen(QPen(frame == 2 ? kBlue : kEdge, frame == 2 ? 2 : 1));
        p.setBrush(g);
        p.drawRoundedRect(body, 5, 5);
    };
}

// The slot strip: 24 sockets of 66 pixels with 8 pixels between them.
FramePainter slotStrip()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, QColor(20, 22, 25));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 34, 39));
        for (int i = 0; i < 24; ++i)
            p.drawRoundedRect(QRectF(r.left() + 1, r.top() + 3 + i * 74, r.width() - 2, 70), 6, 6);
    };
}

FramePainter tabButton()
{
    return [](QPainter& p, const QRect& r, int frame) {
        const SwitchLook look = switchLook(3, frame);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        const QColor top = look.on ? QColor(70, 78, 90) : QColor(40, 44, 50);
        g.setColorAt(0, look.pressed ? top.darker(130) : top);
        g.setColorAt(1, QColor(26, 29, 33));
        QPainterPath path;
        path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, 6), 6, 6);
        p.setClipRect(r);
        p.setPen(QPen(look.on ? kBlue : kEdge, 1));
        p.setBrush(g);
        p.drawPath(path);
        p.setClipping(false);
    };
}

// ---- Brox and Pell pictures
//
// The panels place their widgets at fixed spots; these pictures are drawn
// around those spots so no frame line or caption ends up under a widget.

// Channel columns of the main panel: eight to a row, 68 pixels apart, rows
// 132 pixels apart, each column 58 wide and 120 high with its HPF switch.
constexpr int kBroxColumnLeft = 57;
constexpr int kBroxColumnPitch = 68;
constexpr int kBroxColumnWidth = 58;
constexpr int kBroxColumnsPerRow = 8;
constexpr int kBroxRowTop = 14;
constexpr int kBroxRowPitch = 132;
constexpr int kBroxColumnHeight = 120;
// The unit-wide widgets (+48V, system, sync, peak hold) right of the columns.
constexpr int kBroxDeviceLeft = 604;
constexpr int kBroxDeviceRight = 714;

const QColor kRecess(22, 25, 29);
const QColor kDivider(44, 49, 56);

void broxRecess(QPainter& p, const QRectF& box)
{
    p.setPen(QPen(kEdge, 1));
    p.setBrush(kRecess);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.setBrush(Qt::NoBrush);
}

// One row of channel columns: a frame round the eight columns, the group's
// name in the margin left of the first column, and a faint line in each gap.
struct BroxRow {
    QString word; // "INPUT", "OUTPUT", "AES/EBU", "CH"
    QString range; // "1-8"
};

void broxChannelRow(QPainter& p, const QRect& r, int row, const BroxRow& group)
{
    const int top = r.top() + kBroxRowTop + row * kBroxRowPitch;
    const int lastRight = kBroxColumnLeft + (kBroxColumnsPerRow - 1) * kBroxColumnPitch + kBroxColumnWidth;
    const QRect box(r.left() + 6, top - 4, lastRight + 6 - 6, kBroxColumnHeight + 8);
    broxRecess(p, box);
    const int labelLeft = box.left() + 2;
    const int labelWidth = r.left() + kBroxColumnLeft - 4 - labelLeft;
    const qreal middle = top + kBroxColumnHeight / 2.0;
    caption(p, QRectF(labelLeft, middle - 15, labelWidth, 12), group.word, kTextDim, 9);
    caption(p, QRectF(labelLeft, middle - 2, labelWidth, 16), group.range, kText, 12);
    p.setPen(QPen(kDivider, 1));
    const int gap = kBroxColumnPitch - kBroxColumnWidth;
    for (int k = 0; k + 1 < kBroxColumnsPerRow; ++k) {
        const qreal x = r.left() + kBroxColumnLeft + k * kBroxColumnPitch + kBroxColumnWidth + gap / 2 + 0.5;
        p.drawLine(QPointF(x, top + 6), QPointF(x, top + kBroxColumnHeight - 6));
    }
}

// A main-panel background: one framed row per group of eight columns and the
// unit-wide area on the right. Without inputs only the system and sync
// indicators are there, so their frame is shorter.
FramePainter broxFrontPanel(const std::vector<BroxRow>& rows, bool hasInputs = true)
{
    return [rows, hasInputs](QPainter& p, const QRect& r, int) {
        plate(p, r);
        for (size_t i = 0; i < rows.size(); ++i)
            broxChannelRow(p, r, static_cast<int>(i), rows[i]);
        const int top = hasInputs ? kBroxRowTop - 4 : 41;
        const int bottom = hasInputs ? kBroxRowTop + kBroxColumnHeight + 4 : 99;
        broxRecess(
            p, QRectF(r.left() + kBroxDeviceLeft, r.top() + top, kBroxDeviceRight - kBroxDeviceLeft, bottom - top));
    };
}

std::vector<BroxRow> broxRows(const QString& word, int rows)
{
    std::vector<BroxRow> list;
    for (int i = 0; i < rows; ++i)
        list.push_back({word, QStringLiteral("%1-%2").arg(i * 8 + 1).arg(i * 8 + 8)});
    return list;
}

// The output set-up block (554 x 130): the scale buttons with their speed,
// rate and frame-rate texts along the top; the headphone sources and meters,
// and the impedance switch, along the bottom.
FramePainter broxOutputSetup()
{
    return [](QPainter& p, const QRect& r, int) {
        plate(p, r, 6);
        const QPointF o = r.topLeft();
        broxRecess(p, QRectF(o + QPointF(4, 6), QSizeF(546, 50)));
        caption(p, QRectF(o + QPointF(8, 14), QSizeF(84, 38)), QStringLiteral("DELAY\nSCALE"), kTextDim, 10);

        broxRecess(p, QRectF(o + QPointF(4, 62), QSizeF(218, 62)));
        caption(p, QRectF(o + QPointF(10, 64), QSizeF(80, 14)), QStringLiteral("PHONES"), kTextDim, 10,
            Qt::AlignLeft | Qt::AlignVCenter);
        caption(p, QRectF(o + QPointF(12, 100), QSizeF(20, 15)), QStringLiteral("L"), kTextDim, 10);
        caption(p, QRectF(o + QPointF(120, 100), QSizeF(20, 15)), QStringLiteral("R"), kTextDim, 10);
        // Wells under the two source pop-ups.
        p.fillRect(QRect(r.left() + 33, r.top() + 101, 60, 13), QColor(8, 9, 10));
        p.fillRect(QRect(r.left() + 141, r.top() + 101, 60, 13), QColor(8, 9, 10));

        broxRecess(p, QRectF(o + QPointF(396, 62), QSizeF(154, 62)));
        caption(p, QRectF(o + QPointF(396, 72), QSizeF(154, 20)), QStringLiteral("OUTPUT IMPEDANCE"), kTextDim, 10);
    };
}

// Edit windows (604 x 394): eight strips of 64 x 305 at 17 + 72 k, 71 under
// the page tabs; each strip gets its own lane.
FramePainter broxEditWindow(const QString& title)
{
    return [title](QPainter& p, const QRect& r, int) {
        plate(p, r);
        caption(p, QRectF(r.left() + 17, r.top() + 9, 300, 20), title, kTextDim, 12, Qt::AlignLeft | Qt::AlignVCenter);
        p.setPen(QPen(kEdge, 1));
        p.drawLine(QPointF(r.left() + 10, r.top() + 64.5), QPointF(r.right() - 10, r.top() + 64.5));
        for (int k = 0; k < 8; ++k)
            broxRecess(p, QRectF(r.left() + 17 + 72 * k - 3, r.top() + 71 - 4, 64 + 6, 305 + 8));
    };
}

// A face drawn in the top `height` rows of each frame, the rest left clear.
FramePainter topRows(FramePainter face, int height)
{
    return [face, height](
               QPainter& p, const QRect& r, int frame) { face(p, QRect(r.left(), r.top(), r.width(), height), frame); };
}

// A plain button face for buttons whose text the panel sets: released,
// then pressed.
FramePainter blankButton()
{
    return switchButton(QString(), QString(), QColor(), 4);
}

// Patch-number strips of the routing editor: 128 cells of 14 pixels, a
// 1-pixel gap inside each group of 16 and 4 between groups, no gap after the
// last cell. `selected` draws the highlighted look of every cell.
int cellOffset(int i)
{
    return i * 14 + (i - i / 16) + (i / 16) * 4;
}

FramePainter patchNumbers(bool vertical, bool selected)
{
    return [=](QPainter& p, const QRect& r, int) {
        p.fillRect(r, QColor(59, 59, 59));
        for (int i = 0; i < 128; ++i) {
            const int o = cellOffset(i);
            const QRect cell = vertical ? QRect(r.left(), r.top() + o, 14, 14) : QRect(r.left() + o, r.top(), 14, 14);
            p.fillRect(cell, selected ? QColor(200, 237, 247) : QColor(86, 90, 96));
            caption(p, QRectF(cell), QString::number(i + 1), selected ? QColor(10, 20, 30) : kText, i < 99 ? 8 : 6);
        }
    };
}

// Name strips: one caption per group of 16 cells.
FramePainter patchNames(bool vertical, const QString& word)
{
    return [=](QPainter& p, const QRect& r, int) {
        p.fillRect(r, QColor(59, 59, 59));
        for (int g = 0; g < 8; ++g) {
            const int from = cellOffset(g * 16);
            const int to = cellOffset(g * 16 + 15) + 14;
            const QString text = QStringLiteral("%1 %2-%3").arg(word).arg(g * 16 + 1).arg(g * 16 + 16);
            if (vertical) {
                const QRect band(r.left(), r.top() + from, r.width(), to - from);
                p.fillRect(band.adjusted(1, 0, -1, 0), QColor(44, 48, 54));
                p.save();
                p.translate(band.center().x() + 1, band.center().y());
                p.rotate(-90);
                caption(p, QRectF(-band.height() / 2.0, -r.width() / 2.0, band.height(), r.width()), text, kText, 11);
                p.restore();
            } else {
                const QRect band(r.left() + from, r.top(), to - from, r.height());
                p.fillRect(band.adjusted(0, 1, 0, -1), QColor(44, 48, 54));
                caption(p, QRectF(band), text, kText, 11);
            }
        }
    };
}

// Patch ball: corners of one colour (transparent) so a heuristic mask keeps
// only the ball.
FramePainter patchBall()
{
    return [](QPainter& p, const QRect& r, int) {
        p.fillRect(r, Qt::transparent);
        QRadialGradient g(QRectF(r).center() - QPointF(1.5, 1.5), 6);
        g.setColorAt(0, QColor(120, 200, 255));
        g.setColorAt(1, QColor(20, 90, 170));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QRectF(r).adjusted(1, 1, -1, -1));
    };
}

// Routing pattern pictures. Patterns 1 to 7 are the unit's fixed patterns,
// the same ones the user patch editor recalls as "Pattern #1" to "#7": the
// first source of each slot's 16 outputs, and the slot inputs always feed
// outputs 65-128. Pattern 0 is the user's own routing. Each picture carries
// the number the panel's pattern button shows.
constexpr int kPatternBlockSources[7][4] = {
    {64, 80, 96, 112},
    {64, 0, 0, 0},
    {64, 0, 80, 32},
    {16, 0, 48, 32},
    {64, 64, 64, 64},
    {64, 64, 80, 80},
    {64, 80, 48, 32},
};

void routeRow(QPainter& p, const QRect& r, int y, const QString& from, const QString& to, const QColor& line)
{
    const QRect in(r.left() + 30, y, 110, 30);
    const QRect out(r.right() - 140, y, 110, 30);
    p.setPen(QPen(kEdge, 1));
    p.setBrush(QColor(36, 40, 46));
    p.drawRect(in);
    p.drawRect(out);
    caption(p, QRectF(in), from, kText, 11);
    caption(p, QRectF(out), to, kText, 11);
    p.setPen(QPen(line, 2));
    const int mid = in.center().y();
    p.drawLine(in.right() + 2, mid, out.left() - 8, mid);
    p.setBrush(line);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF(
        {QPointF(out.left() - 2, mid), QPointF(out.left() - 9, mid - 4.5), QPointF(out.left() - 9, mid + 4.5)}));
}

FramePainter routingPattern(int n)
{
    return [n](QPainter& p, const QRect& r, int f) {
        panel(QStringLiteral("PATTERN #%1").arg(n))(p, r, f);
        if (n < 1 || n > 7) {
            caption(p, QRectF(r), QStringLiteral("USER PATTERN"), kText, 14);
            return;
        }
        const auto block = [](const char* word, int first, int count) {
            return QStringLiteral("%1 %2-%3").arg(QString::fromUtf8(word)).arg(first + 1).arg(first + count);
        };
        for (int b = 0; b < 4; ++b) {
            const int source = kPatternBlockSources[n - 1][b];
            routeRow(p, r, r.top() + 30 + b * 42, block("IN", source, 16), block("OUT", b * 16, 16),
                source < 64 ? kGreen : kBlue);
        }
        routeRow(p, r, r.top() + 30 + 4 * 42, block("IN", 0, 64), block("OUT", 64, 64), kGreen);
    };
}

// Mavik and Sorn front panels. Their controls sit at fixed places, so the
// captions and group frames are drawn here at those same places: a caption
// names the LED column, row, display or switch it sits beside.
void groupFrame(QPainter& p, const QRect& box, const QString& title)
{
    p.setPen(QPen(kEdge, 1));
    p.setBrush(QColor(22, 25, 29));
    p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    caption(p, QRectF(box.left() + 6, box.top() + 2, box.width() - 12, 14), title, kTextDim, 10,
        Qt::AlignLeft | Qt::AlignVCenter);
}

// A caption centred on a column whose centre is at x.
void columnCaption(QPainter& p, int x, int y, const QString& text)
{
    caption(p, QRectF(x - 40, y, 80, 12), text, kTextDim, 9);
}

// A caption right of a 16-pixel LED at (x, y).
void ledCaption(QPainter& p, int x, int y, const QString& text)
{
    caption(p, QRectF(x + 20, y, 72, 16), text, kText, 9, Qt::AlignLeft | Qt::AlignVCenter);
}

// A recessed well behind a value display; a narrow margin at the sides
// keeps the wells of the port counts, 4 pixels apart, from touching.
void displayWell(QPainter& p, const QRect& display)
{
    p.setPen(QPen(kGroove, 1));
    p.setBrush(QColor(10, 11, 13));
    p.drawRoundedRect(QRectF(display).adjusted(-0.5, -2.5, 0.5, 2.5), 3, 3);
}

FramePainter mavikFront()
{
    return [](QPainter& p, const QRect& r, int f) {
        panel(QStringLiteral("MAVIK"), true)(p, r, f);
        const auto s = [](const char* text) { return QString::fromUtf8(text); };

        // Converter switch and its clock source, one column each.
        groupFrame(p, QRect(92, 48, 122, 144), s("SRC"));
        columnCaption(p, 126, 90, s("ON"));
        columnCaption(p, 178, 90, s("WCLK IN"));

        // MADI input rate: Fs family LEDs and the speed LEDs with their switch.
        groupFrame(p, QRect(222, 48, 172, 144), s("MADI IN"));
        columnCaption(p, 254, 66, s("Fs"));
        columnCaption(p, 338, 66, s("RATE"));
        const char* const fs[] = {"44.1k", "48k"};
        for (int i = 0; i < 2; ++i)
            ledCaption(p, 246, 82 + 26 * i, s(fs[i]));
        const char* const rate[] = {"x1", "x2", "x4"};
        for (int i = 0; i < 3; ++i)
            ledCaption(p, 330, 82 + 26 * i, s(rate[i]));

        // Frame and channel format, input and output side by side.
        groupFrame(p, QRect(402, 48, 134, 162), s("STATUS"));
        for (const int y : {114, 185}) {
            caption(p, QRectF(413, y - 34, 112, 12), y == 114 ? s("FRAME") : s("CHANNELS"), kTextDim, 9);
            columnCaption(p, 439, y - 18, s("IN"));
            columnCaption(p, 499, y - 18, s("OUT"));
            displayWell(p, QRect(413, y, 52, 15));
            displayWell(p, QRect(473, y, 52, 15));
        }

        // Master word clock source, in the order of its LEDs top to bottom.
        groupFrame(p, QRect(92, 262, 122, 130), s("MASTER WCLK"));
        const char* const source[] = {"WCLK IN", "MADI", "DANTE"};
        for (int i = 0; i < 3; ++i)
            ledCaption(p, 118, 286 + 26 * i, s(source[i]));

        // Master Fs: the 48k family on the upper row, 44.1k below, fastest first.
        groupFrame(p, QRect(222, 262, 314, 130), s("MASTER Fs"));
        const char* const masterFs[2][3] = {{"192k", "96k", "48k"}, {"176.4k", "88.2k", "44.1k"}};
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                ledCaption(p, 246 + 110 * col, 310 + 26 * row, s(masterFs[row][col]));

        groupFrame(p, QRect(610, 340, 98, 52), QString());
        columnCaption(p, 659, 354, s("EXT CTRL"));
    };
}

FramePainter sornFront()
{
    return [](QPainter& p, const QRect& r, int f) {
        panel(QStringLiteral("SORN"), true)(p, r, f);
        const auto s = [](const char* text) { return QString::fromUtf8(text); };

        // Card slots: one row per slot, a header over each column.
        groupFrame(p, QRect(30, 44, 532, 188), s("SLOTS"));
        columnCaption(p, 170, 62, s("CARD"));
        columnCaption(p, 261, 62, s("IN"));
        columnCaption(p, 301, 62, s("OUT"));
        columnCaption(p, 352, 62, s("LOCK"));
        columnCaption(p, 411, 62, s("SRC"));
        columnCaption(p, 498, 62, s("SRC CLOCK"));
        for (int i = 0; i < 4; ++i) {
            const int y = 77 + 39 * i;
            caption(p, QRectF(40, y, 62, 28), QStringLiteral("SLOT %1").arg(i + 1), kText, 10,
                Qt::AlignLeft | Qt::AlignVCenter);
            for (const QRect& display :
                {QRect(107, y, 126, 28), QRect(243, y, 36, 28), QRect(283, y, 36, 28), QRect(447, y, 102, 28)})
                displayWell(p, display);
        }

        // Word clock source, in the order of its LEDs top to bottom.
        groupFrame(p, QRect(122, 262, 140, 130), s("WORD CLOCK"));
        const char* const source[] = {"WCLK IN", "SLOT", "DANTE"};
        for (int i = 0; i < 3; ++i)
            ledCaption(p, 147, 287 + 25 * i, s(source[i]));

        groupFrame(p, QRect(356, 262, 198, 130), s("ROUTING PATTERN"));

        groupFrame(p, QRect(610, 326, 98, 66), s("POWER"));
        columnCaption(p, 639, 352, s("A"));
        columnCaption(p, 678, 352, s("B"));
    };
}

// The unit's small toggle: a 26-pixel key at the left of its 96-pixel frame,
// centred under the LED above it. The rest stays clear because the next
// switch or a display starts there.
FramePainter smallSwitch()
{
    const FramePainter key = switchButton(QStringLiteral("OFF"), QStringLiteral("ON"), kGreen, 4, 9);
    return [key](QPainter& p, const QRect& r, int frame) { key(p, QRect(r.left(), r.top(), 26, r.height()), frame); };
}

QColor none()
{
    return QColor();
}

std::vector<Skin> skinList()
{
    const QString img = QStringLiteral("images");
    const QString common = QStringLiteral("common/images");
    const QString display = QStringLiteral("display/images");
    const QString brox = QStringLiteral("brox/images");
    const QString mavik = QStringLiteral("mavik/images");
    const QString sorn = QStringLiteral("sorn/images");
    const auto s = [](const QString& t) { return t; };

    std::vector<Skin> list = {
        {img, s("cbtn_seldevice.png"), 110, 66, 3, slotButton()},
        // Blank also stands for a mounted slot whose state cannot be read,
        // so it claims nothing: an unlit lamp, no word.
        {img, s("ind_mode_blank.png"), 98, 18, 2, modeIndicator(none(), QString())},
        {img, s("ind_mode_virtual.png"), 98, 18, 2, modeIndicator(kBlue, s("OFFLINE SETUP"))},
        {img, s("ind_mode_disconnected.png"), 98, 18, 2, modeIndicator(kRed, s("DISCONNECTED"))},
        {img, s("ind_mode_connecting.png"), 98, 18, 2, modeIndicator(kYellow, s("CONNECTING"))},
        {img, s("ind_mode_connected.png"), 98, 18, 2, modeIndicator(kGreen, s("ONLINE"))},
        {img, s("ind_mode_conflict.png"), 98, 18, 2, modeIndicator(kAmber, s("CONFLICT"))},
        {img, s("ind_mode_duplicated.png"), 98, 18, 2, modeIndicator(kAmber, s("DUPLICATE ID"))},
        {img, s("bg_SelDevArea_24.png"), 114, 1776, 1, slotStrip()},
        {img, s("bg_Right.png"), 752, 594, 1, panel()},
        {img, s("bg_dev_area.png"), 752, 543, 1, panel(QString(), true)},
        {img, s("bg_DispArea.png"), 752, 51, 1, panel()},

        {common, s("bg_dev_txt_SYNC.png"), 49, 26, 1, statusWord(s("SYNC"), 11)},
        {common, s("bg_dev_txt_SYSTEM.png"), 49, 26, 1, statusWord(s("SYSTEM"), 10)},
        {common, s("ind_dev_led_circle_green.png"), 16, 16, 2, led({none(), kGreen})},
        {common, s("ind_dev_led_circle_yellow.png"), 16, 16, 2, led({none(), kYellow})},
        {common, s("ind_dev_led_circle_red.png"), 16, 16, 2, led({none(), kRed})},
        {common, s("ind_icon_alert.png"), 14, 13, 1, alertIcon()},
        {common, s("ind_icon_info.png"), 14, 13, 1, infoIcon()},

        {display, s("meter_base.png"), 9, 45, 1, meterBase()},
        {display, s("meter_value.png"), 5, 41, 1, meterLit()},
        {display, s("meter_scale.png"), 5, 45, 1, meterScale()},

        {brox, s("meter_base.png"), 9, 45, 1, meterBase()},
        {brox, s("meter_value.png"), 5, 41, 1, meterLit()},
        {brox, s("knob_white.png"), 42, 42, 101, knob(QColor(225, 228, 232), 101)},
        {brox, s("knob_green.png"), 42, 42, 101, knob(QColor(70, 180, 100), 101)},
        {brox, s("bg_textbox.png"), 52, 16, 1, textBox()},
        {brox, s("tbtn_+48V.png"), 56, 20, 4, switchButton(s("+48V"), s("+48V"), kRed, 4)},
        // The HPF switch sits at the foot of a 118-pixel column that cuts its
        // last two rows, so its face stays above them.
        {brox, s("tbtn_HPF.png"), 56, 20, 4, topRows(switchButton(s("HPF"), s("HPF"), kYellow, 4), 18)},
        {brox, s("tbtn_delay.png"), 56, 20, 4, switchButton(s("DELAY"), s("DELAY"), kYellow, 4)},
        {brox, s("tbtn_GC.png"), 56, 20, 4, switchButton(s("GC"), s("GC"), kGreen, 4)},
        {brox, s("tbtn_phase.png"), 56, 20, 4, switchButton(s("\u00D8"), s("\u00D8"), kAmber, 4, 12)},
        {brox, s("tbtn_PEAKHOLD.png"), 96, 20, 4, switchButton(s("PEAK HOLD"), s("PEAK HOLD"), kYellow, 4)},
        {brox, s("tbtn_input.png"), 90, 18, 4, switchButton(s("INPUT"), s("INPUT"), kBlue, 4)},
        {brox, s("tbtn_output.png"), 90, 18, 4, switchButton(s("OUTPUT"), s("OUTPUT"), kBlue, 4)},
        {brox, s("ind_+48V.png"), 28, 14, 2,
            [](QPainter& p, const QRect& r, int f) {
                p.fillRect(r, f ? kRed : QColor(52, 30, 30));
                caption(p, QRectF(r), QStringLiteral("+48V"), f ? Qt::white : QColor(140, 110, 110), 9);
            }},
        // These units show their master switch here; the lamp below already
        // reads "+48V", so the caption names what it reports.
        {brox, s("bg_dev_Brox_txt_+48V.png"), 98, 10, 1, textOnly(s("+48V MASTER"), 9, kTextDim)},
        {brox, s("bg_dev_Brox_txt_+48V_active.png"), 98, 10, 1, textOnly(s("+48V ACTIVE"), 9, kTextDim)},
        // Each background serves several models (and the 8-column one also the
        // BroxM-D3 output view), so they carry no model name and the 8-column
        // one no input/output word.
        {brox, s("bg_dev_BroxLD.png"), 752, 543, 1, broxFrontPanel(broxRows(s("INPUT"), 4))},
        {brox, s("bg_dev_BroxMD.png"), 752, 543, 1, broxFrontPanel(broxRows(s("INPUT"), 2))},
        {brox, s("bg_dev_BroxID.png"), 752, 543, 1, broxFrontPanel(broxRows(s("CH"), 1))},
        {brox, s("bg_dev_BroxOD.png"), 752, 543, 1, broxFrontPanel({}, false)},
        {brox, s("bg_dev_BroxLD3Output.png"), 752, 543, 1,
            broxFrontPanel({{s("OUTPUT"), s("1-8")}, {s("OUTPUT"), s("9-16")}, {s("AES/EBU"), s("1-8")}})},
        {brox, s("tab_edit.png"), 138, 30, 3, tabButton()},
        {brox, s("bg_edit_device.png"), 604, 394, 1, broxEditWindow(s("CHANNEL EDIT"))},
        {brox, s("bg_edit_output.png"), 604, 394, 1, broxEditWindow(s("OUTPUT EDIT"))},
        {brox, s("bg_edit_device_output.png"), 604, 394, 1, broxEditWindow(s("OUTPUT EDIT"))},
        {brox, s("bg_delayscale_output.png"), 554, 130, 1, broxOutputSetup()},
        {brox, s("tbtn_meter.png"), 48, 18, 4, switchButton(s("METER"), s("METER"), kBlue, 4, 9)},
        {brox, s("tbtn_feet.png"), 48, 18, 4, switchButton(s("FEET"), s("FEET"), kBlue, 4, 9)},
        {brox, s("tbtn_sample.png"), 48, 18, 4, switchButton(s("SAMPLE"), s("SAMPLE"), kBlue, 4, 9)},
        {brox, s("tbtn_msec.png"), 48, 18, 4, switchButton(s("MSEC"), s("MSEC"), kBlue, 4, 9)},
        {brox, s("tbtn_frame.png"), 48, 18, 4, switchButton(s("FRAME"), s("FRAME"), kBlue, 4, 9)},
        // The panel writes "600" or "10k" on it.
        {brox, s("tbtn_impedance.png"), 48, 18, 2, blankButton()},

        {mavik, s("bg_dev_MavikD.png"), 750, 410, 1, mavikFront()},
        {mavik, s("btn_SW.png"), 96, 20, 4, smallSwitch()},
        {mavik, s("ind_dev_circle_green.png"), 16, 16, 2, led({none(), kGreen})},

        {sorn, s("bg_dev_SornD.png"), 750, 410, 1, sornFront()},
        {sorn, s("btn_SW.png"), 96, 20, 4, smallSwitch()},
        {sorn, s("ind_dev_led_circle_green.png"), 16, 16, 2, led({none(), kGreen})},
        {sorn, s("ind_dev_led_circle_yellow.png"), 16, 16, 2, led({none(), kYellow})},
        {sorn, s("ind_dev_led_circle_green_red_x2.png"), 16, 16, 5, led({none(), kGreen, kGreen, kRed, kRed})},
        {sorn, s("ind_dev_led_circle_red_green.png"), 16, 16, 3, led({none(), kRed, kGreen})},
        {sorn, s("cbtn_black.png"), 165, 25, 2, switchButton(QString(), QString(), QColor(60, 66, 74), 2)},
        {sorn, s("cbtn_gray.png"), 165, 25, 2, switchButton(s("USER PATTERN"), s("USER PATTERN"), kTextDim, 2)},
        {sorn, s("tbtn_PRESET.png"), 88, 22, 2, switchButton(s("PRESET"), s("PRESET"), kBlue, 2)},
        {sorn, s("tbtn_CLEARALL.png"), 88, 22, 2, switchButton(s("CLEAR ALL"), s("CLEAR ALL"), kRed, 2)},
        {sorn, s("txt_input.png"), 44, 16, 1, textOnly(s("INPUT"), 10)},
        {sorn, s("txt_output.png"), 58, 16, 1, textOnly(s("OUTPUT"), 10)},
        {sorn, s("bg_patch_ball.png"), 10, 10, 1, patchBall()},
        {sorn, s("bg_InputName.png"), 1940, 15, 1, patchNames(false, s("IN"))},
        {sorn, s("bg_InputPatchNo_default.png"), 1940, 14, 1, patchNumbers(false, false)},
        {sorn, s("bg_InputPatchNo_Sel.png"), 1940, 14, 1, patchNumbers(false, true)},
        {sorn, s("bg_OutputName.png"), 60, 1940, 1, patchNames(true, s("OUT"))},
        {sorn, s("bg_OutputPatchNo_default.png"), 14, 1940, 1, patchNumbers(true, false)},
        {sorn, s("bg_OutputPatchNo_Sel.png"), 14, 1940, 1, patchNumbers(true, true)},
    };
    for (int n = 0; n < 8; ++n)
        list.push_back({sorn, QStringLiteral("bg_pattern_%1.png").arg(n), 420, 250, 1, routingPattern(n)});
    return list;
}

QImage render(const Skin& skin)
{
    QImage image(skin.width, skin.height * skin.frames, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // 96 dpi whatever the screen, so the files carry the same header bytes.
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int frame = 0; frame < skin.frames; ++frame) {
        const QRect r(0, frame * skin.height, skin.width, skin.height);
        p.save();
        p.setClipRect(r);
        skin.paint(p, r, frame);
        p.restore();
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool writePng(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    writer.setCompression(9);
    return writer.write(image) && file.commit();
}

bool writeQrc(const std::vector<Skin>& skins, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    out << "<!DOCTYPE RCC><RCC version=\"1.0\">\n";
    QString folder;
    for (const Skin& skin : skins) {
        if (skin.folder != folder) {
            if (!folder.isEmpty())
                out << "</qresource>\n";
            folder = skin.folder;
            out << "<qresource prefix=\"/" << folder << "\">\n";
        }
        out << "  <file alias=\"" << skin.name << "\">" << skin.folder << '/' << skin.name << "</file>\n";
    }
    if (!folder.isEmpty())
        out << "</qresource>\n";
    out << "</RCC>\n";
    out.flush();
    return out.status() == QTextStream::Ok && file.commit();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon_skingen <output-folder>\n");
        return 2;
    }
    ZLook::preferOffscreen();
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();

    const QString root = QString::fromLocal8Bit(argv[1]);
    const std::vector<Skin> skins = skinList();
    for (const Skin& skin : skins) {
        if (!QDir().mkpath(root + '/' + skin.folder)) {
            std::fprintf(stderr, "quillon_skingen: cannot make %s\n", qPrintable(root + '/' + skin.folder));
            return 1;
        }
        const QString path = root + '/' + skin.folder + '/' + skin.name;
        if (!writePng(render(skin), path)) {
            std::fprintf(stderr, "quillon_skingen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    if (!writeQrc(skins, root + QStringLiteral("/skins.qrc"))) {
        std::fprintf(stderr, "quillon_skingen: cannot write skins.qrc\n");
        return 1;
    }
    return 0;
}
