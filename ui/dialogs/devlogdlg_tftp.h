// Device log of the third-generation Brox units: asks the unit to start
// logging, follows its progress through the memory handshake, then runs a
// TFTP server on the PC and tells the unit where to upload its log files.
#pragma once

#include "fwupdate/tftp/tftp.h"
#include "ui/dialogs/devlogbase.h"

#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

namespace Quil {

class DevLogDlg_TFTP : public DevLogDlgBase, public TFTPParentCallbackIF {
    Q_OBJECT

public:
    static constexpr uint16_t kUploadPort = 1999;

    explicit DevLogDlg_TFTP(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    // Stops the server before anything else goes, so no transfer event can
    // reach a dialog that is half destroyed.
    ~DevLogDlg_TFTP() override;

    // Called on the server's task.
    int32_t transferEvent(uint16_t childId, uint32_t event) override;

    const QString& folder() const { return m_folder; }
    bool hasServer() const { return m_server != nullptr; }

public slots:
    void slotReceivedEvent_LoggingStart();
    void slotReceivedEvent_TftpURI();

private:
    JResult prepare() override;
    void firstRequest() override;
    // The unit's count is taken as it stands.
    uint32_t countLimit() const override { return 0; }
    void itemArrived(List list, const QString& text) override;
    void listDone(List list) override;
    void startUpload();
    void stopServer();
    // The unit's answers that come as a path emptied, each taken once.
    enum class Awaiting { Nothing, LoggingStart, UriTaken };
    bool takeAnswer(Awaiting step, const char* path);
    void appendToLabel(const QString& text);

    QString m_folder;
    Awaiting m_awaiting = Awaiting::Nothing;
    std::unique_ptr<TFTPServer> m_server;
    // Read by the server's task; set while the server may call back.
    std::atomic<bool> m_serving{false};
    // Made on the GUI thread, copied by the server's task.
    const QPointer<DevLogDlg_TFTP> m_self;
};

} // namespace Quil
