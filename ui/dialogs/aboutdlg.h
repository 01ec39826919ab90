// The about box: the program's name, version and rights notice, and the
// way to the legal notices shipped beside the program.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace Quil {

class AboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit AboutDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~AboutDlg() override;

    QLabel* versionLabel() const { return m_lblVersion; }
    QLabel* noticeLabel() const { return m_lblNotice; }
    QPushButton* legalButton() const { return m_btnLegal; }
    QPushButton* okButton() const { return m_btnOk; }

public slots:
    int openLegal();

private:
    QLabel* m_lblVersion = nullptr;
    QLabel* m_lblNotice = nullptr;
    QPushButton* m_btnLegal = nullptr;
    QPushButton* m_btnOk = nullptr;
};

} // namespace Quil
