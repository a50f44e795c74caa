#include "media/CutSource.h"
#include "model/SoundOverview.h"
#include "model/ThumbnailStrip.h"
#include "model/TimeText.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <cmath>
#include <limits>
#include <memory>

using namespace trimora;

namespace {

// nav.mp4 names each frame n by its grey level, 40 + 37n mod 180, except
// the black from 6 to 8 s; 25 fps, a keyframe every 2 s.
int greyOfFrame(int n)
{
    const double luma = n >= 150 && n < 200 ? 16 : 40 + (n * 37) % 180;
    return qRound((luma - 16) * 255 / 219);
}

int meanGrey(const QImage &image)
{
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return int(sum / (qint64(image.width()) * image.height()));
}

} // namespace

class NavigationTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What a typed text becomes in a 100 s movie with frames at 0.04, 0.08
    // and 0.12 s; nothing for text that is no time.
    void typedTimes()
    {
        const std::vector<double> frames = {0.04, 0.08, 0.12};
        const double none = -1;
        const double inf = std::numeric_limits<double>::infinity();
        struct Row
        {
            const char *text;
            double seconds;
        };
        // clang-format off
        for (const Row &row : {
                 Row{"01:02:03.004", 100},  Row{"0:01:02.5", 62.5},  Row{"1:30", 90},
                 Row{"75:00", 100},         Row{"00:12.25", 12.25},  Row{"12.5", 12.5},
                 Row{" 7 ", 7},             Row{".5", 0.5},          Row{"0", 0},
                 Row{"0f", 0.04},           Row{"2F", 0.12},         Row{"3f", 0.12},
                 Row{"99999999999999999999999999f", 0.12},
                 Row{"999999999999999999999999999999:00:00", 100},
                 Row{"", none},   Row{"  ", none},   Row{"abc", none},    Row{"-5", none},
                 Row{"+5", none}, Row{"1e3", none},  Row{"12,5", none},   Row{"5.", none},
                 Row{"1:75", none},  Row{"1:60:00", none}, Row{":30", none}, Row{"1:2:3:4", none},
                 Row{"1: 30", none}, Row{"f", none},    Row{"5.5f", none}, Row{"-1f", none},
                 Row{"\u0663", none}, Row{"nan", none}, Row{"inf", none}}) {
            // clang-format on
            const TypedTime typed = parseTimeText(QString::fromUtf8(row.text));
            const std::optional<double> at = resolveTypedTime(typed, 100, frames);
            if (row.seconds == none) {
                QVERIFY2(typed.kind == TypedTime::Kind::Invalid && !typed.problem.isEmpty() && !at,
                         row.text);
                continue;
            }
            QVERIFY2(at && qAbs(*at - row.seconds) < 1e-9,
                     qPrintable(QStringLiteral("%1: %2").arg(row.text).arg(at.value_or(inf))));
        }
        // A frame number needs the frames; without them it is no time yet.
        QVERIFY(!resolveTypedTime(parseTimeText(u"2f"), 100, {}));
        QCOMPARE(*resolveTypedTime(parseTimeText(u"20"), 0, {}), 0.0);
    }

    // The marks moved to a time stay inside the movie and in order.
    void marksMovedToATimeClamp()
    {
        struct Row
        {
            const char *what;
            bool in;
            double t, in2, out2;
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (const Row &row :
             {Row{"In", true, 3, 3, 9}, Row{"In past Out stops at Out", true, 10, 9, 9},
              Row{"In before the start", true, -2, 0, 9},
              Row{"In at NaN goes to 0", true, nan, 0, 9},
              Row{"In to the microsecond", true, 2.0000004, 2, 9}, Row{"Out", false, 5, 1, 5},
              Row{"Out before In stops at In", false, 0.5, 1, 1},
              Row{"Out past the end", false, 20, 1, 12.5},
              Row{"Out at NaN goes to In", false, nan, 1, 1}}) {
            VideoEditorViewModel model;
            model.setVideoDuration(12.5);
            model.setInPointValue(1);
            model.setOutPointValue(9);
            if (row.in)
                model.setInPointAt(row.t);
            else
                model.setOutPointAt(row.t);
            QVERIFY2(model.inPoint() == row.in2 && model.outPoint() == row.out2, row.what);
        }
    }

    // The strip's pictures are the movie's: before the keyframes are known,
    // the keyframe before each time, found by seeking; once they are, the
    // very frames asked for, B-frames and the last one too. With an index
    // (MP4) and without one, found by timestamp (MPEG-TS).
    void picturesAreTheMoviesFrames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("MP4") << "nav.mp4";
        QTest::newRow("MPEG-TS") << "nav.ts";
    }

    void picturesAreTheMoviesFrames()
    {
        QFETCH(QString, name);
        ThumbnailStrip strip;
        strip.setSource(QUrl::fromLocalFile(media(name)));
        const auto check = [&](const QVector<double> &times, ThumbnailStrip::Pick pick,
                               const QVector<int> &frames) {
            strip.request(times, pick);
            if (!waitFor(
                    [&] {
                        return std::all_of(times.begin(), times.end(), [&](double t) {
                            return !strip.picture(t, pick).isNull();
                        });
                    },
                    20000)) {
                QString missing = QStringLiteral("no picture at");
                for (double t : times) {
                    if (strip.picture(t, pick).isNull())
                        missing += QStringLiteral(" %1 s").arg(t);
                }
                return missing;
            }
            for (int i = 0; i < times.size(); ++i) {
                const QImage picture = strip.picture(times[i], pick);
                if (picture.height() != 72 || picture.width() != 128)
                    return QStringLiteral("%1 x %2").arg(picture.width()).arg(picture.height());
                const int grey = meanGrey(picture);
                if (qAbs(grey - greyOfFrame(frames[i])) > 6)
                    return QStringLiteral("at %1 s grey %2, frame %3's is %4")
                        .arg(times[i])
                        .arg(grey)
                        .arg(frames[i])
                        .arg(greyOfFrame(frames[i]));
            }
            return QString();
        };
        using Pick = ThumbnailStrip::Pick;
        QCOMPARE(check({3.3, 6.5, 11.9, 0.0}, Pick::Keyframe, {50, 150, 250, 0}), QString());
        QCOMPARE(strip.aspect(), 128.0 / 72);

        const std::shared_ptr<const VideoIndex> index = readVideoIndex(name);
        QVERIFY(index && index->framePts.size() == 500);
        strip.setIndex(index);
        QVector<double> times;
        const QVector<int> frames = {1, 2, 3, 77, 78, 201, 499, 250, 249};
        for (int n : frames)
            times.append(index->framePts[std::size_t(n)] + 0.01);
        QCOMPARE(check(times, Pick::Frame, frames), QString());
        // Keyframes asked for by name now come from what was decoded before.
        QVERIFY(!strip.picture(10.5, Pick::Keyframe).isNull());
    }

    // The overview reads the whole sound: the silence from 12 to 15 s is
    // silent, the tone around it is not; a movie without sound has none.
    void overviewShowsSilenceAndSound()
    {
        SoundOverview overview;
        QSignalSpy changes(&overview, &SoundOverview::levelsChanged);
        overview.start(QUrl::fromLocalFile(media(QStringLiteral("nav.mp4"))), 20.0);
        QVERIFY(!overview.isComplete());
        QVERIFY(waitFor([&] { return overview.isComplete(); }, 20000));
        const QVector<float> &levels = overview.levels();
        const double per = overview.secondsPerValue();
        QCOMPARE(levels.size(), qsizetype(std::ceil(20.0 / per)));
        for (qsizetype i = 0; i < levels.size(); ++i) {
            const double t = i * per;
            if (t > 12.1 && t < 14.9)
                QVERIFY2(levels[i] < 0.01, qPrintable(QString::number(t)));
            else if ((t > 0.2 && t < 11.9) || (t > 15.1 && t < 19.8))
                QVERIFY2(levels[i] > 0.08, qPrintable(QString::number(t)));
        }
        overview.start(QUrl::fromLocalFile(media(QStringLiteral("noaudio.mp4"))), 4.0);
        QVERIFY(waitFor([&] { return overview.isComplete(); }, 20000));
        QVERIFY(overview.levels().isEmpty());
    }
};

QTEST_MAIN(NavigationTest)
#include "test_navigation.moc"
