// The legal notices of the libraries the program links, read from
// "Legal/legal.txt" beside the executable.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class QPlainTextEdit;

namespace Quil {

class LegalDlg : public QDialog {
    Q_OBJECT

public:
    explicit LegalDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~LegalDlg() override;

    // The file the dialog reads.
    static QString legalTextPath();

    QPlainTextEdit* textArea() const { return m_textArea; }
    // 0, or 0x80000000 when the file could not be read.
    int loadResult() const { return m_loadResult; }

private:
    int load();

    QPlainTextEdit* m_textArea = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    int m_loadResult = 0;
};

} // namespace Quil
