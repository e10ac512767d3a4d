#include "ui/keybind/KeybindRecorderView.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <optional>

#include "core/shortcuts/ShortcutNotation.h"
#include "ui/keybind/KeybindRecorderController.h"
#include "ui/keybind/ShortcutRecorderEnvironment.h"

namespace corvane {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 24;
constexpr int kPadding = 8;
constexpr int kSpacing = 6;
constexpr int kIconSize = 12;

const QColor kOrange(255, 149, 0);

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QFont fontOf(const QFont& base, int pixelSize, QFont::Weight weight) {
    QFont font = base;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QString helpWhileRecording() {
    return QStringLiteral("Press shortcut keys now (Esc to cancel, Delete to clear)");
}

// How the global registration of `hotkey` went; nothing when unknown or not registered.
std::optional<HotkeyBindStatus> registrationOf(const QString& hotkey) {
    GlobalShortcuts* shortcuts = shortcutRecorderEnvironment().globalShortcuts;
    if (!shortcuts || hotkey.trimmed().isEmpty()) return std::nullopt;
    return shortcuts->statusOf(hotkey.toStdString());
}

bool isRefused(std::optional<HotkeyBindStatus> status) {
    return status == HotkeyBindStatus::inUseByAnotherProgram ||
           status == HotkeyBindStatus::keyNotOnKeyboard;
}

}  // namespace

KeybindRecorderView::KeybindRecorderView(QWidget* parent)
    : QWidget(parent), recorder_(new KeybindRecorderController(this)) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Shortcut"));
    connect(recorder_, &KeybindRecorderController::isRecordingChanged, this, [this] {
        refreshHelp();
        update();
    });
    refreshHelp();
}

KeybindRecorderView::~KeybindRecorderView() { recorder_->stopRecording(); }

void KeybindRecorderView::setHotkey(const QString& hotkey) {
    if (hotkey == hotkey_) return;
    hotkey_ = hotkey;
    refreshHelp();
    update();
}

void KeybindRecorderView::setDuplicate(bool duplicate) {
    if (duplicate == isDuplicate_) return;
    isDuplicate_ = duplicate;
    refreshHelp();
    update();
}

bool KeybindRecorderView::isRecording() const { return recorder_->isRecording(); }

void KeybindRecorderView::startRecording() {
    recorder_->startRecording([this](const QString& captured) { editHotkey(captured); });
}

void KeybindRecorderView::stopRecording() { recorder_->stopRecording(); }

QString KeybindRecorderView::displayText() const {
    return QString::fromStdString(displayString(hotkey_.toStdString()));
}

bool KeybindRecorderView::hasShortcut() const { return !hotkey_.trimmed().isEmpty(); }

void KeybindRecorderView::editHotkey(const QString& hotkey) {
    setHotkey(hotkey);
    emit hotkeyEdited(hotkey);
}

QString KeybindRecorderView::helpText() const {
    if (isRecording()) return helpWhileRecording();
    const QString another = QStringLiteral(" Click to record another one.");
    switch (registrationOf(hotkey_).value_or(HotkeyBindStatus::bound)) {
        case HotkeyBindStatus::inUseByAnotherProgram:
            return QStringLiteral("In use by another program: pressing it does not reach Corvane.") + another;
        case HotkeyBindStatus::keyNotOnKeyboard:
            return QStringLiteral("No key of the current keyboard layout makes this shortcut.") + another;
        default:
            break;
    }
    if (isDuplicate_) {
        return QStringLiteral("Another recording profile has the same shortcut: pressing it saves "
                              "the first profile's clip only.") + another;
    }
    return QStringLiteral("Click to record shortcut");
}

void KeybindRecorderView::refreshHelp() { setToolTip(helpText()); }

QRect KeybindRecorderView::clearButtonRect() const {
    return QRect(width() - kPadding - kIconSize, (height() - kIconSize) / 2, kIconSize, kIconSize);
}

bool KeybindRecorderView::clearButtonShown() const {
    return !isRecording() && hasShortcut() && isHovering_;
}

QMenu* KeybindRecorderView::createContextMenu(QWidget* parent) {
    if (hotkey_.isEmpty()) return nullptr;
    auto* menu = new QMenu(parent);
    // The shortcut in the program's own spelling ("Super+Shift+1"), which also reads back in
    // the configuration file; a text that does not read is copied as stored.
    const QString copied = QString::fromStdString(writtenShortcut(hotkey_.toStdString()));
    menu->addAction(QStringLiteral("Copy Shortcut (%1)").arg(copied), this, [copied] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(copied);
    });
    menu->addAction(QStringLiteral("Clear Shortcut"), this, [this] { editHotkey(QString()); });
    return menu;
}

void KeybindRecorderView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu(this);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void KeybindRecorderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // The application-wide monitor ends a recording on any left press, this one included;
    // remember that it was running so that the click that ends it does not start it again.
    pressStartedWhileRecording_ = isRecording();
    pressOnClearButton_ = clearButtonShown() && clearButtonRect().contains(event->pos());
    event->accept();
}

