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

struct Measured
{
    QRgb text = 0;
    QRgb background = 0;
    double ratio = 0.0;
};

QColor writtenIn(QWidget *w)
{
    if (auto *plain = qobject_cast<PlainButton *>(w))
        return plain->color();
    const QPalette &p = w->palette();
    if (auto *field = qobject_cast<QLineEdit *>(w))
        return p.color(field->text().isEmpty() ? QPalette::PlaceholderText : QPalette::Text);
    if (auto *pane = qobject_cast<QPlainTextEdit *>(w))
        return p.color(pane->toPlainText().isEmpty() ? QPalette::PlaceholderText : QPalette::Text);
    if (qobject_cast<QTextEdit *>(w))
        return p.color(QPalette::Text);
    if (qobject_cast<QAbstractButton *>(w))
        return p.color(QPalette::ButtonText);
    return p.color(w->foregroundRole());
}

Measured measure(const QImage &shot, const QRect &box, const QColor &text)
{
    QHash<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[shot.pixel(x, y)];
    Measured m;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            m.background = it.key();
        }
    }
    const QColor under(m.background);
    const double a = text.alphaF();
    m.text = QColor::fromRgbF(static_cast<float>(text.redF() * a + under.redF() * (1 - a)),
                              static_cast<float>(text.greenF() * a + under.greenF() * (1 - a)),
                              static_cast<float>(text.blueF() * a + under.blueF() * (1 - a)))
                 .rgb();
    m.ratio = contrast(m.text, m.background);
    return m;
}

QString textOf(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *field = qobject_cast<QLineEdit *>(w))
        return field->text().isEmpty() ? field->placeholderText() : field->text();
    if (auto *pane = qobject_cast<QPlainTextEdit *>(w))
        return pane->toPlainText().isEmpty() ? pane->placeholderText() : pane->toPlainText();
    if (auto *view = qobject_cast<QTextEdit *>(w))
        return view->toPlainText();
    return {};
}

// Checks every shown, enabled widget with a text; returns how many.
int checkTexts(QWidget &window, const QStringList &expected)
{
    const QImage shot = grabbed(window);
    QStringList seen, failed;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        const QString text = textOf(w);
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
        const Measured m = measure(shot, rect, writtenIn(w));
        const QString what =
            QStringLiteral("\"%1\" (%2 on %3): %4:1")
                .arg(text.left(30), QColor(m.text).name(), QColor(m.background).name())
                .arg(m.ratio, 0, 'f', 2);
        if (m.ratio < 4.5)
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
