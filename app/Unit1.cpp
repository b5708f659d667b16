// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the main window, its layouts for idle and busy, and run control.
#include "Unit1.h"

#include "Unit2.h"
#include "Unit4.h"
#include "app_title.h"
#include "messages.h"
#include "system_path.h"
#include "ui_Unit1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QSettings>
#include <QSpacerItem>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace {

const char* const kCompressFilter = "Waves (*.wav)|*.wav|Cakewalk Bundles (*.bun)|*.bun|"
                                    "Acid Audio Embedded (*.acd)|*.acd|All Files (*.*)|*.*";
const char* const kDecompressFilter = "Brisko Packer Files (*.kpz)|*.kpz";

// Turns "description|pattern|description|pattern" into Qt name filters. The description is
// shown as written; the pattern goes in the trailing parentheses that Qt matches against
// (and hides with HideNameFilterDetails). "*.*" means every file, dotted or not.
QStringList nameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(';', ' ');
        if (pattern == "*.*") pattern = "*";
        result << parts[i] + " (" + pattern + ")";
    }
    return result;
}

// Big enough for the detail view to show the Size, Type and Date Modified columns beside
// the names.
constexpr QSize kFileDialogSize(700, 440);
// What a window manager's frame and a panel may take around a window.
constexpr QSize kWindowFrameRoom(16, 48);

QFileDialog* makeOpenDialog(QWidget* parent, const QString& name, const QString& title,
                            const QString& filter) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(name);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    QFileDialog::Options options = QFileDialog::ReadOnly | QFileDialog::HideNameFilterDetails;
#ifndef _WIN32
    options |= QFileDialog::DontUseNativeDialog;
#endif
    // On Windows the system's own open dialog, as every program there has it.
    dialog->setOptions(options);
    dialog->setNameFilters(nameFilters(filter));
    dialog->selectNameFilter(dialog->nameFilters().value(0));
    dialog->setViewMode(QFileDialog::Detail);
    // On a small or scaled screen the dialog is no larger than the room there is, so that
    // its buttons and filter stay in sight.
    QSize size = kFileDialogSize;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - kWindowFrameRoom);
    dialog->resize(size);
    // The detail columns start at widths guessed from sample texts, which cut sizes, types
    // and dates: each folder shown sets them to what it holds, once its entries (and their
    // sizes and types, which arrive later) are in, and the name column takes the rest of
    // the view. A folder entered by typing its name may have been read already while the
    // name was completed, so showing it counts as well as reading it.
    auto* model = dialog->findChild<QFileSystemModel*>();
    auto* view = dialog->findChild<QTreeView*>("treeView");
    if (model && view) {
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        auto* fit = new QTimer(dialog);
        fit->setSingleShot(true);
        fit->setInterval(0);
        QObject::connect(fit, &QTimer::timeout, view, [view] {
            for (int column = 1; column < view->header()->count(); ++column)
                view->resizeColumnToContents(column);
        });
        const auto refit = [fit] { fit->start(); };
        QObject::connect(model, &QFileSystemModel::directoryLoaded, fit, refit);
        QObject::connect(model, &QAbstractItemModel::rowsInserted, fit, refit);
        QObject::connect(model, &QAbstractItemModel::dataChanged, fit, refit);
        QObject::connect(model, &QFileSystemModel::rootPathChanged, fit, refit);
    }
    // The name field's completion list is a window of its own: when Enter in the field
    // closes the dialog or opens a folder, the list would stay on screen over the dialog
    // or the main window and take the next keys.
    const auto hideCompletions = [dialog] {
        for (auto* edit : dialog->findChildren<QLineEdit*>())
            if (QCompleter* completer = edit->completer())
                if (QAbstractItemView* popup = completer->popup()) popup->hide();
    };
    QObject::connect(dialog, &QDialog::finished, dialog, hideCompletions);
    if (model) QObject::connect(model, &QFileSystemModel::rootPathChanged, dialog, hideCompletions);
    return dialog;
}

