// SPDX-License-Identifier: BSD-3-Clause
// TDestFolderForm: the dialog that chooses the destination folder.
#include "Unit3.h"

#include "short_path.h"
#include "ui_Unit3.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QWindow>

#include <algorithm>

TDestFolderForm* DestFolderForm = nullptr;

namespace {

constexpr int kItemHeight = 16;
constexpr int kIndent = 8; // pixels per folder level
constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;

// Draws each folder indented by its depth below the root, in rows of a fixed height.
class FolderItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted = option;
        shifted.rect.setLeft(option.rect.left() + kIndent * index.data(kLevelRole).toInt());
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kItemHeight);
        return size;
    }
};

// The chain from the root down to folder: "/", "/home", "/home/user"; "C:/", "C:/Music".
QStringList ancestorsOf(const QString& folder) {
    QStringList chain;
    QDir dir(folder);
    chain.prepend(dir.absolutePath());
    while (dir.cdUp())
        chain.prepend(dir.absolutePath());
    return chain;
}

QString shownName(const QString& folder) {
    const QString name = QFileInfo(folder).fileName();
    return name.isEmpty() ? QDir::toNativeSeparators(folder) : name;
}

} // namespace

TDestFolderForm::TDestFolderForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TDestFolderForm>()) {
    ui_->setupUi(this);
    setObjectName("DestFolderForm");
    // A fixed dialog frame with only a close box, above other windows.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(265, 224);
    if (parent) setFont(parent->window()->font());

    QListWidget* list = ui_->DestFolder;
    list->setAccessibleName("Folders");
    ui_->DestDrive->setAccessibleName("Drives");
    ui_->FilePathLabel->setAccessibleDescription("Chosen folder");
    list->setItemDelegate(new FolderItemDelegate(list));
    list->setIconSize(QSize(14, 14));
    list->installEventFilter(this);
    connect(list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setCurrentFolder(item->data(kPathRole).toString()); });

    connect(ui_->DestDrive, &QComboBox::activated, this, &TDestFolderForm::DestDriveChange);
    // Enter accepts the folder shown, wherever the focus is (the folder list keeps Enter
    // for opening a folder).
    ui_->OKButton->setDefault(true);
    connect(ui_->OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    fillDriveList();
    // The folder list is filled when the dialog is shown (or browsed): reading folders and
    // looking up their icons in the desktop's theme is work that a run which never opens
    // the dialog does not need.
    current_ = QDir::currentPath();
    selectDriveOf(current_);
}

TDestFolderForm::~TDestFolderForm() = default;

QString TDestFolderForm::currentFolder() const {
    return QDir::toNativeSeparators(current_);
}

bool TDestFolderForm::setCurrentFolder(const QString& folder) {
    const QString path = QDir::cleanPath(QDir(current_).absoluteFilePath(folder));
    if (!QFileInfo(path).isDir() || !QDir::setCurrent(path)) return false;
    current_ = path;
    driveFolders_[driveOf(path)] = path;
    fillFolderList();
    selectDriveOf(path);
    return true;
}

void TDestFolderForm::fillFolderList() {
    QListWidget* list = ui_->DestFolder;
    list->clear();
    QStyle* style = list->style();
    const QIcon openIcon = style->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style->standardIcon(QStyle::SP_DirClosedIcon);

    const QStringList chain = ancestorsOf(current_);
    int level = 0;
    for (const QString& folder : chain) {
        auto* item = new QListWidgetItem(openIcon, shownName(folder), list);
        item->setData(kPathRole, folder);
        item->setData(kLevelRole, level++);
        item->setToolTip(QDir::toNativeSeparators(folder));
    }
    list->setCurrentRow(list->count() - 1);

    const QFileInfoList subfolders = QDir(current_).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& sub : subfolders) {
        auto* item = new QListWidgetItem(closedIcon, sub.fileName(), list);
        item->setData(kPathRole, sub.absoluteFilePath());
        item->setData(kLevelRole, level);
        item->setToolTip(QDir::toNativeSeparators(sub.absoluteFilePath()));
    }

    QLabel* label = ui_->FilePathLabel;
    label->setText(shortenPath(currentFolder(), label->fontMetrics(), label->width()));
}

