#include "ui/widgets/zpopup.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>
#include <cstdint>

ZPopupItem::ZPopupItem(const QString& text, int index, int id, int position, int group, QWidget* parent)
    : QLabel(text, parent)
    , m_index(index)
    , m_id(id)
    , m_position(position)
    , m_group(group)
{
    setAutoFillBackground(true);
    normalPalette = palette();
    hoveredPalette = normalPalette;
    hoveredPalette.setColor(QPalette::Window, QColor(30, 150, 200));
    hoveredPalette.setColor(QPalette::WindowText, Qt::white);
    selectedPalette = normalPalette;
    selectedPalette.setColor(QPalette::Window, QColor(0, 60, 120));
    selectedPalette.setColor(QPalette::WindowText, Qt::white);
    disabledPalette = normalPalette;
    disabledPalette.setColor(QPalette::WindowText, Qt::lightGray);
}

const QPalette& ZPopupItem::restingPalette() const
{
    if (selected)
        return selectedPalette;
    return enabled ? normalPalette : disabledPalette;
}

ZPopup::ZPopup(QWidget* parent)
    : ZButton(parent)
{
    connect(this, &QAbstractButton::pressed, this, &ZPopup::dynamicPopup);
}

ZPopup::~ZPopup()
{
    // Forget the menu before it goes, so its cells' hide events find nothing to tidy.
    QFrame* frame = m_frame;
    m_frame = nullptr;
    m_cells.clear();
    delete frame;
}

void ZPopup::setMenuItems(const std::vector<ZPopupEntry>& entries)
{
    m_entries = entries;
    if (!m_hasSelection)
        return;
    for (const ZPopupEntry& e : m_entries) {
        if (e.id == m_selectionID) {
            setText(e.text);
            break;
        }
    }
}

QStringList ZPopup::menuItemList() const
{
    QStringList texts;
    for (const ZPopupEntry& e : m_entries)
        texts << e.text;
    return texts;
}

void ZPopup::setMenuItemList(const QStringList& texts)
{
    std::vector<ZPopupEntry> entries;
    entries.reserve(static_cast<size_t>(texts.size()));
    for (int i = 0; i < texts.size(); ++i)
        entries.push_back({i, texts[i], true, true});
    setMenuItems(entries);
}

bool ZPopup::setSelectionID(int id)
{
    if (m_hasSelection && id == m_selectionID)
        return true;
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const ZPopupEntry& e) { return e.id == id; });
    if (it == m_entries.end() || !it->enabled)
        return false;
    m_selectionID = id;
    m_hasSelection = true;
    setText(it->text);
    emit selectionChanged(id);
    return true;
}

bool ZPopup::chooseItem(int id)
{
    hidePopup();
    emit signalItemSelected(id);
    return setSelectionID(id);
}

void ZPopup::hidePopup()
{
    if (m_frame)
        m_frame->hide();
}

void ZPopup::buildRowLengths()
{
    m_rowLengths.clear();
    int64_t sum = 0;
    const QStringList parts = m_groupOverride.split(QLatin1Char(';'));
    for (const QString& part : parts) {
        bool ok = false;
        int length = part.toInt(&ok, 10);
        if (!ok || length < 1)
            length = 1;
        m_rowLengths.push_back(length);
        m_longestRow = std::max(m_longestRow, length);
        sum += length;
    }
    for (; sum < static_cast<int64_t>(m_entries.size()); ++sum)
        m_rowLengths.push_back(1);
    m_rowCount = static_cast<int>(m_rowLengths.size());
}