// The file dialogs keep their folder history and layout in the user's configuration under
// the toolkit's name, written when they close and read when they open. This program keeps
// no settings, so the toolkit's user settings are pointed at a place where nothing can be
// stored. (This leaves alone the system's native settings store, which is not a file.)
void keepNoToolkitSettings() {
    const QString nowhere = QStringLiteral("/dev/null/no-settings");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TMainForm>()),
      state_(kpz::makeRecord<PackerState>()) {
    // Pixel-sized font, so the fixed layout does not grow with the screen resolution. It is
    // the whole program's font: the other windows, the menus and the message boxes use it
    // too rather than the desktop's. Set on the window before its controls are made, they
    // never measure with the desktop's font, which is then never loaded.
    const QFont font = programFont();
    QApplication::setFont(font);
    setFont(font);
    ui_->setupUi(this);
    keepNoToolkitSettings();
    setAcceptDrops(true);

    QPalette warning = ui_->PasswordMode->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    ui_->PasswordMode->setPalette(warning);

    // Names that reach their fixed boxes are right-aligned whatever the direction of their
    // script: a Hebrew or Arabic name would otherwise be drawn flush left.
    // Each label keeps the size its place was drawn with, so a new text never asks the
    // window for a layout pass.
    for (QLabel* label : ui_->centralwidget->findChildren<QLabel*>()) {
        if (label->alignment() & Qt::AlignRight)
            label->setAlignment(label->alignment() | Qt::AlignAbsolute);
        label->setFixedSize(label->size());
    }
    // The two bevels draw only their edges, and the labels and bars inside them lie within
    // those edges: masked to the edges, the bevels are left out of the repaints that a
    // running batch makes inside them.
    for (QFrame* bevel : {ui_->Bevel1, ui_->Bevel2})
        bevel->setMask(QRegion(bevel->rect()).subtracted(QRegion(bevel->contentsRect())));
    describeForScreenReaders();
    // Enter on a focused command button clicks it, as Space does.
    for (QPushButton* button : {ui_->CompressButton, ui_->DecompressButton, ui_->CancelButton})
        button->setAutoDefault(true);

    statusPanel_ = new QLabel(this);
    statusPanel_->setObjectName("StatusPanel");
    ui_->StatusBar->addWidget(statusPanel_, 1);
    ui_->StatusBar->setFixedHeight(19);
    ui_->centralwidget->setFixedSize(361, 331);
    for (QAction* a : ui_->FileMenu->actions())
        if (a->isSeparator()) a->setObjectName("N1");

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(361, ui_->MainMenu1->sizeHint().height() + 350);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    timeOfDay = [] { return QTime::currentTime(); };
    applicationActive = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
    state_->hooks.showProgress = [this](kpz::Direction d) { showProgress(d); };
    state_->hooks.reportWriteFailure = [this] {
        writeFailureShown_ = true;
        showError(kpz::msg::kWriteFailed);
    };

    connect(ui_->CompressButton, &QPushButton::clicked, this, &TMainForm::CompressFiles);
    connect(ui_->CompressfilesMI, &QAction::triggered, this, &TMainForm::CompressFiles);
    connect(ui_->DecompressButton, &QPushButton::clicked, this, &TMainForm::DecompressFiles);
    connect(ui_->DecompressFilesMI, &QAction::triggered, this, &TMainForm::DecompressFiles);
    connect(ui_->CancelButton, &QPushButton::clicked, this, &TMainForm::CancelButtonClick);
    connect(ui_->Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
    connect(ui_->About1, &QAction::triggered, this, &TMainForm::About1Click);
    connect(ui_->BriefHelp1, &QAction::triggered, this, &TMainForm::BriefHelp1Click);
    connect(ui_->OverWarnMI, &QAction::triggered, this, [this] {
        ui_->OverWarnMI->setChecked(!ui_->OverWarnMI->isChecked()); // the handler flips it
        OverWarnMIClick();
    });

    connectPasswordOption();

    // A checkable item flips its own mark before the handler runs; the handlers set both
    // marks themselves, so the flip is undone first.
    connect(ui_->SameAsSourceMI, &QAction::triggered, this, [this](bool checked) {
        ui_->SameAsSourceMI->setChecked(!checked);
        SameAsSourceMIClick();
    });
    connect(ui_->OtherMI, &QAction::triggered, this, [this](bool checked) {
        ui_->OtherMI->setChecked(!checked);
        OtherMIClick();
    });

    // Key preview: the window sees each key before the focused control does.
    qApp->installEventFilter(this);

    setApplicationMainWindow(this);
    Initialize();
}

TMainForm::~TMainForm() {
    if (qApp) qApp->removeEventFilter(this);
}

QFont TMainForm::programFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans"});
    font.setPixelSize(11);
    return font;
}

