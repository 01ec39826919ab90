#include "fwupdate/mfu/mfu_tftp.h"

#include "pbd/fsw/fsw.h"

#include <cstring>

TransferTFTP::TransferTFTP(const char* pcAddress)
    : m_pcAddress(pcAddress ? pcAddress : "")
{
}

TransferTFTP::~TransferTFTP()
{
    destroy();
}

MfuResult TransferTFTP::destroy()
{
    return end();
}

MfuResult TransferTFTP::setCallback(ITransfererCallback* callback)
{
    if (!callback)
        return MFU_E_FAIL;
    m_callback = callback;
    return MFU_OK;
}

MfuResult TransferTFTP::setFilePath(const char* path)
{
    if (!path || strnlen(path, TRANSFER_PATH_MAX + 1) > TRANSFER_PATH_MAX)
        return MFU_E_FAIL;
    m_path = path;
    return MFU_OK;
}

std::string TransferTFTP::rootOf(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/");
    // A bare name lies in the working folder; serving "/" would offer the
    // whole file system to the network.
    if (cut == std::string::npos)
        return "./";
    return path.substr(0, cut) + "/";
}

MfuResult TransferTFTP::start()
{
    if (m_path.empty())
        return MFU_E_FAIL;
    const std::string root = rootOf(m_path);
    if (root.size() >= MFU_TFTP_ROOT_MAX) {
        mfu_log("[ERROR] TransferTFTP : folder name too long");
        return MFU_E_FAIL;
    }
    uint32_t size = 0;
    if (fsw_getFileSize(&size, m_path.c_str()) < 0) {
        mfu_logf("[ERROR] TransferTFTP : cannot read %s", m_path.c_str());
        return MFU_E_FAIL;
    }
    end();
    m_fileSize = size;
    m_sent = 0;
    auto server = std::make_unique<TFTPServer>();
    m_live = server.get();
    if (server->setup(m_pcAddress.c_str(), MFU_TFTP_PORT, root.c_str(), this) != TFTP_OK
        || server->start() != TFTP_OK) {
        m_live = nullptr;
        server->destroy();
        mfu_logf("[ERROR] TransferTFTP : cannot serve on %s port %u", m_pcAddress.c_str(), MFU_TFTP_PORT);
        return MFU_E_FAIL;
    }
    m_state = TRANSFER_STATE_TRANSFERRING;
    m_server = std::move(server);
    return MFU_OK;
}

MfuResult TransferTFTP::end()
{
    if (m_server) {
        noteSent();
        m_live = nullptr;
        m_server->destroy();
        m_server.reset();
    }
    return MFU_OK;
}

void TransferTFTP::noteSent()
{
    const TFTPServer* server = m_live.load();
    const uint32_t now = server ? server->bytesSentByChild(0) : 0;
    uint32_t seen = m_sent.load();
    while (now > seen && !m_sent.compare_exchange_weak(seen, now)) { }
}

uint32_t TransferTFTP::bytesSent() const
{
    const TFTPServer* server = m_live.load();
    const uint32_t now = server ? server->bytesSentByChild(0) : 0;
    return now > m_sent.load() ? now : m_sent.load();
}

int32_t TransferTFTP::transferEvent(uint16_t, uint32_t event)
{
    noteSent();
    switch (event) {
    // The line is written before the state is published: whoever sees the
    // transfer finished also finds its line in the log.
    case TFTP_EVENT_FINISHED:
        mfu_log("!!!!TRANSFER_STATE_FINISHED #1");
        m_state = TRANSFER_STATE_FINISHED;
        return MFU_OK;
    case TFTP_EVENT_ABORTED:
        mfu_log("[ERROR] !!!!TRANSFER_STATE_ABORTED #1");
        m_state = TRANSFER_STATE_ABORTED;
        return MFU_E_FAIL;
    case TFTP_EVENT_STARTED:
    case TFTP_EVENT_RESENT:
    case TFTP_EVENT_BLOCK_SENT:
        m_state = TRANSFER_STATE_TRANSFERRING;
        return MFU_OK;
    default:
        m_state = TRANSFER_STATE_STARTED;
        return MFU_OK;
    }
}
