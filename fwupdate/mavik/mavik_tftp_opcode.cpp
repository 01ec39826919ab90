// The handlers of the four packet kinds.
#include "fwupdate/mavik/mavik_tftp.h"

namespace MavikTftp {

namespace {

const char* const kModes[] = {"netascii", "octet", "mail"};

quint16 numberAt(const QByteArray& bytes)
{
    return static_cast<quint16>((static_cast<quint8>(bytes[0]) << 8) | static_cast<quint8>(bytes[1]));
}

// Sends the next block of the read; the code to answer with.
quint8 sendNextBlock(Sender* sender)
{
    QByteArray block;
    if (sender->readBlock(&block) < 0)
        return MAVIK_TFTP_E_NOT_FOUND;
    const quint16 next = static_cast<quint16>(sender->block() + 1);
    // An unsent block is resent by the timer like a lost one.
    sender->send(mavikTftp_data(next, block));
    sender->setBlock(next);
    return MAVIK_TFTP_OK;
}

} // namespace

Opcode::Opcode(TFTPServer_Mavik* server)
    : m_server(server)
{
}

quint8 OpcodeReadReq::handle(const QByteArray& bytes, Sender* sender)
{
    const int end = bytes.indexOf('\0');
    const QByteArray name = end < 0 ? bytes : bytes.left(end);
    if (name.isEmpty())
        return MAVIK_TFTP_E_NOT_FOUND;
    QByteArray mode = end < 0 ? QByteArray() : bytes.mid(end + 1);
    const int modeEnd = mode.indexOf('\0');
    if (modeEnd >= 0)
        mode.truncate(modeEnd);
    for (int index = 0; index < 3; ++index) {
        if (mode.compare(kModes[index], Qt::CaseInsensitive) == 0)
            return serve(name, index, sender);
    }
    return MAVIK_TFTP_E_UNKNOWN_ID;
}

quint8 OpcodeReadReq::serve(const QByteArray& name, int mode, Sender* sender)
{
    const quint8 code = sender->openForRead(name, mode);
    if (code != MAVIK_TFTP_OK)
        return code;
    sender->setBlock(0);
    return sendNextBlock(sender);
}

quint8 OpcodeWriteReq::serve(const QByteArray& name, int /*mode*/, Sender* sender)
{
    const quint8 code = sender->openForWrite(name);
    if (code != MAVIK_TFTP_OK)
        return code;
    sender->setBlock(0);
    sender->send(mavikTftp_ack(0));
    return MAVIK_TFTP_OK;
}

quint8 OpcodeAck::handle(const QByteArray& bytes, Sender* sender)
{
    if (bytes.size() < 2 || sender->kind() != Sender::Kind::Read)
        return MAVIK_TFTP_E_ILLEGAL;
    // A delayed or repeated ACK: answering it would send every later block
    // twice; the timer resends a block that was really lost.
    if (numberAt(bytes) != sender->block())
        return MAVIK_TFTP_OK;
    if (!sender->fileOpen()) {
        server()->removeSender(sender->peerPort());
        return MAVIK_TFTP_OK;
    }
    return sendNextBlock(sender);
}

quint8 OpcodeData::handle(const QByteArray& bytes, Sender* sender)
{
    if (bytes.size() < 2 || sender->kind() != Sender::Kind::Write)
        return MAVIK_TFTP_E_ILLEGAL;
    const quint16 block = numberAt(bytes);
    if (block != static_cast<quint16>(sender->block() + 1) || !sender->fileOpen())
        return MAVIK_TFTP_E_ILLEGAL;
    const QByteArray payload = bytes.mid(2);
    if (payload.size() > MAVIK_TFTP_BLOCK_SIZE)
        return MAVIK_TFTP_E_ILLEGAL;
    const quint8 code = sender->writeBlock(payload);
    if (code != MAVIK_TFTP_OK)
        return code;
    sender->send(mavikTftp_ack(block));
    sender->setBlock(block);
    return MAVIK_TFTP_OK;
}

} // namespace MavikTftp
