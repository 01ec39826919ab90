// The nine zoomable base classes. Each is its Qt widget with the zoom mix-in
// (IScaledWidget) and member wrappers that place and size the widget in 100 %
// units at its own zoom code, recording the 100 % values for later zoom
// changes. Panels build themselves with these wrappers only.
#pragma once

#include "ui/widgets/zscale.h"

#include <QDial>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>

// The mix-in state and wrappers shared by the nine classes.
template <class Base> class ZScaledBase : public Base, public IScaledWidget {
public:
    using Base::Base;

    bool applyScale(ZoomCode code) override { return ZScale::applyScale(this, code); }
    ZoomCode scale() const override { return m_code; }
    bool setScale(ZoomCode code) override
    {
        m_code = code;
        return true;
    }
    bool setBaseGeometry(const QRect& rect) override
    {
        m_baseGeometry = rect;
        return true;
    }
    QRect baseGeometry() const override { return m_baseGeometry; }
    bool setBaseSize(const QSize& size) override
    {
        m_baseSize = size;
        return true;
    }
    QSize baseSize() const override { return m_baseSize; }
    bool setBaseFont(const QFont& font) override
    {
        m_baseFont = font;
        return true;
    }
    QFont baseFont() const override { return m_baseFont; }

    void setGeometryScaled(const QRect& rect, bool force = false) { ZScale::setGeometry(this, m_code, rect, force); }
    void setGeometryScaled(int x, int y, int w, int h, bool force = false)
    {
        ZScale::setGeometry(this, m_code, x, y, w, h, force);
    }
    void moveScaled(int x, int y) { ZScale::move(this, m_code, x, y); }
    void moveScaled(const QPoint& p) { ZScale::move(this, m_code, p.x(), p.y()); }
    void resizeScaled(const QSize& size) { ZScale::resize(this, m_code, size); }
    void resizeScaled(int w, int h) { ZScale::resize(this, m_code, w, h); }
    void setFixedSizeScaled(int w, int h) { ZScale::setFixedSize(this, m_code, w, h); }
    void setMinimumSizeScaled(const QSize& size) { ZScale::setMinimumSize(this, m_code, size); }
    void setMaximumSizeScaled(const QSize& size) { ZScale::setMaximumSize(this, m_code, size); }
    void setFontScaled(const QFont& font) { ZScale::setFont(this, m_code, font); }
    int unscaledX() const { return ZScale::unscaledX(this, m_code); }
    int unscaledY() const { return ZScale::unscaledY(this, m_code); }
    int unscaledWidth() const { return ZScale::unscaledWidth(this, m_code); }
    int unscaledHeight() const { return ZScale::unscaledHeight(this, m_code); }
    QRect unscaledRect() const { return ZScale::unscaledRect(this, m_code); }
    QSize unscaledSize() const { return ZScale::unscaledSize(this, m_code); }
    QFont unscaledFont() const { return m_baseFont; }

private:
    ZoomCode m_code = 0;
    QRect m_baseGeometry;
    QSize m_baseSize{-1, -1};
    QFont m_baseFont;
};

class ZScaledDial : public ZScaledBase<QDial> {
    Q_OBJECT
public:
    explicit ZScaledDial(QWidget* parent = nullptr);
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

// Dialogs are built at 100 % and scaled once by their own applyScale; the
// base only stores the code.
class ZScaledDialog : public ZScaledBase<QDialog> {
    Q_OBJECT
public:
    explicit ZScaledDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    bool applyScale(ZoomCode code) override { return setScale(code); }
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

class ZScaledFrame : public ZScaledBase<QFrame> {
    Q_OBJECT
public:
    explicit ZScaledFrame(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

// The pixmap follows the label's size, so a zoomed label shows it zoomed.
class ZScaledLabel : public ZScaledBase<QLabel> {
    Q_OBJECT
public:
    explicit ZScaledLabel(QWidget* parent = nullptr);
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

class ZScaledLineEdit : public ZScaledBase<QLineEdit> {
    Q_OBJECT
public:
    explicit ZScaledLineEdit(QWidget* parent = nullptr);
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

class ZScaledMainWindow : public ZScaledBase<QMainWindow> {
    Q_OBJECT
public:
    explicit ZScaledMainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

class ZScaledPushButton : public ZScaledBase<QPushButton> {
    Q_OBJECT
public:
    explicit ZScaledPushButton(QWidget* parent = nullptr);
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};

// The inner widget is a child of the viewport, so it is re-laid explicitly,
// before the scroll area itself. The bars take the zoom with the rest unless
// told to keep the platform width.
class ZScaledScrollArea : public ZScaledBase<QScrollArea> {
    Q_OBJECT
public:
    explicit ZScaledScrollArea(QWidget* parent = nullptr);
    bool applyScale(ZoomCode code) override;
    void setBarsFollowZoom(bool follow) { m_barsFollowZoom = follow; }
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }

private:
    bool m_barsFollowZoom = true;
};

class ZScaledWidget : public ZScaledBase<QWidget> {
    Q_OBJECT
public:
    explicit ZScaledWidget(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
public slots:
    void slot_scaleChanged(uint scale) { applyScale(scale); }
};
