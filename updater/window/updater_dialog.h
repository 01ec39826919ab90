// The recovery updater's window: pick an image, connect to the unit, check
// that it is the unit the image is for, and write the image. The buttons
// allow only what is safe at each moment; the message line shows the
// outcome of every step; the window cannot be closed while a run is active.
#pragma once

#include "fwupdate/package/fwpkg_filemanager.h"
#include "updater/update_file.h"

#include <QDialog>

#include <cstdint>
#include <memory>

class QAction;
class QCloseEvent;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTextEdit;
class Updater;

class UpdaterDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kVersion = "5.8.1.1";

    // Reads the settings of the program directory and offers its image.
    explicit UpdaterDialog(bool bootMode, QWidget* parent = nullptr);
    // Waits for a running pass: the engine writes from the image this holds.
    ~UpdaterDialog() override;

    // False for an empty path (nothing changes), a missing file, a package
    // the reader refuses or an image of a size no unit takes.
    bool setImageFile(const QString& path);
    // The reader's result for the package at path, after its box if any.
    int32_t checkPackage(const QString& path);
    void showImageInfo();
    // The unit of the last connect run is the one the image is for.
    bool isDeviceMatched() const;

    bool isBootMode() const { return m_bootMode; }
    Updater* updater() const { return m_updater.get(); }
    const UpdateFile& imageFile() const { return m_file; }

    QPushButton* selectButton() const { return m_select; }
    QLineEdit* imageNameEdit() const { return m_imageName; }
    QLineEdit* imageVersionEdit() const { return m_imageVersion; }
    QLineEdit* fileNameEdit() const { return m_fileName; }
    QProgressBar* progressBar() const { return m_progress; }
    QTextEdit* messageLine() const { return m_message; }
    QPushButton* connectButton() const { return m_connect; }
    QPushButton* updateButton() const { return m_update; }
    QLineEdit* unitNameEdit() const { return m_unitName; }
    QLineEdit* unitVersionEdit() const { return m_unitVersion; }
    QLineEdit* portEdit() const { return m_port; }
    QLineEdit* addressEdit() const { return m_address; }
    QMenuBar* menuBar() const { return m_menuBar; }
    QAction* aboutAction() const { return m_about; }

public slots:
    void onButtonClickedSelectFile();
    void onButtonClickedConnectTarget();
    void onButtonClickedUpdate();
    void onRcvMsgCode(uint16_t msgCode);
    void onRcvProgress(uint32_t pos);
    void onCommandCompleted();
    void onMenuAbout();
    // Escape ends a dialog here without a close event: the same rule holds.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    QString offeredImage() const;
    void clearUnitAndMessage();
    void setButtons(bool select, bool connect, bool update);
    // Removes the unpacked package; true when no run is active.
    bool mayClose();

    QMenuBar* m_menuBar = nullptr;
    QAction* m_about = nullptr;
    QPushButton* m_select = nullptr;
    QLineEdit* m_imageName = nullptr;
    QLineEdit* m_imageVersion = nullptr;
    QLineEdit* m_fileName = nullptr;
    QProgressBar* m_progress = nullptr;
    QTextEdit* m_message = nullptr;
    QPushButton* m_connect = nullptr;
    QPushButton* m_update = nullptr;
    QLineEdit* m_unitName = nullptr;
    QLineEdit* m_unitVersion = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_address = nullptr;

    const bool m_bootMode;
    std::unique_ptr<Updater> m_updater;
    UpdateFile m_file;
    bool m_matched = false;
    RecoveryFileManager m_fileManager;
};
