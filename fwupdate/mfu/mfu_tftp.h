// A TFTP pull: the unit fetches the file from a TFTP server on port 1999 of
// the PC address, rooted at the file's folder. The server's task reports the
// transfer's progress, so the state is kept atomic.
#pragma once

#include "fwupdate/mfu/mfu.h"
#include "fwupdate/tftp/tftp.h"

#include <atomic>
#include <memory>
#include <string>

constexpr uint16_t MFU_TFTP_PORT = 1999;
constexpr size_t MFU_TFTP_ROOT_MAX = 254; // the root is shorter than this

class TransferTFTP : public ITransferProtocol, public TFTPParentCallbackIF {
public:
    explicit TransferTFTP(const char* pcAddress);
    ~TransferTFTP() override;
    TransferTFTP(const TransferTFTP&) = delete;
    TransferTFTP& operator=(const TransferTFTP&) = delete;

    MfuResult destroy() override;
    MfuResult setCallback(ITransfererCallback* callback) override;
    MfuResult setFilePath(const char* path) override;
    MfuResult start() override;
    MfuResult step() override { return MFU_OK; }
    MfuResult end() override;
    uint32_t fileSize() const override { return m_fileSize; }
    uint32_t bytesSent() const override;
    bool finished() const override
    {
        const int32_t state = m_state.load();
        return state == TRANSFER_STATE_FINISHED || state == TRANSFER_STATE_ABORTED;
    }
    int32_t transferState() const override { return m_state.load(); }

    // TFTPParentCallbackIF, on the TFTP task.
    int32_t transferEvent(uint16_t childId, uint32_t event) override;

    // The folder a path's file is served from: up to its last '\' or '/',
    // plus "/"; "./" for a bare name.
    static std::string rootOf(const std::string& path);

private:
    void noteSent();

    std::string m_pcAddress;
    ITransfererCallback* m_callback = nullptr;
    std::string m_path;
    uint32_t m_fileSize = 0;
    std::atomic<int32_t> m_state{TRANSFER_STATE_NONE};
    std::unique_ptr<TFTPServer> m_server;
    // The server as its task sees it: set before it starts, cleared before
    // it is destroyed (its callbacks and destroy never overlap).
    std::atomic<TFTPServer*> m_live{nullptr};
    // The server forgets a child's count once the child ends, so the last
    // count seen is kept.
    std::atomic<uint32_t> m_sent{0};
};
