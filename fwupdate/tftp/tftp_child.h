// The children that carry one transfer each: TFTPSender for a read,
// TFTPReceiver for a write. A child runs on the TFTP task only; its socket's
// wake-up (service thread) marks it woken and wakes the server.
//
// A child ends once: it reports TFTP_CHILD_FINISHED or TFTP_CHILD_FAILED to
// its server after its last packet (final ACK, ERROR) has left the socket,
// and the server releases it after the child's call has returned.
#pragma once

#include "fwupdate/tftp/tftp.h"
#include "fwupdate/tftp/tftp_file.h"
#include "fwupdate/tftp/tftp_packet.h"
#include "pbd/OSWRAP/oswrap.h"

#include <atomic>
#include <memory>

// Child states.
constexpr uint32_t TFTP_CHILD_NEW = 0;
constexpr uint32_t TFTP_CHILD_SET_UP = 1;
constexpr uint32_t TFTP_CHILD_SENDING = 2; // more blocks to come
constexpr uint32_t TFTP_CHILD_LAST = 3; // last block sent or received
constexpr uint32_t TFTP_CHILD_RECEIVING = 4;
constexpr uint32_t TFTP_CHILD_TIMED_OUT = 5;

// Datagrams read from a socket in one go before the others wait for the
// next round, so one busy peer cannot hold the task.
constexpr int TFTP_READ_BURST = 16;
// Large enough for any datagram the socket service passes on.
constexpr uint32_t TFTP_DATAGRAM_BUFFER = 2048;

struct TFTPPeer {
    VCOM::VComSocketAddress address;
    uint16_t port = 0;
    bool matches(const VCOM::VComSocketAddress& other, uint16_t otherPort) const;
};

// What a child needs of its datagram socket. The program uses the socket
// classes (tftp_makeUdpSocket); the fuzz target a socket in memory.
class TFTPChildSocket {
public:
    virtual int32_t attach(int32_t userId, VCOM::IVComWakeupFunction* wakeup) = 0;
    virtual VCOM::VComResult open(const VCOM::VComSocketAddress& local, uint16_t port) = 0;
    virtual VCOM::VComResult setDestination(const VCOM::VComSocketAddress& address, uint16_t port) = 0;
    // One datagram and its sender; *count 0 when none is queued.
    virtual VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* count, TFTPPeer* from) = 0;
    virtual VCOM::VComResult write(const void* data, uint32_t length, uint32_t* count) = 0;
    // False while a datagram is still on its way out.
    virtual bool canWrite() const = 0;
    virtual VCOM::VComResult processEvents(VCOM::IVComCallback* callback) = 0;
    // The service socket whose input the task waits for itself
    // (vsock_waitInput), or -1 when input is announced by receive events.
    virtual int inputId() const { return -1; }
    virtual ~TFTPChildSocket() = default;
};

std::unique_ptr<TFTPChildSocket> tftp_makeUdpSocket();

class TFTPChild : public VCOM::IVComWakeupFunction, public VCOM::IVComCallback {
public:
    TFTPChild(TFTPChildCallbackIF* server, uint16_t slot, std::unique_ptr<TFTPChildSocket> socket);
    ~TFTPChild() override;
    TFTPChild(const TFTPChild&) = delete;
    TFTPChild& operator=(const TFTPChild&) = delete;
    // Closes the socket while the whole child still stands, so the service
    // thread cannot wake a child that is being destroyed.
    void closeSocket() { m_socket.reset(); }

    // Opens the socket on local:(2000 + slot) towards the peer, then the
    // file. An internal code; on failure the caller calls fail() with it.
    uint8_t start(const VCOM::VComSocketAddress& local, const TFTPPeer& peer, uint8_t mode, const std::string& root,
        const char* name);
    // The first packet: block 1 or ACK 0.
    virtual void begin() = 0;
    // Handles one datagram that arrived on the child's socket.
    void receive(const uint8_t* data, size_t length, const TFTPPeer& from);
    // Resends and time-outs.
    void tick();
    // Runs the socket's pending events when the child was woken.
    void pollIfWoken();
    // The input the task waits for on the child's behalf while the child
    // waits for its peer, else -1.
    int watchedInput() const;
    // The watched input holds a datagram: takes the socket's events, then
    // handles one datagram (the poll reports again while more are queued).
    void serveInput();
    // Sends the code's ERROR packet, where it has one, logs it and ends.
    void fail(uint8_t code);

