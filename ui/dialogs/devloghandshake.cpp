#include "ui/dialogs/devloghandshake.h"

#include "app/app_quilobject.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"

namespace Quil {

DevLogHandshake::DevLogHandshake(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &DevLogHandshake::timedOut);
}

JResult DevLogHandshake::attach(QuilObject* core, int slot)
{
    if (m_core || !core)
        return DEV_E_FAIL;
    m_core = core;
    m_slot = slot;
    return DEV_OK;
}

void DevLogHandshake::fail()
{
    m_timer.stop();
    m_failed = true;
    emit sequenceFailed();
}

JResult DevLogHandshake::resetLists(const SummaryPaths* const* lists, int count)
{
    JResult result = DEV_OK;
    for (int i = 0; i < count; ++i) {
        result |= writeInt(lists[i]->numReq, 0);
        result |= writeInt(lists[i]->itemReq, -1);
    }
    for (int i = 0; i < count; ++i) {
        result |= writeInt(lists[i]->numReceived, 0);
        result |= writeInt(lists[i]->itemReceived, 0);
    }
    return result;
}

IZDev* DevLogHandshake::device() const
{
    return m_core ? m_core->rackDevice(m_slot) : nullptr;
}

JResult DevLogHandshake::writeInt(const char* path, int32_t value)
{
    if (!m_core)
        return DEV_E_FAIL;
    return m_core->setValue(m_slot, QString::fromLatin1(path), JLIB::JVariant(value), SOURCE_UI);
}

JResult DevLogHandshake::writeText(const char* path, const QString& text)
{
    if (!m_core)
        return DEV_E_FAIL;
    const QByteArray bytes = text.toUtf8();
    JLIB::JVariant value(bytes.constData(), static_cast<uint32_t>(bytes.size()));
    if (value.type() != JLIB::JVARIANT_STRING)
        return DEV_E_FAIL;
    return m_core->setValue(m_slot, QString::fromLatin1(path), value, SOURCE_UI);
}

JResult DevLogHandshake::requestInt(const char* path, int32_t value)
{
    return startWaiting(writeInt(path, value));
}

JResult DevLogHandshake::requestText(const char* path, const QString& text)
{
    return startWaiting(writeText(path, text));
}

JResult DevLogHandshake::startWaiting(JResult written)
{
    // A write that failed asks nothing of the unit, so nothing is awaited.
    if (written >= 0)
        m_timer.start(m_timeoutMs);
    return written;
}

JResult DevLogHandshake::read(const char* path, JLIB::JVariant* value)
{
    return m_core ? m_core->getValue(m_slot, QString::fromLatin1(path), value) : DEV_E_FAIL;
}

JResult DevLogHandshake::readInt(const char* path, int32_t* out)
{
    JLIB::JVariant value;
    const JResult result = read(path, &value);
    if (result < 0)
        return result;
    bool ok = false;
    const uint32_t word = value.toInteger(&ok);
    if (!ok)
        return DEV_E_FAIL;
    *out = static_cast<int32_t>(word);
    return result;
}

JResult DevLogHandshake::readText(const char* path, QString* out)
{
    JLIB::JVariant value;
    const JResult result = read(path, &value);
    if (result < 0)
        return result;
    bool ok = false;
    const char* text = value.getString(&ok);
    if (!ok)
        return DEV_E_FAIL;
    *out = QString::fromUtf8(text ? text : "");
    return result;
}

HandshakeReply DevLogHandshake::takeReply(const char* receivedPath)
{
    int32_t flag = 0;
    if (readInt(receivedPath, &flag) < 0)
        return HandshakeReply::None;
    if (flag == -1)
        return HandshakeReply::Failed;
    if (flag != 1)
        return HandshakeReply::None;
    m_timer.stop();
    writeInt(receivedPath, 0);
    return HandshakeReply::Reply;
}

bool DevLogHandshake::acceptReply(const char* receivedPath)
{
    if (!m_core || m_failed)
        return false;
    switch (takeReply(receivedPath)) {
    case HandshakeReply::Reply:
        return true;
    case HandshakeReply::Failed:
        fail();
        return false;
    case HandshakeReply::None:
        break;
    }
    return false;
}

JResult DevLogHandshake::readCount(const SummaryPaths& list, uint32_t limit, SummaryCount* out)
{
    int32_t count = 0;
    int32_t start = 0;
    int32_t end = 0;
    JResult result = readInt(list.num, &count);
    if (result >= 0)
        result = readInt(list.start, &start);
    if (result >= 0)
        result = readInt(list.end, &end);
    if (result < 0)
        return result;
    if (limit != 0 && static_cast<uint32_t>(count) > limit)
        count = static_cast<int32_t>(limit);
    out->count = count;
    out->start = start;
    return result;
}

uint32_t handshakePercent(int32_t index, int32_t start, int32_t count)
{
    if (count == 0)
        return 0;
    const uint32_t done = static_cast<uint32_t>(index) - static_cast<uint32_t>(start) + 1u;
    return done * 100u / static_cast<uint32_t>(count);
}

bool handshakeIsLast(int32_t index, int32_t start, int32_t count)
{
    return !(static_cast<int64_t>(index) < static_cast<int64_t>(start) + count - 1);
}

} // namespace Quil
