// The legal notices of the libraries the program links, read from
// "Legal/legal.txt" in the program's directory: beside the executable unless
// the program names another directory.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class QPlainTextEdit;

namespace Quil {

class LegalDlg : public QDialog {
    Q_OBJECT

public:
    explicit LegalDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    // Reads the notices under `programDirectory` (beside the executable when empty).
    explicit LegalDlg(const QString& programDirectory, QWidget* parent = nullptr);
    ~LegalDlg() override;

    // The file the dialog reads for a program directory (empty: the executable's).
    static QString legalTextPath(const QString& programDirectory = QString());

    QPlainTextEdit* textArea() const { return m_textArea; }
    // 0, or 0x80000000 when the file could not be read.
    int loadResult() const { return m_loadResult; }

private:
    void build();
    int load(const QString& programDirectory);

    QPlainTextEdit* m_textArea = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    int m_loadResult = 0;
};

} // namespace Quil
