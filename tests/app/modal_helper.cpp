// SPDX-License-Identifier: BSD-3-Clause
// Answers modal windows the way a person would, for the window tests.
#include "modal_helper.h"

#include "codec_state.h"
#include "encoder.h"
#include "memory_codec.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {
// The tests answer the toolkit's own file dialogs, which the program shows elsewhere; the
// native ones of Windows cannot be driven from inside the program.
void useToolkitDialogs() {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}
} // namespace
Q_CONSTRUCTOR_FUNCTION(useToolkitDialogs)
#endif

AppWindows::AppWindows() {
    // Window tests start past the first activation, so showing the main window neither
    // opens the about window nor records the file type; the start-up tests set it back.
    form.state().firstActivation = false;
    AboutForm = &about;
    DestFolderForm = &destFolder;
    HelpForm = &help;
    PasswordForm = &password;
}

AppWindows::~AppWindows() {
    AboutForm = nullptr;
    DestFolderForm = nullptr;
    HelpForm = nullptr;
    PasswordForm = nullptr;
}

ModalHelper::ModalHelper() {
    connect(&timer_, &QTimer::timeout, this, &ModalHelper::check);
    timer_.start(2);
}

ModalHelper& ModalHelper::chooseFiles(const QStringList& paths, std::function<void()> afterAccept) {
    Step step;
    step.kind = Kind::FileDialog;
    step.paths = paths;
    step.after = std::move(afterAccept);
    steps_.push_back(step);
    return *this;
}

ModalHelper& ModalHelper::cancelFileDialog() {
    Step step;
    step.kind = Kind::FileDialog;
    step.accept = false;
    steps_.push_back(step);
    return *this;
}

ModalHelper& ModalHelper::press(QMessageBox::StandardButton button) {
    Step step;
    step.kind = Kind::Box;
    step.button = button;
    steps_.push_back(step);
    return *this;
}

ModalHelper& ModalHelper::closeWindow(const char* className) {
    Step step;
    step.kind = Kind::Window;
    step.className = className;
    steps_.push_back(step);
    return *this;
}

ModalHelper& ModalHelper::answerWindow(const char* className,
                                       std::function<void(QWidget*)> answer) {
    Step step;
    step.kind = Kind::Window;
    step.className = className;
    step.answer = std::move(answer);
    steps_.push_back(step);
    return *this;
}

ModalHelper& ModalHelper::when(std::function<bool()> ready, std::function<void()> action) {
    Step step;
    step.kind = Kind::Action;
    step.ready = std::move(ready);
    step.after = std::move(action);
    steps_.push_back(step);
    return *this;
}

static SeenBox describe(QMessageBox* box) {
    SeenBox seen;
    seen.text = box->text();
    seen.caption = box->windowTitle();
    seen.buttons = box->standardButtons();
    seen.defaultButton =
        box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    seen.icon = box->icon();
    return seen;
}

void ModalHelper::check() {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    auto* fileDialog = qobject_cast<QFileDialog*>(modal);

    if (!steps_.empty()) {
        Step& step = steps_.front();
        if (step.kind == Kind::FileDialog && fileDialog) {
            Step taken = std::move(step);
            steps_.pop_front();
            if (!taken.accept) {
                fileDialog->reject();
                return;
            }
            QStringList quoted;
            for (const QString& path : taken.paths)
                quoted << '"' + path + '"';
            auto* nameEdit = fileDialog->findChild<QLineEdit*>("fileNameEdit");
            if (!nameEdit) {
                unexpected << "file dialog without a name field";
                fileDialog->reject();
                return;
            }
            // The view may still mark the folder last opened; typing into the field with
            // the focus there replaces that selection, so do the same here.
            for (const char* name : {"listView", "treeView"})
                if (auto* view = fileDialog->findChild<QAbstractItemView*>(name))
                    view->clearSelection();
            // Typed with the focus in the field, as a person would, in the files' folder.
            fileDialog->setDirectory(QFileInfo(taken.paths.value(0)).path());
            fileDialog->activateWindow();
            nameEdit->setFocus();
            nameEdit->setText(quoted.join(' '));
            static_cast<QDialog*>(fileDialog)->accept(); // QFileDialog::accept checks the names
            if (taken.after) taken.after();
            return;
        }
        if (step.kind == Kind::Box && box) {
            const QMessageBox::StandardButton button = step.button;
            steps_.pop_front();
            boxes << describe(box);
            if (QAbstractButton* b = box->button(button))
                b->click();
            else {
                unexpected << "box without the button to press: " + box->text();
                box->done(QMessageBox::Cancel);
            }
            return;
        }
        if (step.kind == Kind::Window && modal && modal->inherits(step.className)) {
            std::function<void(QWidget*)> answer = std::move(step.answer);
            steps_.pop_front();
            if (answer) {
                answer(modal);
                return;
            }
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            return;
        }
        if (step.kind == Kind::Action && !modal && !inAction_ && step.ready()) {
            std::function<void()> action = std::move(step.after);
            steps_.pop_front();
            // A modal window the action opens blocks this call, and a timer does not fire
            // again while its own handler runs: answer from a second timer meanwhile.
            QTimer helperTimer;
            connect(&helperTimer, &QTimer::timeout, this, &ModalHelper::check);
            helperTimer.start(2);
            inAction_ = true;
            action();
            inAction_ = false;
            return;
        }
    }

    if (!modal) return;
    // Nothing expected this window: note it and close it, so the test fails instead of
    // waiting forever.
    if (box) {
        unexpected << "message box: " + box->text();
        boxes << describe(box);
        box->done(box->escapeButton() ? box->standardButton(box->escapeButton())
                                      : QMessageBox::Cancel);
    } else if (steps_.empty() || steps_.front().kind != Kind::Action) {
        unexpected << QString("modal window: ") + modal->metaObject()->className();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

QByteArray noiseBytes(qsizetype size, uint32_t seed) {
    QByteArray data(size, Qt::Uninitialized);
    uint32_t x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

QByteArray toneBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    int16_t left = 0, step = 3;
    for (qsizetype i = 0; i + 1 < size; i += 2) {
        if ((i / 4) % 400 == 0) step = static_cast<int16_t>(-step);
        left = static_cast<int16_t>(left + step * 37);
        data[i] = static_cast<char>(left & 0xFF);
        data[i + 1] = static_cast<char>((left >> 8) & 0xFF);
    }
    if (size % 2) data[size - 1] = 0x11;
    return data;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QByteArray expectedCompressed(const QByteArray& data, const std::string& name, bool passwordOn,
                              uint16_t code) {
    static const std::unique_ptr<kpz::CodecState> state = [] {
        auto s = std::make_unique<kpz::CodecState>();
        kpz::buildCodecTables(*s);
        return s;
    }();
    const std::vector<uint8_t> source(data.begin(), data.end());
    const std::vector<uint8_t> out = kpz::compressToMemory(*state, source, name, passwordOn, code);
    return QByteArray(reinterpret_cast<const char*>(out.data()),
                      static_cast<qsizetype>(out.size()));
}

bool runningUnderWine() {
#ifdef _WIN32
    // Wine's own ntdll.dll exports its version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
