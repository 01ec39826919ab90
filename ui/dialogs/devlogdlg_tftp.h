// Device log of the third-generation Brox units: asks the unit to start
// logging, follows its progress through the memory handshake, then runs a
// TFTP server on the PC and tells the unit where to upload its log files.
#pragma once

#include "device/dev_result.h"
#include "dialogs/devlogdlg.h"
#include "dialogs/devloghandshake.h"
#include "tftp/tftp.h"
#include "widgets/zscaled.h"

#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

namespace Quil {

class QuilObject;

class DevLogDlg_TFTP : public ZScaledDialog, public TFTPParentCallbackIF {
    Q_OBJECT

public:
    static constexpr uint16_t kUploadPort = 1999;

    explicit DevLogDlg_TFTP(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    // Stops the server before anything else goes, so no transfer event can
    // reach a dialog that is half destroyed.
    ~DevLogDlg_TFTP() override;

    // DEV_E_FAIL when a core is already set or `core` is null; otherwise the
    // OR of the subscriptions' results and the folder choice.
    JResult setup(QuilObject* core, int slot);
    bool applyScale(ZoomCode code) override;

    // Called on the server's task.
    int32_t transferEvent(uint16_t childId, uint32_t event) override;

    DevLogHandshake& handshake() { return m_handshake; }
    QLabel* messageLabel() const { return m_form.messageLabel; }
    const QString& folder() const { return m_folder; }
    bool hasServer() const { return m_server != nullptr; }

public slots:
    void slotReceivedItemNum_CurSummary();
    void slotReceivedItem_CurSummary();
    void slotTimeoutRecvData();
    void slotReceivedItemNum_LogSummary();
    void slotReceivedItem_LogSummary();
    void slotReceivedEvent_LoggingStart();
    void slotReceivedEvent_TftpURI();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class List { Current, Event };
    void countReply(List list);
    void itemReply(List list);
    void startUpload();
    void finish();
    void enterFailure();
    void stopServer();
    void appendToLabel(const QString& text);

    DevLogForm m_form;
    DevLogHandshake m_handshake;
    SummaryCount m_cur;
    SummaryCount m_evt;
    int32_t m_curIndex = -1;
    int32_t m_evtIndex = -1;
    QString m_folder;
    std::unique_ptr<TFTPServer> m_server;
    // Read by the server's task; set while the server may call back.
    std::atomic<bool> m_serving{false};
    // Made on the GUI thread, copied by the server's task.
    const QPointer<DevLogDlg_TFTP> m_self;
};

} // namespace Quil