void ZPopup::buildCells(int* rows, int* widest)
{
    const ZoomCode code = scale();
    const int w = m_itemSize.width();
    const int h = m_itemSize.height();
    const QFont cellFont = ZScale::scaleFont(code, 0, unscaledFont());
    m_cells.assign(m_entries.size(), nullptr);
    int g = 0, j = 0, r = 0, c = 0;
    *widest = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const ZPopupEntry& e = m_entries[i];
        if (e.visible) {
            auto* cell = new ZPopupItem(e.text, static_cast<int>(i), e.id, j, g, m_frame);
            cell->setGeometry(ZScale::scaleRect(code, QRect(w * c + 2, h * r + 2, w, h)));
            cell->setFont(cellFont);
            cell->installEventFilter(this);
            if (!e.enabled) {
                cell->enabled = false;
                cell->setPalette(cell->disabledPalette);
            }
            if (m_hasSelection && isSelectedItem(e.id)) {
                markSelected(cell);
                cell->setFocus(Qt::OtherFocusReason);
            }
            m_cells[i] = cell;
            ++c;
        }
        ++j;
        if (j >= m_rowLengths[static_cast<size_t>(g)]) {
            ++g;
            j = 0;
            if (c > 0) {
                *widest = std::max(*widest, c);
                ++r;
                c = 0;
            }
        }
    }
    // Row lengths that add up past the list leave a last, partial row: it
    // counts like any other, so the frame holds its cells.
    if (c > 0) {
        *widest = std::max(*widest, c);
        ++r;
    }
    *rows = r;
}

void ZPopup::place()
{
    const ZoomCode code = scale();
    const QPoint below(0, ZScale::scaleValue(code, unscaledHeight() - 1));
    QPoint at = mapToGlobal(below);
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(at, m_frame->size());
    const QSize size = m_frame->size();
    if (size.width() >= area.width() || at.x() < area.left())
        at.setX(area.left());
    else if (at.x() + size.width() > area.right() + 1)
        at.setX(area.right() - size.width() + 1);
    if (size.height() >= area.height() || at.y() < area.top())
        at.setY(area.top());
    else if (at.y() + size.height() > area.bottom() + 1)
        at.setY(area.bottom() - size.height() + 1);
    m_frame->move(at);
}

void ZPopup::dynamicPopup()
{
    buildRowLengths();
    delete m_frame; // a menu left from before (one that never had cells)
    m_cells.clear();
    m_frame = new QFrame(this, Qt::Popup);
    int rows = 0;
    int widest = 0;
    buildCells(&rows, &widest);
    const ZoomCode code = scale();
    m_frame->resize(ZScale::scaleSize(code, QSize(m_itemSize.width() * widest + 4, m_itemSize.height() * rows + 4)));
    place();
    m_frame->show();
}

void ZPopup::markSelected(ZPopupItem* cell)
{
    if (!cell->enabled || cell->selected)
        return;
    cell->selected = true;
    cell->setPalette(cell->hovered ? cell->hoveredPalette : cell->selectedPalette);
}

void ZPopup::hoverCell(ZPopupItem* target)
{
    for (ZPopupItem* cell : m_cells) {
        if (cell && cell->hovered) {
            cell->clearFocus();
            cell->hovered = false;
            cell->setPalette(cell->restingPalette());
        }
    }
    if (target && !target->hovered) {
        target->setFocus(Qt::OtherFocusReason);
        target->hovered = true;
        target->setPalette(target->hoveredPalette);
    }
}

ZPopupItem* ZPopup::cellAt(int group, int position) const
{
    int64_t index = position;
    for (int a = 0; a < group; ++a)
        index += m_rowLengths[static_cast<size_t>(a)];
    if (index < 0 || index >= static_cast<int64_t>(m_cells.size()))
        return nullptr;
    return m_cells[static_cast<size_t>(index)];
}

ZPopupItem* ZPopup::nextRight(const ZPopupItem* cell) const
{
    const int n = static_cast<int>(m_cells.size());
    for (int i = cell->index() + 1; i < n; ++i)
        if (m_cells[static_cast<size_t>(i)])
            return m_cells[static_cast<size_t>(i)];
    for (int i = 0; i < cell->index(); ++i)
        if (m_cells[static_cast<size_t>(i)])
            return m_cells[static_cast<size_t>(i)];
    return nullptr;
}

