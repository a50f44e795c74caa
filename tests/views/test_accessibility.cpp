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
    return QList<QAccessible::Role>{QAccessible::Button,       QAccessible::CheckBox,
                                    QAccessible::RadioButton,  QAccessible::ComboBox,
                                    QAccessible::EditableText, QAccessible::Slider,
                                    QAccessible::SpinBox,      QAccessible::ProgressBar}
        .contains(role);
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
        // The names offered under root; fails on any control without one.
        auto names = [](QWidget *root) {
            QStringList unnamed, offered;
            collect(QAccessible::queryAccessibleInterface(root), unnamed, offered);
            if (!unnamed.isEmpty())
                qWarning("unnamed: %s", qPrintable(unnamed.join(QStringLiteral(", "))));
            return unnamed.isEmpty() ? offered : QStringList();
        };
        QVERIFY(names(content).contains(QStringLiteral("Open Video…")));
        QVERIFY(loadAndWait(*content->viewModel(), QStringLiteral("movie.mp4")));
        QTest::qWait(100);
        QVERIFY(names(content->editor()).contains(QStringLiteral("Play")));
        QVERIFY(!QAccessible::queryAccessibleInterface(content->editor()->waveform())
                     ->text(QAccessible::Name)
                     .isEmpty());
        content->viewModel()->togglePlayPause();
        QVERIFY(names(content->editor()).contains(QStringLiteral("Pause")));
        content->viewModel()->togglePlayPause();
        window->close();
    }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
