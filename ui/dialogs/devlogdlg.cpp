#include "ui/dialogs/devlogdlg.h"

#include "app/app_quilobject.h"
#include "device/layouts/dev_modeltypes.h"

#include <QDateTime>
#include <QSaveFile>

namespace Quil {

DevLogDlg::DevLogDlg(QWidget* parent, Qt::WindowFlags flags)
    : DevLogDlgBase(parent, flags)
{
    setWindowTitle(tr("Device Log"));
    setMessage(tr("Getting Device Log ..."));
}

DevLogDlg::~DevLogDlg() = default;

void DevLogDlg::firstRequest()
{
    request(kCurSummaryPaths.numReq, 1);
}

void DevLogDlg::countArrived(List list)
{
    if (list != List::Event)
        return;
    m_lines.append(QStringLiteral("[EVENT_LOGS]"));
    m_lines.append(QStringLiteral("TOTAL_LINES = ") + QString::number(state(list).count.count));
}

void DevLogDlg::itemArrived(List list, const QString& text)
{
    m_lines.append(text);
    ListState& s = state(list);
    // Each list fills one half of the bar.
    const uint32_t half = list == List::Current ? 0 : 50;
    setMessage(tr("Device Log %1%").arg(handshakePercent(s.index, s.count.start, s.count.count) / 2 + half));
    if (s.index < 0) {
        enterFailure();
        return;
    }
    if (!handshakeIsLast(s.index, s.count.start, s.count.count))
        requestItem(list, ++s.index);
    else
        listDone(list);
}

void DevLogDlg::listDone(List list)
{
    if (list == List::Current) {
        m_lines.append(QString());
        m_lines.append(QString());
        if (!handshake().failed())
            request(kEvtSummaryPaths.numReq, 1);
        return;
    }
    setMessage(tr("Device Log %1%").arg(100));
    if (saveLog() >= 0)
        hide();
}

JResult DevLogDlg::saveLog()
{
    const QString folder = chooseLogFolder();
    if (folder.isEmpty())
        return DEV_E_FAIL;
    const char* model = modelNameOf(handshake().core()->modelType(handshake().slot()));
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = QString::fromLatin1(model ? model : "") + QLatin1Char('_')
        + now.toString(QStringLiteral("yyyyMMdd")) + now.toString(QStringLiteral("hhmm")) + QStringLiteral(".log");
    const QString path = folder + QLatin1Char('/') + name;

    // Written beside the target and renamed over it only when complete, so
    // a failed save never damages a log saved earlier.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        enterFailure();
        return DEV_E_FAIL;
    }
    QByteArray bytes;
    for (const QString& line : qAsConst(m_lines))
        bytes += line.toUtf8() + "\r\n";
    // commit() does not see a write that fails while the buffer is flushed
    // on close: flush first, so a short write never replaces the old file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        enterFailure();
        return DEV_E_FAIL;
    }
    m_savedPath = path;
    return DEV_OK;
}

} // namespace Quil
