// State indicators drawn from one frame of a combined image: ZStateDisplay
// shows the frame of its index, ZStateDisplayBlink can also flash it in the
// step of the process-wide blink timer (frame 0 in the off phases).
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

#include <cstdint>

class QPainter;

class ZStateDisplay : public ZScaledWidget {
    Q_OBJECT
    Q_PROPERTY(QPixmap combinedImage READ combinedImage WRITE setCombinedImage)
    Q_PROPERTY(int nSubImages READ nSubImages WRITE setnSubImages)
    Q_PROPERTY(int currentImageIndex READ currentImageIndex WRITE setCurrentImageIndex)
public:
    explicit ZStateDisplay(QWidget* parent = nullptr);

    const QPixmap& combinedImage() const { return m_image; }
    int nSubImages() const { return m_nSubImages; }
    int currentImageIndex() const { return m_index; }

public slots:
    void setCombinedImage(const QPixmap& image);
    // Stores the count; pulls the index below it (no repaint).
    void setnSubImages(int value);
    // Clamps the index into the frames; repaints only when that changes the
    // frame on screen (status LEDs are set again on every blink step).
    void setCurrentImageIndex(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Draws frame `frame` stretched over the widget when it exists.
    void drawFrame(QPainter& painter, int frame);

private:
    QPixmap m_image;
    int m_nSubImages = 1;
    int m_index = 0;
    // The index the last repaint was asked for; an index pulled down by
    // setnSubImages is not on screen yet, so it differs from this one.
    int m_drawnIndex = -1;
};

class ZStateDisplayBlink : public ZStateDisplay {
    Q_OBJECT
public:
    explicit ZStateDisplayBlink(QWidget* parent = nullptr);
    bool blink() const { return m_blink; }
    void setBlink(bool blink);

public slots:
    // Repaints when the blink phase turns and the off frame differs from
    // the lit one; the other steps show the same pixels.
    void onStateChanged(uint32_t stateNo);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_blink = false;
    bool m_phaseOn = false;
};
