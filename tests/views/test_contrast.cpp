#include "app/ContentView.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/PlainButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <cmath>

using namespace trimora;

// Every text of the window against what is really behind it: the background
// is the commonest colour of the text's box as drawn, the text the colour the
// widget writes in (its palette, or a plain button's own), laid over it.
namespace {

double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text a widget shows and the colour it writes it in (its palette, or a
// plain button's own); an empty text for widgets without one.
std::pair<QString, QColor> textAndColour(QWidget *w)
{
    const QPalette &p = w->palette();
    auto typed = [&](const QString &text, const QString &placeholder) {
        return std::pair{text.isEmpty() ? placeholder : text,
                         p.color(text.isEmpty() ? QPalette::PlaceholderText : QPalette::Text)};
    };
    if (auto *plain = qobject_cast<PlainButton *>(w))
        return {plain->text(), plain->color()};
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return {button->text(), p.color(QPalette::ButtonText)};
    if (auto *label = qobject_cast<QLabel *>(w))
        return {label->text(), p.color(w->foregroundRole())};
    if (auto *field = qobject_cast<QLineEdit *>(w))
        return typed(field->text(), field->placeholderText());
    if (auto *pane = qobject_cast<QPlainTextEdit *>(w))
        return typed(pane->toPlainText(), pane->placeholderText());
    if (auto *view = qobject_cast<QTextEdit *>(w))
        return {view->toPlainText(), p.color(QPalette::Text)};
    return {};
}

// Checks every shown, enabled widget with a text; returns how many.
int checkTexts(QWidget &window, const QStringList &expected)
{
    const QImage shot = grabbed(window);
    QStringList seen, failed;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        const auto [text, colour] = textAndColour(w);
        if (text.isEmpty() || !w->isVisible() || !w->isEnabled())
            continue;
        QWidget *box = w;
        if (auto *scroll = qobject_cast<QAbstractScrollArea *>(w))
            box = scroll->viewport();
        // Inside the frame of a framed control.
        const bool framed =
            (qobject_cast<QAbstractButton *>(w) && !qobject_cast<PlainButton *>(w)) ||
            qobject_cast<QLineEdit *>(w);
        const int inset = framed ? 3 : 0;
        const QRect rect = QRect(box->mapTo(&window, QPoint(0, 0)), box->size())
                               .adjusted(inset, inset, -inset, -inset) &
                           shot.rect();
        // The background is the commonest colour of the box; the text is laid over it.
        QHash<QRgb, int> counts;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                ++counts[shot.pixel(x, y)];
        QRgb background = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        const QColor under(background);
        const double a = colour.alphaF();
        const QRgb written =
            QColor::fromRgbF(static_cast<float>(colour.redF() * a + under.redF() * (1 - a)),
                             static_cast<float>(colour.greenF() * a + under.greenF() * (1 - a)),
                             static_cast<float>(colour.blueF() * a + under.blueF() * (1 - a)))
                .rgb();
        const double ratio = contrast(written, background);
        const QString what =
            QStringLiteral("\"%1\" (%2 on %3): %4:1")
                .arg(text.left(30), QColor(written).name(), QColor(background).name())
                .arg(ratio, 0, 'f', 2);
        if (ratio < 4.5)
            failed << what;
        seen << what;
    }
    for (const QString &failure : failed)
        qWarning("%s", qPrintable(failure));
    if (!failed.isEmpty())
        return -1;
    for (const QString &text : expected) {
        if (!seen.filter(QLatin1Char('"') + text).isEmpty())
            continue;
        qWarning("not checked: %s", qPrintable(text));
        return -1;
    }
    return static_cast<int>(seen.size());
}

int hue(QWidget *w)
{
    return w->palette().color(w->foregroundRole()).hslHue();
}

} // namespace

class ContrastTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::SilentSurface); }

    void everyTextReadsOnItsBackground()
    {
        ContentView window;
        window.resize(960, 720);
        QVERIFY(showExposed(&window));
        const int dropZone = checkTexts(window, {"Drop a video file here", "or", "Open Video…"});

        VideoEditorViewModel *model = window.viewModel();
        QVERIFY(loadAndWait(*model, QStringLiteral("clip1s.mp4")));
        model->setBlackWhiteFrames({0.2, 0.7}); // "2 found" and the marker buttons
        QTest::qWait(200);
        const int editorTexts =
            checkTexts(window, {"Open…", "/ 00:00:01", "In: ", "Out: ", "00:00:01", "2 found",
                                "Output:", "$", "Export", "Export log will"});
        QVERIFY(dropZone > 0);
        QVERIFY(editorTexts > 0);

        // The colours keep their roles.
        EditorView *editor = window.editor();
        const int in = hue(editor->findChild<QLabel *>(QStringLiteral("inTime")));
        const int out = hue(editor->findChild<QLabel *>(QStringLiteral("outTime")));
        QVERIFY2(in > 90 && in < 160, qPrintable(QString::number(in)));
        QVERIFY2(out < 15 || out > 345, qPrintable(QString::number(out)));
    }
};

QTEST_MAIN(ContrastTest)
#include "test_contrast.moc"