    uint32_t state() const { return m_state; }
    uint8_t errorCode() const { return m_error; }
    uint16_t slot() const { return m_slot; }
    uint8_t mode() const { return m_mode; }
    uint32_t bytesTransferred() const { return m_bytes; }
    const TFTPPeer& peer() const { return m_peer; }
    bool ended() const { return m_endCode != 0; }

    // VCOM::IVComWakeupFunction
    int32_t wakeup(uint16_t ownerTaskId, VCOM::IVCom* socket) override;
    // VCOM::IVComCallback
    int32_t OnConnected(int32_t, uint8_t) override { return 0; }
    int32_t OnConnectionFailed(int32_t, uint8_t, int32_t) override;
    int32_t OnDisconnected(int32_t, uint8_t) override { return 0; }
    int32_t OnReserved(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t userId, uint8_t reserved) override;
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

protected:
    virtual uint8_t openFile(const std::string& root, const char* name) = 0;
    virtual void onDatagram(const uint8_t* data, size_t length) = 0;
    // The resend timer ran out in a waiting state.
    virtual void onResendDue() = 0;
    virtual bool waitsForPeer() const = 0;

    // Queues one packet; it leaves at once or when the previous one has
    // left. False (and "[ERROR] TFTP : <failureLog>" logged) on failure.
    bool transmit(const uint8_t* packet, size_t length, const char* failureLog);
    // Repeats the last packet with the resend bookkeeping: event 3, or the
    // time-out once the resends are used up.
    void resendOrTimeOut(const char* failureLog);
    void restartTimer();
    // Ends the transfer with TFTP_CHILD_FINISHED or TFTP_CHILD_FAILED, once
    // nothing is left to send.
    void end(uint32_t code);
    void report(uint32_t code) { m_server->childEvent(m_slot, code); }

    TFTPChildCallbackIF* m_server;
    uint16_t m_slot;
    std::unique_ptr<TFTPChildSocket> m_socket;
    uint32_t m_state = TFTP_CHILD_NEW;
    uint8_t m_error = TFTP_ERR_NONE;
    uint8_t m_mode = TFTP_MODE_OTHER;
    TFTPPeer m_peer;
    uint16_t m_block = 0;
    uint32_t m_bytes = 0;
    uint32_t m_resends = 0;
    OswrapTimer m_timer;
    // The last packet handed to the socket (kept for resends).
    uint8_t m_packet[TFTP_DATA_MAX] = {};
    size_t m_packetLength = 0;

private:
    void readDatagrams();
    bool flush();
    void finishEnd();

    std::atomic<bool> m_woken{false};
    bool m_readable = false;
    bool m_outPending = false;
    const char* m_outFailureLog = nullptr;
    uint32_t m_endCode = 0;
    bool m_reported = false;
};

class TFTPSender : public TFTPChild {
public:
    using TFTPChild::TFTPChild;
    void begin() override { sendNextBlock(); }

protected:
    uint8_t openFile(const std::string& root, const char* name) override;
    void onDatagram(const uint8_t* data, size_t length) override;
    void onResendDue() override { resendOrTimeOut("UDP send failed."); }
    bool waitsForPeer() const override { return m_state == TFTP_CHILD_SENDING || m_state == TFTP_CHILD_LAST; }

private:
    void sendNextBlock();

    TFTPFd m_file;
};

class TFTPReceiver : public TFTPChild {
public:
    using TFTPChild::TFTPChild;
    void begin() override;

protected:
    uint8_t openFile(const std::string& root, const char* name) override;
    void onDatagram(const uint8_t* data, size_t length) override;
    void onResendDue() override { resendOrTimeOut("UDP Ack send failed."); }
    bool waitsForPeer() const override { return m_state == TFTP_CHILD_RECEIVING; }

private:
    bool sendAck(uint16_t block);

    TFTPWriteFile m_file;
};
