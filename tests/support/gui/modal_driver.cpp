#include "tests/support/gui/modal_driver.h"

#include "tests/support/gui/gui_support.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

namespace qtest {

namespace {

constexpr int kPollMs = 10;

// The text as the user reads it: no mnemonic marks, no shortcut column.
QString plain(QString text)
{
    const int tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0)
        text.truncate(tab);
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// A click the way a keyboard user makes it: space on the button.
void press(QAbstractButton* button)
{
    QTest::keyClick(button, Qt::Key_Space);
}

QString kindName(QWidget* target)
{
    if (qobject_cast<QMenu*>(target))
        return QStringLiteral("menu");
    if (qobject_cast<QMessageBox*>(target))
        return QStringLiteral("message box");
    if (qobject_cast<QFileDialog*>(target))
        return QStringLiteral("file dialog");
    return QStringLiteral("dialog");
}

// The top pop-up menu, else the top modal dialog (a completer's pop-up in a
// file dialog is neither and is left alone).
QWidget* currentTarget()
{
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        return menu->isVisible() ? menu : nullptr;
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal->isVisible() ? modal : nullptr;
}

} // namespace

ModalDriver::ModalDriver(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] { poll(); });
    m_timer.start(kPollMs);
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::pressButton(const QString& buttonText)
{
    m_answers.push_back({Kind::Message, buttonText, QString(), false});
}

void ModalDriver::typeFileName(const QString& name, const QString& nameFilter)
{
    m_answers.push_back({Kind::File, name, nameFilter, false});
}

void ModalDriver::cancelFileDialog()
{
    m_answers.push_back({Kind::File, QString(), QString(), true});
}

void ModalDriver::chooseMenuItem(const QString& text)
{
    m_answers.push_back({Kind::Menu, text, QString(), false});
}

bool ModalDriver::waitAllAnswered(int timeoutMs)
{
    return waitUntil([this] { return m_answers.empty() && !m_acting && !m_working; }, timeoutMs);
}