void TMainForm::describeForScreenReaders() {
    Ui::TMainForm& u = *ui_;
    // Each caption is tied to the box that shows its value, so a screen reader reads them
    // together; the bars have no caption of their own beside them.
    const std::pair<QLabel*, QWidget*> captions[] = {
        {u.Label1, u.DestFolderLabel},  {u.Label6, u.BatchBox},
        {u.Label5, u.ElapsedLabel},     {u.EstimatedText, u.EstimatedLabel},
        {u.Label7, u.CurrentFileBox},   {u.Label2, u.SourceCounterLabel},
        {u.Label3, u.DestCounterLabel}, {u.Label4, u.RatioLabel}};
    for (const auto& [caption, value] : captions)
        caption->setBuddy(value);
    u.Bevel2->setAccessibleName("Batch");
    u.Bevel1->setAccessibleName("Current file");
    u.BatchProgressBar->setAccessibleName("Batch progress");
    u.FileProgressBar->setAccessibleName("File progress");
    u.StatusBar->setAccessibleName("Status");
}

QString TMainForm::fitName(const QString& name, const QFontMetrics& metrics, int width) {
    return metrics.elidedText(name, Qt::ElideMiddle, width);
}

void TMainForm::showName(QLabel* label, const QString& name) {
    const QString shown = fitName(name, label->fontMetrics(), label->width());
    label->setText(shown);
    label->setToolTip(shown == name ? QString() : name);
}

QString TMainForm::boxName(const QString& name) const {
    // A message box widens to its text, and a long name has no place to wrap: the name is
    // cut in its middle so that the box stays within half the screen, and keeps the end
    // that tells similar names apart.
    int width = 500;
    if (const QScreen* s = screen()) width = std::min(width, s->availableGeometry().width() / 2);
    return fitName(name, QFontMetrics(programFont()), width);
}

void TMainForm::placeOverWindow(QWidget* dialog) const {
    // The toolkit centres a dialog with its frame guessed before the window manager has
    // framed it once, so its first showing sat higher than the later ones. The frame is
    // taken to be the main window's, and the dialog placed the same way every time.
    const QRect main = frameGeometry();
    const QSize outer = dialog->size() + (main.size() - size());
    QRect placed(main.center() - QPoint(outer.width() / 2, outer.height() / 2), outer);
    if (const QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        placed.moveRight(std::min(placed.right(), room.right()));
        placed.moveBottom(std::min(placed.bottom(), room.bottom()));
        placed.moveLeft(std::max(placed.left(), room.left()));
        placed.moveTop(std::max(placed.top(), room.top()));
    }
    dialog->move(placed.topLeft());
}

void TMainForm::keepOnScreen() {
    const QScreen* s = screen();
    if (!s) return;
    const QRect room = s->availableGeometry();
    QRect placed = frameGeometry();
    if (room.contains(placed)) return;
    placed.moveBottom(std::min(placed.bottom(), room.bottom()));
    placed.moveRight(std::min(placed.right(), room.right()));
    placed.moveTop(std::max(placed.top(), room.top()));
    placed.moveLeft(std::max(placed.left(), room.left()));
    move(placed.topLeft());
}

QFileDialog* TMainForm::CompressDialog() {
    if (!compressDialog_)
        compressDialog_ = makeOpenDialog(this, "CompressDialog", "Compress", kCompressFilter);
    return compressDialog_;
}

QFileDialog* TMainForm::DecompressDialog() {
    if (!decompressDialog_)
        decompressDialog_ =
            makeOpenDialog(this, "DecompressDialog", "Decompress", kDecompressFilter);
    return decompressDialog_;
}

void TMainForm::Initialize() {
    PackerState& s = *state_;
    s.cancelRequested = false;
    setIdle();
    s.firstActivation = true;
    s.startedWithParameter = QCoreApplication::arguments().size() > 1;
    s.bufferLength = kpz::kProgramBufferLength;
    s.destinationFolder.clear();
    resetDisplay();
    setStatusText(QString());
}

void TMainForm::setBusy() {
    state_->busy = true;
    batchFailed_ = false;
    batchCancelled_ = false;
    batchFilesDone_ = 0;
    batchFailure_.clear();
    ui_->CompressButton->hide();
    ui_->DecompressButton->hide();
    ui_->CancelButton->show();
    ui_->CancelButton->setFocus();
}

void TMainForm::setIdle() {
    state_->busy = false;
    ui_->CancelButton->hide();
    ui_->CompressButton->show();
    ui_->DecompressButton->show();
    ui_->CompressButton->setFocus();
    setApplicationTitle("Brisko Packer");
}

QString TMainForm::statusText() const {
    return statusPanel_->text();
}

