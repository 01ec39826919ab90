// Device log of the second-generation Brox units: fetches the current and
// the event summary through the memory handshake and saves both into one
// text file in a folder the user picks.
#pragma once

#include "device/dev_result.h"
#include "dialogs/devloghandshake.h"
#include "widgets/zscaled.h"

#include <QStringList>

class QDialogButtonBox;
class QLabel;

namespace Quil {

class QuilObject;

// Asks for a folder, starting in the user's documents; empty when
// cancelled.
QString chooseLogFolder();

// The form both device log dialogs share.
class DevLogForm {
public:
    void build(QDialog* dialog);
    // Keeps the button box 2 pixels above the bottom edge.
    void place(const QSize& size);

    QLabel* messageLabel = nullptr;
    QDialogButtonBox* buttonBox = nullptr;
};

class DevLogDlg : public ZScaledDialog {
    Q_OBJECT

public:
    explicit DevLogDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~DevLogDlg() override;

    // DEV_E_FAIL when a core is already set or `core` is null; otherwise the
    // OR of the subscriptions' results.
    JResult setup(QuilObject* core, int slot);
    bool applyScale(ZoomCode code) override;

    DevLogHandshake& handshake() { return m_handshake; }
    QLabel* messageLabel() const { return m_form.messageLabel; }
    const QStringList& lines() const { return m_lines; }
    // The file written last; empty until one is saved.
    const QString& savedPath() const { return m_savedPath; }

public slots:
    void slotReceivedItemNum_CurSummary();
    void slotReceivedItem_CurSummary();
    void slotTimeoutRecvData();
    void slotReceivedItemNum_LogSummary();
    void slotReceivedItem_LogSummary();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class List { Current, Event };
    void countReply(List list);
    void itemReply(List list);
    void afterCurrent();
    void finish();
    JResult saveLog();
    void enterFailure();
    SummaryCount& countOf(List list) { return list == List::Current ? m_cur : m_evt; }
    int32_t& indexOf(List list) { return list == List::Current ? m_curIndex : m_evtIndex; }

    DevLogForm m_form;
    DevLogHandshake m_handshake;
    SummaryCount m_cur;
    SummaryCount m_evt;
    int32_t m_curIndex = -1;
    int32_t m_evtIndex = -1;
    QStringList m_lines;
    QString m_savedPath;
};

} // namespace Quil
