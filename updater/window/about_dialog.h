// The recovery updater's about box: the program's version, the maker's
// notice, and the way to the legal notices of the program's directory.
#pragma once

#include <QDialog>

class QIcon;
class QLabel;
class QPushButton;

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    QLabel* iconLabel() const { return m_icon; }
    QLabel* versionLabel() const { return m_version; }
    QLabel* noticeLabel() const { return m_notice; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* legalButton() const { return m_legal; }

public slots:
    void on_pushButtonOK_clicked();
    void on_pushButtonLegal_clicked();

private:
    QLabel* m_icon = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_notice = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_legal = nullptr;
};

// The program's icon from the window library's resources.
QIcon updaterIcon();
