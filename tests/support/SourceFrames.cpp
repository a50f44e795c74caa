#include "support/SourceFrames.h"

#include "media/Player.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace trimora;

namespace {

// The clock and counter of testsrc2 sit in the top-left third.
QRect cornerRect(const QSize &size)
{
    return {0, 0, size.width() * 3 / 8, size.height() * 2 / 9};
}

QImage grayCorner(const QImage &frame)
{
    return frame.copy(cornerRect(frame.size())).convertToFormat(QImage::Format_Grayscale8);
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

} // namespace

SourceFrames decodeSourceFrames(const QString &name)
{
    SourceFrames frames;
    const QString input = QStringLiteral("file:") + media(name);
    const QByteArray start =
        run(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", input});
    frames.origin = start.trimmed().toDouble();
    const QByteArray times = run(QStringLiteral("ffprobe"),
                                 {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                  "frame=best_effort_timestamp_time", "-of", "csv=p=0", input});
    for (const QByteArray &line : times.split('\n')) {
        bool ok = false;
        // A frame with side data gets an empty field after its time.
        const double t = line.split(',').first().trimmed().toDouble(&ok);
        if (ok)
            frames.times.append(t - frames.origin);
    }
    const QByteArray size =
        run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=width,height", "-of", "csv=p=0:s=x", input});
    // MPEG-TS lists its streams twice, once under their program; side data
    // (MPEG-2's buffer sizes) adds an empty field.
    const QList<QByteArray> wh = size.trimmed().split('\n').first().split('x');
    if (wh.size() < 2)
        return {};
    const int width = wh[0].toInt();
    const int height = wh[1].toInt();
    const QByteArray pixels =
        run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-nostdin", "-i", input, "-map", "0:v:0", "-fps_mode", "passthrough",
             "-pix_fmt", "bgr0", "-f", "rawvideo", "-"});
    const qsizetype frameBytes = qsizetype(width) * height * 4;
    if (frameBytes <= 0)
        return {};
    for (qsizetype at = 0; at + frameBytes <= pixels.size(); at += frameBytes) {
        const QImage frame(reinterpret_cast<const uchar *>(pixels.constData() + at), width, height,
                           width * 4, QImage::Format_RGB32);
        frames.corners.append(grayCorner(frame));
    }
    return frames;
}

int SourceFrames::frameAt(double t) const
{
    int found = 0;
    for (int i = 0; i < times.size(); ++i) {
        if (times[i] <= t + 1e-6)
            found = i;
    }
    return found;
}

namespace {

// The mean difference of the pixels on every step-th row and column.
double cornerDifference(const QImage &corner, const QImage &source, int step = 1)
{
    if (corner.size() != source.size())
        return std::numeric_limits<double>::infinity();
    long sum = 0;
    long count = 0;
    for (int y = 0; y < corner.height(); y += step) {
        const uchar *a = corner.constScanLine(y);
        const uchar *b = source.constScanLine(y);
        for (int x = 0; x < corner.width(); x += step, ++count)
            sum += std::abs(int(a[x]) - int(b[x]));
    }
    return count > 0 ? double(sum) / double(count) : 0.0;
}

} // namespace

double SourceFrames::difference(const QImage &picture, int i) const
{
    return cornerDifference(grayCorner(picture), corners.at(i));
}

int SourceFrames::match(const QImage &picture) const
{
    // A sparse look at every frame picks the few worth a close one.
    const QImage corner = grayCorner(picture);
    QVector<QPair<double, int>> sparse;
    for (int i = 0; i < corners.size(); ++i)
        sparse.append({cornerDifference(corner, corners[i], 3), i});
    const qsizetype close = std::min<qsizetype>(sparse.size(), 4);
    std::partial_sort(sparse.begin(), sparse.begin() + close, sparse.end());
    int best = -1;
    double bestDifference = std::numeric_limits<double>::infinity();
    for (qsizetype k = 0; k < close; ++k) {
        const double d = cornerDifference(corner, corners[sparse[k].second]);
        if (d < bestDifference) {
            bestDifference = d;
            best = sparse[k].second;
        }
    }
    return best;
}

int SourceFrames::shownBy(const Player &player) const
{
    QImage picture = player.currentFrame();
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(20);
        const QImage again = player.currentFrame();
        if (again == picture && !again.isNull())
            break;
        picture = again;
    }
    return match(picture);
}
