// The shortcut field on the session's X server: physical keys through XTest, and key events
// carrying real X key codes of the server's keymap.
#include "ui/keybind/KeybindRecorderView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>

#include "core/shortcuts/CorvaneHotkeys.h"
#include "platform/hotkeys/X11HotkeyBackend.h"
#include "platform/hotkeys/X11KeyboardLayout.h"
#include "ui/keybind/ShortcutRecorderEnvironment.h"

namespace {
constexpr QEvent::Type kQtKeyPress = QEvent::KeyPress;  // Xlib defines KeyPress as a macro
}

#include "support/XKeyboardTestSupport.h"  // last: Xlib's macros

namespace corvane {
namespace {

using test::waitUntil;

class KeybindRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(keyboard.get()) << "no X display: run inside scripts/with-test-session.sh";
        layout = X11KeyboardLayout::open();
        ASSERT_TRUE(layout);
        installShortcutRecorderEnvironment({layout.get(), nullptr});
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* w : std::initializer_list<QWidget*>{first, second, edit, button}) {
            w->setParent(&window);
            layout->addWidget(w);
        }
        closeAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
        window.addAction(closeAction);
        QObject::connect(closeAction, &QAction::triggered, &window, &QWidget::close);
        first->setHotkey(QStringLiteral("Cmd+Shift+1"));
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
    }

    void TearDown() override { installShortcutRecorderEnvironment({}); }

    // A key press as the X server would report it: its X key code and X modifier state.
    // keysym NoSymbol: an event without an X key code (another platform, a synthetic event).
    void sendKey(KeySym keysym, unsigned xState, int qtKey, Qt::KeyboardModifiers qtModifiers,
                 const QString& text = {}, bool runEventLoop = true) {
        QKeyEvent press(kQtKeyPress, qtKey, qtModifiers, keysym ? keyboard.keycode(keysym) : 0,
                        static_cast<quint32>(keysym), keysym ? xState : 0, text);
        QCoreApplication::sendEvent(edit, &press);
        if (runEventLoop) QCoreApplication::processEvents();  // the outcome runs from the loop
    }
    QString takeEdit(QSignalSpy& spy) {
        EXPECT_EQ(spy.count(), 1);
        return spy.isEmpty() ? QStringLiteral("<none>") : spy.takeFirst().at(0).toString();
    }

    // A click as a user makes it: the event loop runs between press and release.
    static void click(QWidget* widget) {
        QTest::mousePress(widget, Qt::LeftButton);
        QCoreApplication::processEvents();
        QTest::mouseRelease(widget, Qt::LeftButton);
        QCoreApplication::processEvents();
    }

    test::XKeyboard keyboard;
    std::unique_ptr<X11KeyboardLayout> layout;
    QWidget window;
    KeybindRecorderView* first = new KeybindRecorderView;
    KeybindRecorderView* second = new KeybindRecorderView;
    QLineEdit* edit = new QLineEdit;
    QPushButton* button = new QPushButton(QStringLiteral("Elsewhere"));
    QAction* closeAction = new QAction(&window);
};

