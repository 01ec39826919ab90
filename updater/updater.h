// The recovery updater's worker thread: one run connects to the unit, opens
// its update pathway and control authority, then either asks for its name
// and version (connect run) or writes the firmware image (update run), and
// gives the authority back. Everything the user sees leaves through the
// three signals; message codes 1..22 are turned into texts by the window.
#pragma once

#include "updater/recovery_frame.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

class QTcpSocket;
class UpdateFile;

class Updater : public QThread {
    Q_OBJECT
public:
    enum RunMode : int32_t { RunConnect = 1, RunUpdate = 2 };

    // Waits of one run; tests shorten them.
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kWriteTimeoutMs = 10000;
    static constexpr int kReplyTimeoutMs = 60000;
    struct Timeouts {
        int connectMs = kConnectTimeoutMs;
        int writeMs = kWriteTimeoutMs;
        int replyMs = kReplyTimeoutMs;
    };

    // Message codes the engine emits beyond the per-command ones.
    static constexpr uint16_t kCodeConnectFailed = 1;
    static constexpr uint16_t kCodeWriteFailed = 6;
    static constexpr uint16_t kCodeWriteRefused = 14;
    static constexpr uint16_t kCodeConnected = 21;
    static constexpr uint16_t kCodeUpdated = 22;

    explicit Updater(bool bootMode, QObject* parent = nullptr);
    // Waits for a running pass to end.
    ~Updater() override;

    // Called before any run. A destination that is not six bytes is not taken.
    void setTarget(const QString& host, uint16_t port, const QByteArray& destinationMac);
    void setUpdateFile(UpdateFile* file);
    void setTimeouts(const Timeouts& timeouts) { m_timeouts = timeouts; }
    // Stores the mode and starts a pass unless one is running.
    void startCommand(int32_t mode);

    QString deviceName() const;
    QString deviceVersion() const;
    const QString& imageTag() const { return m_imageTag; }
    const QString& versionTag() const { return m_versionTag; }

    // The request message: header with its sum, parameters, data and total sums.
    static QByteArray buildMessage(uint16_t command, uint16_t paramCount, uint16_t commandClass, uint16_t argD,
        uint16_t argE, const QByteArray& params);
    static RecoveryDecode decodeFrame(const QByteArray& frame, QByteArray* message)
    {
        return recovery_decodeFrame(frame, message);
    }

signals:
    void progress(uint32_t pos);
    void sendMessage(uint16_t msgCode);
    void commandCompleted();

protected:
    void run() override;

private:
    bool connectTarget();
    void findLocalMacAddress();
    bool securePathway();
    bool acquireAuthority();
    bool releaseAuthority();
    bool changeUpdateMode(uint8_t flag);
    bool getVersion();
    bool getDeviceName();
    bool disconnectPathway();
    void runConnect();
    void runUpdate();
    bool needsSegmentedWrite() const;
    bool writeFile();
    // One segment per call; *complete once the plan has written its last.
    bool writeFileSegment(bool* complete);
    // The end of the last byte the segment plan for this image writes.
    int64_t plannedEnd() const;

    bool sendFrame(const QByteArray& message, uint32_t offset, int pieceLength, uint16_t frameKind);
    bool receiveFrame(QByteArray* frame);
    bool waitReply(uint16_t replyFailureCode);
    bool checkReply(const QByteArray& message);
    bool sendAndWait(
        const QByteArray& message, uint16_t frameKind, uint16_t sendFailureCode, uint16_t replyFailureCode);

    struct SegmentPlan {
        int64_t offset;
        int64_t length;
        bool complete;
    };
    SegmentPlan segmentFor(uint16_t counter) const;

    std::atomic<int32_t> m_runMode{RunConnect};
    const int32_t m_bootMode;
    std::unique_ptr<QTcpSocket> m_socket;
    QString m_host;
    uint16_t m_port = 0;
    QByteArray m_destinationMac;
    QByteArray m_sourceMac;
    UpdateFile* m_file = nullptr;
    QString m_deviceName;
    QString m_deviceVersion;
    uint16_t m_segmentCounter = 0;
    uint32_t m_segmentOffset = 0;
    uint32_t m_segmentLength = 0;
    const QString m_imageTag;
    const QString m_versionTag;
    RecoveryFrameCutter m_receiveBuffer;
    double m_progressBase = 0;
    double m_progressSpan = 0;

    Timeouts m_timeouts;
    // Name and version are written by the pass and read by the window.
    mutable QMutex m_identityLock;
};
