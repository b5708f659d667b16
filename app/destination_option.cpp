// SPDX-License-Identifier: BSD-3-Clause
// TMainForm: the destination folder option, "Same as Source" or a folder chosen in
// TDestFolderForm. The batches read OtherMI and destinationFolder for each file.
#include "Unit1.h"

#include "Unit3.h"
#include "short_path.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QLabel>

namespace {
// The folder label is 209 pixels wide; the path is kept a little narrower than that.
constexpr int kFolderLabelLimit = 201;
} // namespace

void TMainForm::OtherMIClick() {
    PackerState& s = *state_;
    // The folder never changes under a running batch.
    if (s.busy || !DestFolderForm) return;
    if (DestFolderForm->exec() != QDialog::Accepted) return;

    ui_->OtherMI->setChecked(true);
    ui_->SameAsSourceMI->setChecked(false);
    s.destinationFolder = DestFolderForm->currentFolder();
    QLabel* label = ui_->DestFolderLabel;
    label->setText(shortenPath(s.destinationFolder, label->fontMetrics(), kFolderLabelLimit));
    // The batches put the file name straight after the folder.
    if (!s.destinationFolder.endsWith(QDir::separator())) s.destinationFolder += QDir::separator();
}

void TMainForm::SameAsSourceMIClick() {
    ui_->SameAsSourceMI->setChecked(true);
    ui_->OtherMI->setChecked(false);
    setStatusText(QString());
    ui_->DestFolderLabel->setText("Same as Source");
}