void ModalDriver::poll()
{
    if (m_acting)
        return;
    QWidget* target = currentTarget();
    if (target && target == m_working)
        return; // being answered; a dialog it opens is a new target
    if (!target) {
        m_unfit = nullptr;
        return;
    }
    const bool fits = !m_answers.empty()
        && ((m_answers.front().kind == Kind::Message && qobject_cast<QMessageBox*>(target))
            || (m_answers.front().kind == Kind::File && qobject_cast<QFileDialog*>(target))
            || (m_answers.front().kind == Kind::Menu && qobject_cast<QMenu*>(target)));
    if (fits) {
        m_unfit = nullptr;
        const Answer answer = m_answers.front();
        m_answers.pop_front();
        m_acting = true;
        // Acted on from a queued call, not from the timer: the answer may
        // open a nested dialog whose loop needs this timer to keep firing.
        QPointer<QWidget> guarded(target);
        QMetaObject::invokeMethod(
            &m_context,
            [this, answer, guarded] {
                m_acting = false;
                if (guarded) {
                    m_working = guarded;
                    act(answer, guarded);
                    m_working = nullptr;
                } else
                    m_errors << QStringLiteral("the target of an answer went away before it was used");
            },
            Qt::QueuedConnection);
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (target != m_unfit) {
        m_unfit = target;
        m_unfitSince = now;
    } else if (now - m_unfitSince >= m_timeoutMs) {
        m_unfit = nullptr;
        dismiss(target, QStringLiteral("no answer fits this %1").arg(kindName(target)));
    }
}

void ModalDriver::act(const Answer& answer, QWidget* target)
{
    switch (answer.kind) {
    case Kind::Message:
        answerMessage(answer, qobject_cast<QMessageBox*>(target));
        break;
    case Kind::File:
        answerFile(answer, qobject_cast<QFileDialog*>(target));
        break;
    case Kind::Menu:
        answerMenu(answer, qobject_cast<QMenu*>(target));
        break;
    }
}

void ModalDriver::answerMessage(const Answer& answer, QMessageBox* box)
{
    m_seen.push_back({QStringLiteral("message"), box->windowTitle(), box->text()});
    QStringList names;
    for (QAbstractButton* button : box->buttons()) {
        names << plain(button->text());
        if (plain(button->text()) == answer.text && button->isEnabled()) {
            press(button);
            return;
        }
    }
    dismiss(box, QStringLiteral("no button \"%1\" (buttons: %2)").arg(answer.text, names.join(QLatin1String(", "))));
}

void ModalDriver::answerFile(const Answer& answer, QFileDialog* dialog)
{
    m_seen.push_back({QStringLiteral("file"), dialog->windowTitle(), dialog->directory().absolutePath()});
    if (answer.cancel) {
        dialog->reject();
        return;
    }
    if (!answer.filter.isEmpty()) {
        if (!dialog->nameFilters().contains(answer.filter)) {
            dismiss(dialog, QStringLiteral("no filter \"%1\"").arg(answer.filter));
            return;
        }
        dialog->selectNameFilter(answer.filter);
    }
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QAbstractButton* accept = nullptr;
    if (buttons) {
        for (QAbstractButton* button : buttons->buttons()) {
            if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
                accept = button;
        }
    }
    if (!edit || !accept) {
        dismiss(dialog, QStringLiteral("not a widget file dialog"));
        return;
    }
    // The dialog judges a typed name when the text changes, against a
    // folder model it fills on a thread of its own: a name typed before the
    // model has seen the file leaves the button disabled, so it is typed
    // again until the dialog takes it or the time-out passes.
    QPointer<QAbstractButton> guarded(accept);
    const auto typeName = [&] {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, answer.text);
        // The completer may have opened its list over the dialog.
        if (edit->completer() && edit->completer()->popup())
            edit->completer()->popup()->hide();
    };
    // The dialog answers with its selection, which can differ from a typed
    // absolute path on a busy machine (the folder and file dialogs have
    // answered with the root "/"): the path is typed again until the
    // selection is that path, and no completer list is left open to take
    // the button's key.
    const QString typed = QDir::isAbsolutePath(answer.text) ? QDir::cleanPath(answer.text) : QString();
    const auto taken = [&] {
        if (!guarded || !guarded->isEnabled())
            return false;
        const QStringList selected = dialog->selectedFiles();
        return typed.isEmpty() || (!selected.isEmpty() && QDir::cleanPath(selected.first()) == typed);
    };
    typeName();
    QElapsedTimer clock;
    clock.start();
    while (guarded && !taken() && clock.elapsed() < m_timeoutMs) {
        waitUntil([] { return false; }, 50);
        if (guarded)
            typeName();
    }
    if (!guarded)
        return;
    if (!taken()) {
        dismiss(dialog, QStringLiteral("the file dialog does not take \"%1\"").arg(answer.text));
        return;
    }
    if (edit->completer() && edit->completer()->popup())
        edit->completer()->popup()->hide();
    press(accept);
}

void ModalDriver::answerMenu(const Answer& answer, QMenu* menu)
{
    QStringList items;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        items << plain(action->text());
        if (!chosen && plain(action->text()) == answer.text && action->isEnabled() && action->isVisible())
            chosen = action;
    }
    m_seen.push_back({QStringLiteral("menu"), plain(menu->title()), items.join(QLatin1Char('\n'))});
    if (!chosen) {
        dismiss(menu, QStringLiteral("no item \"%1\" (items: %2)").arg(answer.text, items.join(QLatin1String(", "))));
        return;
    }
    menu->setActiveAction(chosen);
    QTest::keyClick(menu, Qt::Key_Return);
}

void ModalDriver::dismiss(QWidget* target, const QString& why)
{
    QString state;
    if (auto* files = qobject_cast<QFileDialog*>(target)) {
        // What the dialog held: tells a name it refused from one never typed.
        const auto* edit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        state = QStringLiteral(" (folder \"%1\", name field \"%2\")")
                    .arg(files->directory().absolutePath(), edit ? edit->text() : QString());
    }
    m_errors << QStringLiteral("%1 \"%2\": %3%4").arg(kindName(target), target->windowTitle(), why, state);
    if (auto* dialog = qobject_cast<QDialog*>(target))
        dialog->reject();
    else
        target->close();
}

} // namespace qtest
