// ZButton: a push button drawn from one frame of a combined image (equal
// frames stacked top to bottom), sized by its picture. A checkable button
// can toggle at the press or at the release, and a press that leaves the
// button and comes back toggles only when released over it.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

class QPainter;

class ZButton : public ZScaledPushButton {
    Q_OBJECT
    Q_PROPERTY(QPixmap combinedImage READ combinedImage WRITE setCombinedImage)
    Q_PROPERTY(int nSubImages READ nSubImages WRITE setnSubImages)
    Q_PROPERTY(bool textEnable READ textEnable WRITE setTextEnable)
    Q_PROPERTY(Qt::Alignment textAlignment READ textAlignment WRITE setTextAlignment)
    Q_PROPERTY(OnOffTrigger offTrigger READ offTrigger WRITE setOffTrigger)
    Q_PROPERTY(OnOffTrigger onTrigger READ onTrigger WRITE setOnTrigger)
public:
    enum OnOffTrigger { buttonRelease = 0, buttonPush = 1 };
    Q_ENUM(OnOffTrigger)

    // Input of subImageIndex.
    enum ButtonState {
        StateOn = 0, // checkable and on, or a plain button held down
        StateOff = 1, // checkable and off, or a plain button up
        StateOnPressed = 2, // checkable, on, held down
        StateOffPressed = 3, // checkable, off, held down
    };

    // Drag states of a checkable button's press.
    enum DragState { DragIdle = 0, DragTracking = 1, DragLeft = 2, DragBack = 3 };

    explicit ZButton(QWidget* parent = nullptr);

    const QPixmap& combinedImage() const { return m_image; }
    int nSubImages() const { return m_nSubImages; }
    bool textEnable() const { return m_textEnable; }
    Qt::Alignment textAlignment() const { return m_textAlignment; }
    OnOffTrigger onTrigger() const { return m_onTrigger; }
    OnOffTrigger offTrigger() const { return m_offTrigger; }
    int dragState() const { return m_dragState; }

    // The state this button is drawn for now.
    ButtonState buttonState() const;
    // Paints the frame of the current state over the whole widget; true when
    // a frame was drawn.
    virtual bool drawCombinedImage(QPainter& painter);
    // The frame shown for `state` with `nSubImages` frames; -1 for none.
    virtual int subImageIndex(int nSubImages, int state) const;

public slots:
    void setCombinedImage(const QPixmap& image);
    void setnSubImages(int value);
    void setTextEnable(bool enable);
    void setTextAlignment(Qt::Alignment alignment);
    void setOnTrigger(ZButton::OnOffTrigger mode);
    void setOffTrigger(ZButton::OnOffTrigger mode);
    void setPressedTextColor(const QColor& col);
    void setReleasedTextColor(const QColor& col);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fitToImage();

    QPixmap m_image;
    int m_nSubImages = 1;
    bool m_textEnable = false;
    Qt::Alignment m_textAlignment = Qt::AlignHCenter | Qt::AlignVCenter;
    OnOffTrigger m_onTrigger = buttonRelease;
    OnOffTrigger m_offTrigger = buttonRelease;
    QColor m_pressedTextColor;
    QColor m_releasedTextColor;
    int m_dragState = DragIdle;
};