ZPopupItem* ZPopup::nextLeft(const ZPopupItem* cell) const
{
    const int n = static_cast<int>(m_cells.size());
    for (int i = cell->index() - 1; i >= 0; --i)
        if (m_cells[static_cast<size_t>(i)])
            return m_cells[static_cast<size_t>(i)];
    for (int i = n - 1; i > cell->index(); --i)
        if (m_cells[static_cast<size_t>(i)])
            return m_cells[static_cast<size_t>(i)];
    return nullptr;
}

ZPopupItem* ZPopup::nextDown(const ZPopupItem* cell) const
{
    const int groups = m_rowCount;
    const int j = cell->position();
    const auto length = [this](int a) { return m_rowLengths[static_cast<size_t>(a)]; };
    for (int a = cell->group() + 1; a < groups; ++a)
        if (length(a) > j)
            if (ZPopupItem* found = cellAt(a, j))
                return found;
    for (int p = j + 1; p < m_longestRow; ++p)
        for (int a = 0; a < groups; ++a)
            if (length(a) > p)
                if (ZPopupItem* found = cellAt(a, p))
                    return found;
    for (int p = 0; p <= j; ++p)
        for (int a = 0; a < groups; ++a)
            if (length(a) > p)
                if (ZPopupItem* found = cellAt(a, p))
                    return found;
    return nullptr;
}

ZPopupItem* ZPopup::nextUp(const ZPopupItem* cell) const
{
    const int groups = m_rowCount;
    const int j = cell->position();
    const auto length = [this](int a) { return m_rowLengths[static_cast<size_t>(a)]; };
    for (int a = cell->group() - 1; a >= 0; --a)
        if (length(a) > j)
            if (ZPopupItem* found = cellAt(a, j))
                return found;
    for (int p = j - 1; p >= 0; --p)
        for (int a = groups - 1; a >= 0; --a)
            if (length(a) > p)
                if (ZPopupItem* found = cellAt(a, p))
                    return found;
    for (int p = m_longestRow - 1; p >= j; --p)
        for (int a = groups - 1; a >= 0; --a)
            if (length(a) == m_longestRow)
                if (ZPopupItem* found = cellAt(a, p))
                    return found;
    return nullptr;
}

bool ZPopup::keyPress(ZPopupItem* cell, int key)
{
    switch (key) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (cell->enabled)
            chooseItem(cell->id());
        return true;
    case Qt::Key_Escape:
    case Qt::Key_Tab:
        hidePopup();
        return true;
    case Qt::Key_Right:
        hoverCell(nextRight(cell));
        return true;
    case Qt::Key_Left:
        hoverCell(nextLeft(cell));
        return true;
    case Qt::Key_Down:
        hoverCell(nextDown(cell));
        return true;
    case Qt::Key_Up:
        hoverCell(nextUp(cell));
        return true;
    default:
        return false;
    }
}

bool ZPopup::eventFilter(QObject* watched, QEvent* event)
{
    auto* cell = qobject_cast<ZPopupItem*>(watched);
    if (!cell)
        return ZButton::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Hide:
        setDown(false);
        if (m_frame) {
            m_frame->deleteLater();
            m_frame = nullptr;
        }
        m_cells.clear();
        return false;
    case QEvent::Enter:
        hoverCell(cell);
        return true;
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && cell->rect().contains(mouse->pos())) {
            m_pressedInside = true;
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !cell->rect().contains(mouse->pos()))
            return false;
        const bool chosen = m_pressedInside;
        m_pressedInside = false;
        if (chosen && cell->enabled) {
            markSelected(cell);
            chooseItem(cell->id());
            return true;
        }
        return false;
    }
    case QEvent::KeyPress:
        return keyPress(cell, static_cast<QKeyEvent*>(event)->key());
    default:
        return false;
    }
}
