// ZPopup: a skinned button that opens a small menu of text cells when
// pressed, laid out in rows by a ";"-separated list of row lengths
// ("1;8;8" = one cell, then rows of eight). The menu is rebuilt at every
// press from the current list, so the list can change at any time; the
// selection survives openings. Cells are ZPopupItem labels; the button is
// their event filter and drives hover, keys and choice.
#pragma once

#include "ui/widgets/zbutton.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QStringList>

#include <vector>

struct ZPopupEntry {
    int id = 0;
    QString text;
    bool visible = true; // an invisible entry gets no cell and takes no place
    bool enabled = true; // a disabled entry can be neither chosen nor selected
};

class ZPopupItem : public QLabel {
    Q_OBJECT
public:
    ZPopupItem(const QString& text, int index, int id, int position, int group, QWidget* parent);

    int index() const { return m_index; }
    int id() const { return m_id; }
    int position() const { return m_position; }
    int group() const { return m_group; }

    bool hovered = false;
    bool selected = false;
    bool enabled = true;
    QPalette normalPalette;
    QPalette hoveredPalette;
    QPalette selectedPalette;
    QPalette disabledPalette;

    // The look without hover: selected, else normal or disabled.
    const QPalette& restingPalette() const;

private:
    int m_index;
    int m_id;
    int m_position;
    int m_group;
};

class ZPopup : public ZButton {
    Q_OBJECT
    Q_PROPERTY(bool dispSelectionItem READ textEnable WRITE setTextEnable)
    Q_PROPERTY(bool textEnable READ textEnable WRITE setTextEnable)
    Q_PROPERTY(int selectionID READ selectionID WRITE setSelectionID)
    Q_PROPERTY(QStringList menuItemList READ menuItemList WRITE setMenuItemList)
    Q_PROPERTY(QSize menuItemSize READ menuItemSize WRITE setMenuItemSize)
    Q_PROPERTY(QString groupOverride READ groupOverride WRITE setGroupOverride)
public:
    explicit ZPopup(QWidget* parent = nullptr);
    ~ZPopup() override;

    int selectionID() const { return m_selectionID; }
    bool hasSelection() const { return m_hasSelection; }
    void setMenuItems(const std::vector<ZPopupEntry>& entries);
    const std::vector<ZPopupEntry>& menuItems() const { return m_entries; }
    QStringList menuItemList() const;
    // Replaces the list with visible, enabled entries numbered by position.
    void setMenuItemList(const QStringList& texts);
    QSize menuItemSize() const { return m_itemSize; }
    void setMenuItemSize(const QSize& size) { m_itemSize = size; }
    QString groupOverride() const { return m_groupOverride; }
    void setGroupOverride(const QString& text) { m_groupOverride = text; }

    // The open menu (null while closed), its row lengths and its cells, one
    // slot per entry (null for an invisible entry).
    QFrame* popupFrame() const { return m_frame; }
    const std::vector<int>& rowLengths() const { return m_rowLengths; }
    const std::vector<ZPopupItem*>& cells() const { return m_cells; }

    virtual bool isSelectedItem(int id) const { return id == m_selectionID; }
    virtual bool chooseItem(int id);
    virtual void hidePopup();

signals:
    void selectionChanged(int val);
    void signalItemSelected(int id);

public slots:
    virtual bool setSelectionID(int id);
    void dynamicPopup();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildRowLengths();
    void buildCells(int* rows, int* widest);
    void place();
    void hoverCell(ZPopupItem* cell);
    void markSelected(ZPopupItem* cell);
    bool keyPress(ZPopupItem* cell, int key);
    ZPopupItem* cellAt(int group, int position) const;
    ZPopupItem* nextRight(const ZPopupItem* cell) const;
    ZPopupItem* nextLeft(const ZPopupItem* cell) const;
    ZPopupItem* nextDown(const ZPopupItem* cell) const;
    ZPopupItem* nextUp(const ZPopupItem* cell) const;

    QPointer<QFrame> m_frame;
    int m_selectionID = 0;
    bool m_hasSelection = false;
    std::vector<ZPopupEntry> m_entries;
    QSize m_itemSize{40, 13};
    QString m_groupOverride;
    std::vector<int> m_rowLengths;
    int m_longestRow = 0;
    int m_rowCount = 0;
    std::vector<ZPopupItem*> m_cells;
    bool m_pressedInside = false;
};
