#include "ui/main/rackdialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace Quil {

namespace {

const char* const kConfirmationTitle = "Confirmation";

} // namespace

RackDialogs::RackDialogs(SetupRack* rack)
    : m_files(rack)
{
}

RackQuestions::Answer RackDialogs::askToSave(const QString& text, bool withCancel)
{
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel)
        buttons |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kConfirmationTitle), text, buttons);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void RackDialogs::warn(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kConfirmationTitle), text, QMessageBox::Ok);
    box.exec();
}

bool RackDialogs::modalOpen() const
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) && QApplication::activeModalWidget();
}

} // namespace Quil
