// Fetches a unit's current summary line by line through the memory
// handshake and shows it in a scrollable text view.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/dialogs/devloghandshake.h"

#include <QDialog>
#include <QStringList>

class QDialogButtonBox;
class QLabel;
class QScrollArea;

namespace Quil {

class QuilObject;

class SummaryDlg : public QDialog {
    Q_OBJECT

public:
    explicit SummaryDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~SummaryDlg() override;

    // DEV_E_FAIL when a core is already set or `core` is null; otherwise the
    // first request's result, or 0 when the dialog opens failed.
    JResult setup(QuilObject* core, int slot);

    DevLogHandshake& handshake() { return m_handshake; }
    QLabel* messageLabel() const { return m_messageLabel; }
    QDialogButtonBox* buttonBox() const { return m_buttonBox; }
    QScrollArea* textView() const { return m_textView; }
    QLabel* textLabel() const { return m_textLabel; }
    const QStringList& lines() const { return m_lines; }

public slots:
    void slotReceivedItemNum();
    void slotReceivedItem();
    void slotTimeoutRecvData();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void requestLine(int32_t index);
    void showSummary();
    void enterFailure();

    DevLogHandshake m_handshake;
    SummaryCount m_count;
    int32_t m_index = -1;
    QStringList m_lines;
    QLabel* m_messageLabel = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    QScrollArea* m_textView = nullptr;
    QLabel* m_textLabel = nullptr;
};

} // namespace Quil
