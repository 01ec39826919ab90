// Device log of the second-generation Brox units: fetches the current and
// the event summary through the memory handshake and saves both into one
// text file in a folder the user picks.
#pragma once

#include "ui/dialogs/devlogbase.h"

#include <QStringList>

namespace Quil {

class DevLogDlg : public DevLogDlgBase {
    Q_OBJECT

public:
    explicit DevLogDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~DevLogDlg() override;

    const QStringList& lines() const { return m_lines; }
    // The file written last; empty until one is saved.
    const QString& savedPath() const { return m_savedPath; }

private:
    void firstRequest() override;
    uint32_t countLimit() const override { return kSummaryLineLimit; }
    void countArrived(List list) override;
    void itemArrived(List list, const QString& text) override;
    void listDone(List list) override;
    JResult saveLog();

    QStringList m_lines;
    QString m_savedPath;
};

} // namespace Quil
