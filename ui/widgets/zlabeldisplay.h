// ZLabelDisplay: a parameter shown as text on a picture that turns into a
// line editor on Tab or double-click. Its owner writes the value on
// acceptEdit and restores it on abortEdit. Return and Enter end an edit and
// never reach the line edit; leaving by Tab accepts, then aborts (the owner
// re-reads what it just wrote); a click elsewhere aborts.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

class ZLabelDisplay : public ZScaledLineEdit {
    Q_OBJECT
    Q_PROPERTY(int fontPixelSize READ fontPixelSize WRITE setFontPixelSize)
    Q_PROPERTY(bool editable READ editable WRITE setEditable)
    Q_PROPERTY(QPixmap backgroundImage READ backgroundImage WRITE setBackgroundImage)
public:
    explicit ZLabelDisplay(QWidget* parent = nullptr);

    // Pixel size of the 100 % font; writing it zooms and records the font.
    int fontPixelSize() const;
    void setFontPixelSize(int size);
    bool editable() const { return m_editable; }
    void setEditable(bool editable) { m_editable = editable; }
    const QPixmap& backgroundImage() const { return m_background; }
    void setBackgroundImage(const QPixmap& image);

signals:
    void startEdit();
    void abortEdit();
    void acceptEdit();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void beginEdit();

    int m_fontPixelSize;
    bool m_editable = true;
    QPixmap m_background;
    bool m_starting = false;
};
