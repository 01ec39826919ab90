// The main window's answers to the rack owner's questions: message boxes
// and the setup-file dialogs of the file manager.
#pragma once

#include "app/app_rackquestions.h"
#include "ui/main/filemanager.h"

namespace Quil {

class SetupRack;

class RackDialogs final : public RackQuestions {
public:
    explicit RackDialogs(SetupRack* rack);

    Answer askToSave(const QString& text, bool withCancel) override;
    void warn(const QString& text) override;
    bool modalOpen() const override;

    JResult openFile(QWidget* parent) override { return m_files.open(parent); }
    JResult saveFileAs(QWidget* parent) override { return m_files.saveAs(parent); }
    bool saveIfWanted(QWidget* parent) override { return m_files.saveIfWanted(parent); }
    void setDirty(bool dirty) override { m_files.setDirty(dirty); }
    JResult setDefaultDir(const QString& dir) override { return m_files.setDefaultDir(dir); }
    QString defaultDir() const override { return m_files.defaultDir(); }

    FileManager& files() { return m_files; }

private:
    FileManager m_files;
};

} // namespace Quil
