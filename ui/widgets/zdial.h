// ZDial: a rotary control drawn from one frame of a combined image. It turns
// by dragging around its centre over a -135..+135 degree sweep (the pointer
// never jumps across the gap at the bottom) and by the wheel, one single
// step per notch; touchpad scrolling is summed so a gesture moves as far as
// the same distance of wheel notches would.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>
#include <QPointF>

class QPainter;

class ZDial : public ZScaledDial {
    Q_OBJECT
    Q_PROPERTY(QPixmap combinedImage READ combinedImage WRITE setCombinedImage)
    Q_PROPERTY(int nSubImages READ nSubImages WRITE setnSubImages)
public:
    explicit ZDial(QWidget* parent = nullptr);

    const QPixmap& combinedImage() const { return m_image; }
    void setCombinedImage(const QPixmap& image);
    int nSubImages() const { return m_nSubImages; }
    // Stored as given; a count below 1 draws nothing.
    void setnSubImages(int value) { m_nSubImages = value; }

    // The frame for the current value: 0 for an empty range, -1 without frames.
    int frameIndex() const;
    // Draws that frame stretched over the widget; true when one was drawn.
    virtual bool drawCombinedImage(QPainter& painter);
    bool isDragging() const { return m_dragging; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void dragTo(QPointF m);

    QPixmap m_image;
    int m_nSubImages = 1;
    bool m_dragging = false;
    // Running drag, in global coordinates and radians from straight up, clockwise.
    QPointF m_pivot;
    double m_angle = 0;
    QPointF m_previous;
    QPointF m_reference;
    double m_minAngle = 0;
    double m_maxAngle = 0;
    // Touchpad scrolling summed until it makes whole notches.
    int m_scrollRemainder = 0;
};
