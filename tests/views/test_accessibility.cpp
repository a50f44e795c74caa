#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/WaveformView.h"

#include <QAccessible>
#include <QtTest>

using namespace trimora;

namespace {

bool isInteractive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::ProgressBar:
        return true;
    default:
        return false;
    }
}

// Every interactive element under iface, with the names it offers.
void collect(QAccessibleInterface *iface, QStringList &unnamed, QStringList &names)
{
    if (!iface || iface->state().invisible)
        return;
    QWidget *widget = qobject_cast<QWidget *>(iface->object());
    const bool focusable = widget && widget->focusPolicy() != Qt::NoFocus;
    const QString name = iface->text(QAccessible::Name).trimmed();
    if (isInteractive(iface->role()) || (focusable && iface->role() != QAccessible::Client &&
                                         iface->role() != QAccessible::Grouping)) {
        if (name.isEmpty())
            unnamed << QStringLiteral("%1 (role %2)")
                           .arg(iface->object() ? iface->object()->metaObject()->className() : "?")
                           .arg(int(iface->role()));
        else
            names << name;
    }
    for (int i = 0; i < iface->childCount(); ++i)
        collect(iface->child(i), unnamed, names);
}

} // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        TrimoraApp::configureApplication();
        Player::setDefaultOutput(Player::Output::SilentSurface);
    }

    void everyControlHasAName()
    {
        TrimoraApp app;
        AppWindow *window = app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ContentView *content = window->content();
        QStringList unnamed, names;
        collect(QAccessible::queryAccessibleInterface(content), unnamed, names);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
        QVERIFY(names.contains(QStringLiteral("Open Video…")));

        QVERIFY(loadAndWait(*content->viewModel(), QStringLiteral("movie.mp4")));
        QTest::qWait(100);
        unnamed.clear();
        names.clear();
        collect(QAccessible::queryAccessibleInterface(content->editor()), unnamed, names);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
        QVERIFY(names.contains(QStringLiteral("Play")));
        QVERIFY(!QAccessible::queryAccessibleInterface(content->editor()->waveform())
                     ->text(QAccessible::Name)
                     .isEmpty());

        content->viewModel()->togglePlayPause();
        names.clear();
        collect(QAccessible::queryAccessibleInterface(content->editor()), unnamed, names);
        QVERIFY(names.contains(QStringLiteral("Pause")));
        content->viewModel()->togglePlayPause();
        window->close();
    }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
