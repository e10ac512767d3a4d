#include "ui/library/RenameClipSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

RenameClipSheet::RenameClipSheet(ClipItem clip, std::function<bool(const std::string&)> onRename, QWidget* parent)
    : QDialog(parent), clip_(std::move(clip)), onRename_(std::move(onRename)) {
    setWindowTitle(tr("Rename Clip"));
    setFixedWidth(380);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* heading = new QLabel(tr("Rename Clip"));
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    layout->addWidget(heading);

    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    field_ = new QLineEdit(QString::fromStdString(clip_.baseName()));
    field_->setPlaceholderText(tr("Clip name"));
    row->addWidget(field_, 1);
    auto* ext = new QLabel(QStringLiteral(".") + QString::fromStdString(clip_.extension()));
    ext->setTextFormat(Qt::PlainText);
    ext->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(ext);
    column->addLayout(row);
    error_ = new QLabel;
    error_->setTextFormat(Qt::PlainText);
    error_->setStyleSheet(QStringLiteral("color: red;"));
    QFont caption = error_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    error_->setFont(caption);
    error_->hide();
    column->addWidget(error_);
    layout->addLayout(column);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    renameButton_ = new QPushButton(tr("Rename"));
    renameButton_->setDefault(true);
    connect(renameButton_, &QPushButton::clicked, this, &RenameClipSheet::submitRename);
    buttons->addWidget(renameButton_);
    layout->addLayout(buttons);

    auto updateEnabled = [this] { renameButton_->setEnabled(!trimmedName().isEmpty()); };
    connect(field_, &QLineEdit::textChanged, this, updateEnabled);
    updateEnabled();
}

void RenameClipSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    field_->setFocus(Qt::OtherFocusReason);
    field_->selectAll();
}

QString RenameClipSheet::trimmedName() const {
    // Spaces, tabs and line breaks at either end do not count.
    return field_->text().trimmed();
}

void RenameClipSheet::submitRename() {
    const QString name = trimmedName();
    if (name.isEmpty()) return;
    if (name.toStdString() == clip_.baseName()) {
        accept();
        return;
    }
    if (onRename_ && onRename_(name.toStdString())) {
        accept();
        return;
    }
    error_->setText(tr(kErrorText));
    error_->show();
}

}  // namespace corvane
