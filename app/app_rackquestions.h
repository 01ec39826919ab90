// What the rack owner asks the user, and the setup-file flows it starts: the
// main window answers them with message boxes and file dialogs
// (ui/main/rackdialogs.h), so the rack model itself needs no widgets and
// tests can answer for the user. A rack without one asks nothing: every
// question is answered No, warnings are dropped and the file flows fail.
#pragma once

#include "device/memory/dev_result.h"

#include <QString>

class QWidget;

namespace Quil {

class RackQuestions {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~RackQuestions() = default;

    // A "Confirmation" question with Yes (the default) and No, and Cancel
    // when `withCancel`; escape answers Cancel, or No without it.
    virtual Answer askToSave(const QString& text, bool withCancel) = 0;
    // A "Confirmation" warning with OK; returns once the user closed it.
    virtual void warn(const QString& text) = 0;
    // A modal window is open: found units wait until it is closed.
    virtual bool modalOpen() const = 0;

    // The setup-file flows, each with its own questions.
    virtual JResult openFile(QWidget* parent) = 0;
    virtual JResult saveFileAs(QWidget* parent) = 0;
    // The save question before leaving; false when the user stopped there.
    virtual bool saveIfWanted(QWidget* parent) = 0;
    virtual void setDirty(bool dirty) = 0;
    virtual JResult setDefaultDir(const QString& dir) = 0;
    virtual QString defaultDir() const = 0;
};

} // namespace Quil