void KeybindRecorderView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->pos())) {
        return QWidget::mouseReleaseEvent(event);
    }
    if (pressOnClearButton_) {
        pressOnClearButton_ = false;
        if (clearButtonRect().contains(event->pos())) editHotkey(QString());
        return;
    }
    if (pressStartedWhileRecording_ || isRecording()) {
        stopRecording();
    } else {
        startRecording();
    }
    pressStartedWhileRecording_ = false;
}

void KeybindRecorderView::enterEvent(QEnterEvent* event) {
    isHovering_ = true;
    update();
    QWidget::enterEvent(event);
}

void KeybindRecorderView::leaveEvent(QEvent* event) {
    isHovering_ = false;
    update();
    QWidget::leaveEvent(event);
}

void KeybindRecorderView::hideEvent(QHideEvent* event) {
    stopRecording();
    isHovering_ = false;
    QWidget::hideEvent(event);
}

bool KeybindRecorderView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (clearButtonShown() && clearButtonRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(), QStringLiteral("Clear shortcut"), this);
            return true;
        }
        refreshHelp();  // the registration may have changed since (a reload, another program)
    }
    if (event->type() == QEvent::MouseMove && isHovering_) update(clearButtonRect());
    return QWidget::event(event);
}

void KeybindRecorderView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor accent = pal.color(QPalette::Highlight);
    const QColor primary = pal.color(QPalette::WindowText);
    const QColor secondary = pal.color(QPalette::PlaceholderText);
    const bool recording = isRecording();

    // Background and border.
    const double lineWidth = recording ? 1.5 : 1.0;
    const QRectF frame = QRectF(rect()).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2,
                                                 -lineWidth / 2);
    QColor border;
    if (recording) {
        border = accent;
    } else if (isDuplicate_ || isRefused(registrationOf(hotkey_))) {
        border = withAlpha(kOrange, 0.8);
    } else {
        border = withAlpha(secondary, isHovering_ ? 0.4 : 0.2);
    }
    painter.setPen(QPen(border, lineWidth));
    painter.setBrush(recording ? withAlpha(accent, 0.12) : pal.color(QPalette::Base));
    painter.drawRoundedRect(frame, 6, 6);

    QRect content = rect().adjusted(kPadding, 0, -kPadding, 0);
    const QRect iconBox(content.left(), (height() - kIconSize) / 2, kIconSize, kIconSize);

    if (recording) {
        // A ring with a dot: recording.
        painter.setPen(QPen(accent, 1.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(iconBox).adjusted(0.6, 0.6, -0.6, -0.6));
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(QRectF(iconBox).adjusted(3.5, 3.5, -3.5, -3.5));

        // The "Esc" key cap at the trailing end.
        const QFont capFont = fontOf(font(), 10, QFont::Medium);
        const int capWidth = QFontMetrics(capFont).horizontalAdvance(QStringLiteral("Esc")) + 8;
        const QRect cap(content.right() - capWidth + 1, (height() - 16) / 2, capWidth, 16);
        painter.setBrush(withAlpha(secondary, 0.15));
        painter.drawRoundedRect(cap, 3, 3);
        painter.setFont(capFont);
        painter.setPen(withAlpha(secondary, 0.8));
        painter.drawText(cap, Qt::AlignCenter, QStringLiteral("Esc"));

        QRect label = content.adjusted(kIconSize + kSpacing, 0, -(capWidth + kSpacing), 0);
        painter.setFont(fontOf(font(), 11, QFont::DemiBold));
        painter.setPen(accent);
        painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Type shortcut..."));
        return;
    }

    if (hasShortcut()) {
        QRect label = content;
        if (clearButtonShown()) {
            label.setRight(clearButtonRect().left() - kSpacing);
            // A filled circle with a cross: clear.
            const QRectF button = QRectF(clearButtonRect());
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(secondary, 0.7));
            painter.drawEllipse(button);
            painter.setPen(QPen(pal.color(QPalette::Base), 1.4, Qt::SolidLine, Qt::RoundCap));
            const QRectF cross = button.adjusted(3.8, 3.8, -3.8, -3.8);
            painter.drawLine(cross.topLeft(), cross.bottomRight());
            painter.drawLine(cross.topRight(), cross.bottomLeft());
        }
        painter.setFont(fontOf(font(), 12, QFont::DemiBold));
        painter.setPen(isDuplicate_ ? kOrange : primary);
        painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft,
                         painter.fontMetrics().elidedText(displayText(), Qt::ElideRight,
                                                          label.width()));
        return;
    }

    painter.setPen(secondary);
    painter.setFont(fontOf(font(), 13, QFont::Normal));
    painter.drawText(QRect(iconBox.left(), 0, kIconSize + 4, height()), Qt::AlignCenter,
                     QStringLiteral("\u2328"));
    painter.setFont(fontOf(font(), 11, QFont::Normal));
    painter.drawText(content.adjusted(kIconSize + kSpacing, 0, 0, 0),
                     Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Record shortcut"));
}

}  // namespace corvane
