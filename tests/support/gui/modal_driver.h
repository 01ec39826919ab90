// Answers the modal dialogs and pop-up menus that code under test opens
// while the test waits in that code's call: message boxes by button text,
// Qt's widget file dialogs by a typed file name, menus by item text.
//
// Queue the answers, then make the call that opens the dialogs. While any
// event loop runs, the driver looks every 10 ms for the top modal dialog or
// pop-up menu and, when the next answer fits it, acts with real key events.
// A dialog or menu that no answer fits is dismissed (rejected or closed)
// after the driver's time-out and noted in errors(), so a test never hangs
// on a dialog it did not expect.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <vector>

class QFileDialog;
class QMenu;
class QMessageBox;
class QWidget;

namespace qtest {

class ModalDriver {
public:
    // What the driver found and acted on, in order.
    struct Seen {
        QString kind; // "message", "file" or "menu"
        QString title; // window title, menu title
        QString text; // message text; file dialog folder; menu item texts, one per line
    };

    explicit ModalDriver(int timeoutMs = 5000);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    // Presses the button of the next message box whose text (without '&')
    // is `buttonText`.
    void pressButton(const QString& buttonText);
    // Selects `nameFilter` when given, types `name` (absolute, or relative
    // to the dialog's folder) into the next file dialog and accepts it.
    void typeFileName(const QString& name, const QString& nameFilter = QString());
    // Cancels the next file dialog.
    void cancelFileDialog();
    // Chooses the item with this text (without '&' and shortcut) in the next
    // pop-up menu; an item with a sub-menu opens it for the next answer.
    void chooseMenuItem(const QString& text);

    // Runs the event loop until every queued answer has been used.
    bool waitAllAnswered(int timeoutMs = 5000);
    size_t pendingAnswers() const { return m_answers.size(); }
    const std::vector<Seen>& seen() const { return m_seen; }
    const QStringList& errors() const { return m_errors; }

private:
    enum class Kind { Message, File, Menu };
    struct Answer {
        Kind kind;
        QString text;
        QString filter;
        bool cancel = false;
    };

    void poll();
    void act(const Answer& answer, QWidget* target);
    void answerMessage(const Answer& answer, QMessageBox* box);
    void answerFile(const Answer& answer, QFileDialog* dialog);
    void answerMenu(const Answer& answer, QMenu* menu);
    void dismiss(QWidget* target, const QString& why);

    const int m_timeoutMs;
    QObject m_context; // owns the timer connections and the queued actions
    QTimer m_timer;
    std::deque<Answer> m_answers;
    bool m_acting = false; // an answer is queued to run
    QWidget* m_working = nullptr; // the target an answer is being given to
    QWidget* m_unfit = nullptr; // a target no answer fits, since m_unfitSince
    qint64 m_unfitSince = 0;
    std::vector<Seen> m_seen;
    QStringList m_errors;
};

} // namespace qtest
