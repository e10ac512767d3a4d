#include "ui/settings/RecordRowView.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/settings/ShortcutFieldFactory.h"

namespace corvane {

namespace {
constexpr int64_t kDurationStep = 5;
}

RecordRowView::RecordRowView(Callbacks callbacks, QWidget* parent)
    : QWidget(parent), callbacks_(std::move(callbacks)) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    durationField_ = new QLineEdit(this);
    durationField_->setObjectName(QStringLiteral("durationField"));
    // Digits only, and few enough that the number always fits; the range is applied on commit.
    durationField_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), this));
    durationField_->setFixedWidth(56);
    durationField_->setAlignment(Qt::AlignRight);
    connect(durationField_, &QLineEdit::editingFinished, this, &RecordRowView::commitDurationText);

    auto* unit = new QLabel(QStringLiteral("s"), this);
    unit->setForegroundRole(QPalette::PlaceholderText);

    stepUp_ = new QToolButton(this);
    stepUp_->setArrowType(Qt::UpArrow);
    stepUp_->setAutoRaise(true);
    stepDown_ = new QToolButton(this);
    stepDown_->setArrowType(Qt::DownArrow);
    stepDown_->setAutoRaise(true);
    connect(stepUp_, &QToolButton::clicked, this, [this] { step(+1); });
    connect(stepDown_, &QToolButton::clicked, this, [this] { step(-1); });
    auto* stepper = new QVBoxLayout;
    stepper->setSpacing(0);
    stepper->addWidget(stepUp_);
    stepper->addWidget(stepDown_);

    formatted_ = new QLabel(this);
    formatted_->setForegroundRole(QPalette::PlaceholderText);
    QFont caption = formatted_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    formatted_->setFont(caption);

    auto* durationGroup = new QWidget(this);
    durationGroup->setFixedWidth(190);
    auto* durationLayout = new QHBoxLayout(durationGroup);
    durationLayout->setContentsMargins(0, 0, 0, 0);
    durationLayout->addWidget(durationField_);
    durationLayout->addWidget(unit);
    durationLayout->addLayout(stepper);
    durationLayout->addWidget(formatted_);
    durationLayout->addStretch();

    ShortcutField field = createShortcutField(this, [this](const std::string& hotkey) {
        if (callbacks_.onHotkeyChanged) callbacks_.onHotkeyChanged(hotkey);
    });
    shortcutField_ = field.widget;
    setShortcut_ = std::move(field.set);

    delete_ = new QToolButton(this);
    delete_->setObjectName(QStringLiteral("deleteButton"));
    delete_->setIcon(QIcon::fromTheme(QStringLiteral("list-remove")));
    if (delete_->icon().isNull()) delete_->setText(QStringLiteral("\u2212"));
    delete_->setAutoRaise(true);
    delete_->setToolTip(QStringLiteral("Delete this shortcut"));
    delete_->setGraphicsEffect(new QGraphicsOpacityEffect(delete_));
    // Stays clickable on the last row; the model ignores that request.
    connect(delete_, &QToolButton::clicked, this, [this] {
        if (callbacks_.onDelete) callbacks_.onDelete();
    });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(durationGroup);
    layout->addWidget(shortcutField_);
    layout->addStretch(1);
    layout->addWidget(delete_);
}

void RecordRowView::setRecord(const RecordItem& record, bool canDelete, bool isDuplicate) {
    recordId_ = record.id;
    duration_ = record.durationSeconds;
    const QString text = QString::number(record.durationSeconds);
    if (durationField_->text() != text && !durationField_->hasFocus()) {
        const QSignalBlocker block(durationField_);
        durationField_->setText(text);
    }
    formatted_->setText(QStringLiteral("(%1)").arg(QString::fromStdString(record.formattedDuration())));
    setShortcut_(record.hotkey, isDuplicate);

    auto* effect = static_cast<QGraphicsOpacityEffect*>(delete_->graphicsEffect());
    effect->setOpacity(canDelete ? 0.8 : 0.25);
    QPalette palette = delete_->palette();
    palette.setColor(QPalette::ButtonText, canDelete ? QColor(Qt::red) : palette.color(QPalette::PlaceholderText));
    delete_->setPalette(palette);
    delete_->setProperty("canDelete", canDelete);
}

void RecordRowView::commitDurationText() {
    bool ok = false;
    const qlonglong typed = durationField_->text().toLongLong(&ok);
    if (!ok) {
        const QSignalBlocker block(durationField_);
        durationField_->setText(QString::number(duration_));
        return;
    }
    const int64_t clamped = clampRecordDuration(typed);
    {
        const QSignalBlocker block(durationField_);
        durationField_->setText(QString::number(clamped));
    }
    if (clamped != duration_ && callbacks_.onDurationChanged) callbacks_.onDurationChanged(clamped);
}

void RecordRowView::step(int direction) {
    const int64_t next = clampRecordDuration(duration_ + direction * kDurationStep);
    if (next != duration_ && callbacks_.onDurationChanged) callbacks_.onDurationChanged(next);
}

}  // namespace corvane
