// What the two device log dialogs share: the form, the folder choice, and
// the walk through both summary lists over the memory handshake. Each
// dialog says what an item means, where a list ends and how it starts.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/dialogs/devloghandshake.h"
#include "ui/widgets/zscaled.h"

#include <QString>

class QDialogButtonBox;
class QLabel;

namespace Quil {

class QuilObject;

// Asks for a folder, starting in the user's documents; empty when
// cancelled.
QString chooseLogFolder();

class DevLogDlgBase : public ZScaledDialog {
    Q_OBJECT

public:
    // DEV_E_FAIL when a core is already set or `core` is null; otherwise the
    // OR of the subscriptions' results and what the dialog adds to them.
    JResult setup(QuilObject* core, int slot);
    bool applyScale(ZoomCode code) override;

    DevLogHandshake& handshake() { return m_handshake; }
    QLabel* messageLabel() const { return m_messageLabel; }

public slots:
    void slotReceivedItemNum_CurSummary();
    void slotReceivedItem_CurSummary();
    void slotTimeoutRecvData();
    void slotReceivedItemNum_LogSummary();
    void slotReceivedItem_LogSummary();

protected:
    enum class List { Current, Event };
    struct ListState {
        SummaryCount count;
        int32_t index = -1;
    };

    DevLogDlgBase(QWidget* parent, Qt::WindowFlags flags);

    // Subscriptions and choices of the dialog's own, after the lists'.
    virtual JResult prepare() { return DEV_OK; }
    // The request that starts the sequence.
    virtual void firstRequest() = 0;
    // The most items fetched of a list; 0 for no limit.
    virtual uint32_t countLimit() const = 0;
    // A list's count has arrived (before its first item is asked for).
    virtual void countArrived(List) { }
    // An item's text has arrived; ask for the next item or end the list.
    virtual void itemArrived(List list, const QString& text) = 0;
    // After the last item of a list, or at once for an empty one.
    virtual void listDone(List list) = 0;

    ListState& state(List list) { return list == List::Current ? m_cur : m_evt; }
    static const SummaryPaths& pathsOf(List list);
    void requestItem(List list, int32_t index);
    // Requests of the sequence: one the memory refuses reaches no unit and
    // would be awaited for ever, so it ends the sequence as failed.
    void request(const char* path, int32_t value);
    void request(const char* path, const QString& text);
    void enterFailure();
    void setMessage(const QString& text);
    QString message() const;

    void resizeEvent(QResizeEvent* event) override;

private:
    void countReply(List list);
    void itemReply(List list);

    DevLogHandshake m_handshake;
    ListState m_cur;
    ListState m_evt;
    QLabel* m_messageLabel = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
};

} // namespace Quil