void TDestFolderForm::fillDriveList() {
    QComboBox* drives = ui_->DestDrive;
    drives->clear();
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady() &&
            isUserVolume(volume.device(), volume.fileSystemType(), volume.rootPath()))
            roots << volume.rootPath();
    // The volumes of the root and of the home folder are always there, whatever they are.
    if (!roots.contains(QDir::rootPath())) roots << QDir::rootPath();
    const QStorageInfo home(QDir::homePath());
    if (home.isValid() && home.isReady() && !roots.contains(home.rootPath()))
        roots << home.rootPath();
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    for (const QString& root : roots)
        drives->addItem(QDir::toNativeSeparators(root), root);
}

bool TDestFolderForm::isUserVolume(const QByteArray& device, const QByteArray& fileSystemType,
                                   const QString& rootPath) {
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    Q_UNUSED(fileSystemType);
    Q_UNUSED(rootPath);
    return true;
#else
    static const QByteArrayList kHidden = {
        "tmpfs",       "devtmpfs",        "ramfs",      "squashfs",   "overlay",
        "proc",        "sysfs",           "devpts",     "cgroup",     "cgroup2",
        "debugfs",     "tracefs",         "securityfs", "pstore",     "bpf",
        "autofs",      "mqueue",          "hugetlbfs",  "fusectl",    "configfs",
        "efivarfs",    "binfmt_misc",     "nsfs",       "rpc_pipefs", "fuse.snapfuse",
        "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs"};
    if (kHidden.contains(fileSystemType)) return false;
    if (device.startsWith("/dev/loop")) return false;
    // Removable media are mounted under /run/media on some systems; the rest of these
    // folders belong to the system.
    if (rootPath.startsWith("/run/media/")) return true;
    for (const char* internal : {"/boot", "/snap", "/proc", "/sys", "/dev", "/run", "/var/lib"})
        if (rootPath == internal || rootPath.startsWith(QString(internal) + '/')) return false;
    return true;
#endif
}

// The volume holding folder: the mounted root that is the longest leading part of it.
QString TDestFolderForm::driveOf(const QString& folder) const {
    QString best;
    for (int i = 0; i < ui_->DestDrive->count(); ++i) {
        QString root = ui_->DestDrive->itemData(i).toString();
        const QString withSep = root.endsWith('/') ? root : root + '/';
        const bool inside = folder == root || folder.startsWith(withSep, Qt::CaseInsensitive);
        if (inside && root.size() > best.size()) best = root;
    }
    return best;
}

void TDestFolderForm::selectDriveOf(const QString& folder) {
    const int index = ui_->DestDrive->findData(driveOf(folder));
    if (index >= 0) ui_->DestDrive->setCurrentIndex(index);
}

void TDestFolderForm::DestDriveChange(int index) {
    const QString root = ui_->DestDrive->itemData(index).toString();
    const QString remembered = driveFolders_.value(root, root);
    // A folder that has gone since it was browsed leaves the volume's root.
    if (!setCurrentFolder(remembered) && !setCurrentFolder(root)) selectDriveOf(current_);
}

void TDestFolderForm::FormShow() {
    // Volumes may have been mounted or removed since the last showing.
    fillDriveList();
    // Folders may have come or gone since the last showing; a current folder that no
    // longer exists gives way to the nearest one above it that does.
    QString folder = current_;
    while (!QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder)
        folder = QFileInfo(folder).path();
    if (folder == current_ || !setCurrentFolder(folder)) fillFolderList();
    selectDriveOf(current_);

    ui_->OKButton->setFocus();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        // The place is that of the outer frame. Before its first showing the dialog's frame
        // may be unknown (the window manager adds it when the window appears); a move then
        // places the client area there, a title bar too high. The owner's frame, drawn by
        // the same window manager, stands in for it.
        QPoint place = owner->pos() + QPoint(48, 72);
        if (!hasBeenShown_ && windowHandle() && windowHandle()->frameMargins().isNull())
            place += owner->geometry().topLeft() - owner->frameGeometry().topLeft();
        move(place);
    }
}

void TDestFolderForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        hasBeenShown_ = true;
    }
}

bool TDestFolderForm::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the folder list opens the selected folder rather than closing the dialog.
    if (watched == ui_->DestFolder && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem* item = ui_->DestFolder->currentItem())
                setCurrentFolder(item->data(kPathRole).toString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