// Each key pressed into a fresh recording: what it records (nothing, or the written shortcut; an
// empty one clears), and whether the field still listens. No key reaches the focused edit.
TEST_F(KeybindRecorderTest, EachKeyRecordsClearsCancelsOrIsSwallowedAndOnlyTheFirstCounts) {
    struct Case {
        const char* what;
        KeySym keysym;  // NoSymbol: an event without an X key code (Qt's key stands in)
        unsigned xState;
        int qtKey;
        Qt::KeyboardModifiers qtModifiers;
        std::optional<QString> recorded;
        bool stillRecording;
    };
    const Case cases[] = {
        {"Shift+A is no shortcut", XK_a, ShiftMask, Qt::Key_A, Qt::ShiftModifier, std::nullopt, true},
        {"Super+Home has no name", XK_Home, Mod4Mask, Qt::Key_Home, Qt::MetaModifier, std::nullopt, true},
        {"keypad 5 is written as the digit", XK_KP_5, Mod4Mask | Mod2Mask, Qt::Key_5,
         Qt::MetaModifier | Qt::KeypadModifier, QStringLiteral("Super+5"), false},
        {"without a key code, a shifted key cannot be told", NoSymbol, 0, Qt::Key_Exclam,
         Qt::MetaModifier | Qt::ShiftModifier, std::nullopt, true},
        {"without a key code, an unshifted key is Qt's", NoSymbol, 0, Qt::Key_F2, Qt::AltModifier,
         QStringLiteral("Alt+F2"), false},
        {"Escape cancels", XK_Escape, ControlMask | ShiftMask, Qt::Key_Escape, Qt::ControlModifier | Qt::ShiftModifier,
         std::nullopt, false},
        {"Backspace clears", XK_BackSpace, 0, Qt::Key_Backspace, Qt::NoModifier, QString(), false},
    };
    QSignalSpy edited(first, &KeybindRecorderView::hotkeyEdited);
    for (const Case& c : cases) {
        first->startRecording();
        sendKey(c.keysym, c.xState, c.qtKey, c.qtModifiers, c.qtKey == Qt::Key_A ? QStringLiteral("A") : QString());
        EXPECT_EQ(edited.isEmpty() ? std::nullopt : std::optional(edited.takeFirst().at(0).toString()), c.recorded)
            << c.what;
        EXPECT_EQ(first->isRecording(), c.stillRecording) << c.what;
        first->stopRecording();
    }
    EXPECT_TRUE(edit->text().isEmpty());
    // Once stopped, keys reach the application again.
    sendKey(XK_c, 0, Qt::Key_C, Qt::NoModifier, QStringLiteral("c"));
    EXPECT_EQ(edit->text(), QStringLiteral("c"));

    // Only the first usable key counts: two chords (or auto-repeat) before the event loop runs the outcome.
    first->startRecording();
    sendKey(XK_3, ControlMask, Qt::Key_3, Qt::ControlModifier, {}, false);
    sendKey(XK_4, ControlMask, Qt::Key_4, Qt::ControlModifier, {}, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(takeEdit(edited), QStringLiteral("Ctrl+3"));

    // A recording stopped and restarted before its outcome ran does not get the old outcome.
    first->startRecording();
    sendKey(XK_5, ControlMask, Qt::Key_5, Qt::ControlModifier, {}, false);
    first->stopRecording();
    first->startRecording();
    QCoreApplication::processEvents();
    EXPECT_TRUE(edited.isEmpty());
}

TEST_F(KeybindRecorderTest, RecordingEndsOnClicksOtherFieldsAndHiding) {
    QSignalSpy firstEdited(first, &KeybindRecorderView::hotkeyEdited);
    // Clicking the recording field ends the recording and does not start a new one.
    click(first);
    ASSERT_TRUE(first->isRecording());
    click(first);
    QCoreApplication::processEvents();
    EXPECT_FALSE(first->isRecording());

    // A click elsewhere ends it and still reaches its target.
    QSignalSpy clicked(button, &QPushButton::clicked);
    click(first);
    click(button);
    QCoreApplication::processEvents();
    EXPECT_FALSE(first->isRecording());
    EXPECT_EQ(clicked.count(), 1);

    // Another field starting takes over.
    first->startRecording();
    click(second);
    EXPECT_FALSE(first->isRecording());
    second->stopRecording();

    // Hiding the field stops it; keys are no longer swallowed.
    first->startRecording();
    first->hide();
    EXPECT_FALSE(first->isRecording());
    sendKey(XK_d, 0, Qt::Key_D, Qt::NoModifier, QStringLiteral("d"));
    EXPECT_EQ(edit->text(), QStringLiteral("d"));
    EXPECT_TRUE(firstEdited.isEmpty());
}

TEST_F(KeybindRecorderTest, TheMenuCopiesTheLinuxSpellingAndClears) {
    QSignalSpy edited(first, &KeybindRecorderView::hotkeyEdited);
    EXPECT_EQ(second->createContextMenu(), nullptr);  // empty shortcut: no menu
    std::unique_ptr<QMenu> menu(first->createContextMenu());
    ASSERT_TRUE(menu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    // The stored "Cmd+Shift+1" of an older file is copied the Linux way.
    actions[0]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Super+Shift+1"));
    actions[1]->trigger();
    EXPECT_EQ(takeEdit(edited), QString());
    first->setHotkey(QStringLiteral("Cmd+Shift+2"));  // filling from the model is not an edit
    EXPECT_TRUE(edited.isEmpty());
}

// The global shortcuts are really grabbed here (XGrabKey on the test display): while a field
// records they are let go, so pressing a bound combination records it and saves nothing.
class KeybindRecorderWithGrabsTest : public KeybindRecorderTest {
protected:
    void SetUp() override {
        KeybindRecorderTest::SetUp();
        std::unique_ptr<X11HotkeyBackend> backend = X11HotkeyBackend::open();
        ASSERT_TRUE(backend);
        hotkeys = std::make_unique<CorvaneHotkeys>(std::move(backend));
        hotkeys->onHotKeyTriggered = [this](int32_t id) { saved.push_back(id); };
        installShortcutRecorderEnvironment({layout.get(), hotkeys.get()});
    }
    void TearDown() override {
        KeybindRecorderTest::TearDown();
        hotkeys.reset();
    }

    std::unique_ptr<CorvaneHotkeys> hotkeys;
    std::vector<int32_t> saved;
};

// While a field records, a pressed chord is only a shortcut to record: the window's Ctrl+W does not
// close it and a bound global shortcut saves nothing. Afterwards both work again.
TEST_F(KeybindRecorderWithGrabsTest, PressedChordsAreRecordedInsteadOfTriggeringWindowOrGlobalShortcuts) {
    hotkeys->registerHotKeys({{1, "Cmd+Shift+1", "Save last 30 seconds"}});
    ASSERT_EQ(hotkeys->statusOf("Cmd+Shift+1"), HotkeyBindStatus::bound);
    QSignalSpy edited(second, &KeybindRecorderView::hotkeyEdited);
    QSignalSpy closed(closeAction, &QAction::triggered);
    const auto record = [&](std::initializer_list<KeySym> modifiers, KeySym key) {
        click(second);
        EXPECT_TRUE(second->isRecording());
        keyboard.chord(modifiers, key);
        EXPECT_TRUE(waitUntil([&] { return !edited.isEmpty(); }));
        EXPECT_FALSE(second->isRecording());
        return takeEdit(edited);
    };
    EXPECT_EQ(record({XK_Super_L, XK_Shift_L}, XK_1), QStringLiteral("Super+Shift+1"));  // Qt sees "!" here
    EXPECT_EQ(record({XK_Control_L}, XK_w), QStringLiteral("Ctrl+W"));

    // Once the recording ended the same presses save and close, and only these (presses reach the
    // grab in order, so the first would have come before it).
    keyboard.chord({XK_Super_L, XK_Shift_L}, XK_1);
    ASSERT_TRUE(waitUntil([&] { return !saved.empty(); }));
    EXPECT_EQ(saved, std::vector<int32_t>{1});
    EXPECT_EQ(closed.count(), 0);
    keyboard.chord({XK_Control_L}, XK_w);
    EXPECT_TRUE(waitUntil([&] { return closed.count() == 1; }));
    EXPECT_TRUE(edited.isEmpty());
}

TEST_F(KeybindRecorderWithGrabsTest, FieldsSayWhyTheirShortcutDoesNotWork) {
    test::XKeyboard other;  // another program holds Super+Shift+2
    const Window root = DefaultRootWindow(other.get());
    XGrabKey(other.get(), other.keycode(XK_2), Mod4Mask | ShiftMask, root, False, GrabModeAsync,
             GrabModeAsync);
    XSync(other.get(), False);
    hotkeys->registerHotKeys({{1, "Cmd+Shift+1", ""}, {2, "Cmd+Shift+2", ""}});

    first->setHotkey(QStringLiteral("Shift+Cmd+2"));
    EXPECT_TRUE(first->helpText().startsWith(QStringLiteral("In use by another program")))
        << first->helpText().toStdString();
    EXPECT_EQ(first->toolTip(), first->helpText());
    second->setHotkey(QStringLiteral("Cmd+Shift+1"));
    second->setDuplicate(true);
    EXPECT_TRUE(second->helpText().startsWith(QStringLiteral("Another recording profile has the same shortcut")))
        << second->helpText().toStdString();
    XUngrabKey(other.get(), other.keycode(XK_2), Mod4Mask | ShiftMask, root);
    XSync(other.get(), False);
}

}  // namespace
}  // namespace corvane