void TMainForm::setStatusText(const QString& text) {
    statusPanel_->setText(text);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // A platform theme may set its own application font after start-up (some do once the
    // event loop runs) or when the desktop's settings change: the program's font is set
    // again, which also drops the theme's fonts for menus, message boxes and the like.
    if (watched == qApp && event->type() == QEvent::ApplicationFontChange &&
        QApplication::font() != programFont())
        QMetaObject::invokeMethod(
            qApp, [] { QApplication::setFont(programFont()); }, Qt::QueuedConnection);
    // A key travels from the focused control up to its window; look at it once, when it
    // reaches the first receiver inside this window.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        QWidget* firstReceiver = focusWidget() ? focusWidget() : this;
        if (widget == firstReceiver) {
            const QString text = static_cast<QKeyEvent*>(event)->text();
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Escape)
                FormKeyPress(QChar(27));
            else if (!text.isEmpty())
                FormKeyPress(text.front());
        }
    }
    // A double click on either destination label does what Options, Other... does.
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == ui_->Label1 || watched == ui_->DestFolderLabel)) {
        OtherMIClick();
        return true;
    }
    // The window was centred before the window manager framed it, so without its frame: on
    // a small or scaled screen (1366x768 at twice the size) the frame reached past the
    // bottom. Once framed (the window moves into its frame), or at the latest once active,
    // the whole frame is brought onto the screen.
    if (watched == this && !framed_ &&
        ((event->type() == QEvent::Move && frameGeometry() != geometry()) ||
         event->type() == QEvent::WindowActivate)) {
        framed_ = true;
        keepOnScreen();
    }
    // ShowAbout runs once the activation has been handled, so that the windows it opens
    // do not run their loops inside the activation event. Showing the window counts as
    // its first activation too: without a window manager it may never become active.
    if (watched == this &&
        (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show))
        QMetaObject::invokeMethod(this, &TMainForm::ShowAbout, Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormKeyPress(QChar key) {
    if (key.unicode() == 27 && state_->busy) confirmCancel();
}

void TMainForm::CancelButtonClick() {
    if (state_->busy) confirmCancel();
}

void TMainForm::confirmCancel() {
    QMessageBox box(QMessageBox::NoIcon, "Cancel Requested", "Really abort the current process?",
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    fitCaption(box);
    if (box.exec() == QMessageBox::Yes) state_->cancelRequested = true;
}

void TMainForm::Exit1Click() {
    state_->cancelRequested = true;
    QCoreApplication::quit();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // A running batch would otherwise go on unseen behind the closed window: stop it at
    // its next check (which removes its unfinished output) and end the program.
    if (state_->busy) Exit1Click();
    QMainWindow::closeEvent(event);
}

void TMainForm::About1Click() {
    if (AboutForm) AboutForm->exec();
}

void TMainForm::BriefHelp1Click() {
    if (!HelpForm) return;
    // Showing a hidden help window loads the file again; an open one only comes forward.
    HelpForm->show();
    HelpForm->raise();
    HelpForm->activateWindow();
}

void TMainForm::OverWarnMIClick() {
    ui_->OverWarnMI->setChecked(!ui_->OverWarnMI->isChecked());
}

void TMainForm::showError(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kErrorCaption, text, QMessageBox::Ok, this);
    fitCaption(box);
    box.exec();
}

void TMainForm::fitCaption(QMessageBox& box) {
    // A message box takes its width from its text and buttons; a short text under a long
    // caption leaves the caption cut in the title bar. The title bar's font belongs to the
    // window manager: measure with the system's title font in bold, and leave room for the
    // window icon and the close box.
    QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    titleFont.setBold(true);
    constexpr int kTitleBarExtras = 96;
    const int width =
        QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + kTitleBarExtras;
    auto* layout = qobject_cast<QGridLayout*>(box.layout());
    if (!layout) return;
    layout->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                    layout->rowCount(), 0, 1, layout->columnCount());
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    // Only local files are taken, and only while no batch runs.
    if (state_->busy || !event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
}

void TMainForm::dropEvent(QDropEvent* event) {
    if (state_->busy) return;
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        const QString file = droppedPath(url);
        std::error_code error;
        if (!std::filesystem::is_directory(localPath(file), error)) files << file;
    }
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    // The batches ask questions in modal windows: they run once the drop has been answered,
    // so that the program the files came from is not held until they end.
    QMetaObject::invokeMethod(
        this, [this, files] { runDroppedFiles(files); }, Qt::QueuedConnection);
}

void TMainForm::runDroppedFiles(const QStringList& files) {
    if (state_->busy) return;
    QStringList packed, others;
    for (const QString& file : files)
        (file.endsWith(".kpz", Qt::CaseInsensitive) ? packed : others) << file;
    // In the order of the menu: compression first. A batch that ended early (a failure, a
    // cancel, Exit) ends the drop too.
    if (!others.isEmpty()) {
        compressBatch(others);
        if (batchFailed_ || state_->cancelRequested) return;
    }
    if (!packed.isEmpty()) decompressBatch(packed);
}
