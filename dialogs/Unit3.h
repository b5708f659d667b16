// SPDX-License-Identifier: BSD-3-Clause
// TDestFolderForm: the dialog that chooses the destination folder.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

#include <memory>

namespace Ui {
class TDestFolderForm;
}

class TDestFolderForm : public QDialog {
    Q_OBJECT

  public:
    explicit TDestFolderForm(QWidget* parent = nullptr);
    ~TDestFolderForm() override;

    Ui::TDestFolderForm& ui() { return *ui_; }

    // The folder list's current folder, a full path in the system's notation, without a
    // trailing separator except for a root ("/", "C:\").
    QString currentFolder() const;
    // Opens folder in the list: it becomes the current folder and the process's working
    // directory. Returns false, changing nothing, when it cannot be entered.
    bool setCurrentFolder(const QString& folder);

    // Whether a mounted volume is offered in the Drives list: disks, removable media and
    // network shares, as a file manager shows them; not memory file systems, the kernel's
    // own, package images (loop and squashfs mounts) or the system's internal mounts.
    static bool isUserVolume(const QByteArray& device, const QByteArray& fileSystemType,
                             const QString& rootPath);

    // Run each time the dialog is shown: focus on OK, placed against the main window.
    void FormShow();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fillFolderList();
    void fillDriveList();
    void selectDriveOf(const QString& folder);
    void DestDriveChange(int index);
    QString driveOf(const QString& folder) const;

    std::unique_ptr<Ui::TDestFolderForm> ui_;
    QString current_; // in Qt notation ('/' separators)
    // The folder last browsed on each volume, so that choosing a volume again returns there.
    QHash<QString, QString> driveFolders_;
    bool hasBeenShown_ = false;
};

// Created once at start-up and kept until the program ends.
extern TDestFolderForm* DestFolderForm;
