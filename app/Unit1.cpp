// TMainForm: the main window, its layouts for idle and busy, and run control.
#include "Unit1.h"

#include "Unit2.h"
#include "Unit4.h"
#include "app_title.h"
#include "encoder.h"
#include "messages.h"
#include "program_icon.h"
#include "ui_Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

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

QFileDialog* makeOpenDialog(QWidget* parent, const QString& name, const QString& title,
                            const QString& filter) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(name);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly |
                       QFileDialog::HideNameFilterDetails);
    dialog->setNameFilters(nameFilters(filter));
    dialog->selectNameFilter(dialog->nameFilters().value(0));
    return dialog;
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TMainForm>()),
      state_(std::make_unique<PackerState>()) {
    ui_->setupUi(this);

    // Pixel-sized font, so the fixed layout does not grow with the screen resolution.
    QFont font;
    font.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans"});
    font.setPixelSize(11);
    setFont(font);

    QPalette warning = ui_->PasswordMode->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    ui_->PasswordMode->setPalette(warning);

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
    setWindowIcon(programIcon());

    CompressDialog = makeOpenDialog(this, "CompressDialog", "Compress", kCompressFilter);
    DecompressDialog = makeOpenDialog(this, "DecompressDialog", "Decompress", kDecompressFilter);

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

void TMainForm::Initialize() {
    PackerState& s = *state_;
    s.cancelRequested = false;
    setIdle();
    s.firstActivation = true;
    s.startedWithParameter = QCoreApplication::arguments().size() > 1;
    s.bufferLength = kpz::kBufferLength;
    s.destinationFolder.clear();
    resetDisplay();
    kpz::buildCodecTables(s);
    setStatusText(QString());
}

void TMainForm::setBusy() {
    state_->busy = true;
    batchFailed_ = false;
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
    box.exec();
}
