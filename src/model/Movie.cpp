#include "model/Movie.h"

#include "media/CutSource.h"
#include "media/ExactSource.h"

#include <QFile>

#include <algorithm>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

} // namespace

Movie::Movie(QObject *parent) : QObject(parent)
{}

Movie::~Movie() = default;

void Movie::probe(const QUrl &url)
{
    const WorkSlot::Ticket ticket = m_probe.start();
    runInBackground([this, ticket, url] {
        const std::optional<MediaTiming> timing = probeDuration(url.toLocalFile());
        ticket.post([this, ticket, url, timing] {
            m_probe.finish(ticket);
            if (timing)
                Q_EMIT probed(url, *timing);
            else
                Q_EMIT notice(tr("Could not open %1: not a playable movie").arg(url.fileName()));
        });
    });
}

void Movie::adopt(const QUrl &url, const MediaTiming &timing)
{
    const bool newURL = url != m_sourceURL;
    const bool newDuration = timing.duration != m_timing.duration;
    m_sourceURL = url;
    m_timing = timing;
    if (newURL)
        Q_EMIT sourceURLChanged();
    if (newDuration)
        Q_EMIT videoDurationChanged();
    startCutSourceRead();
}

void Movie::setLoaded()
{
    if (m_isLoaded)
        return;
    m_isLoaded = true;
    Q_EMIT isLoadedChanged();
}

void Movie::startCutSourceRead()
{
    const WorkSlot::Ticket ticket = m_cutSource.start();
    m_cutSourceReady = false;
    m_layout.reset();
    m_index.reset();
    m_packets.cancel();
    m_packetsRead = false;
    m_exact.reset();
    if (!m_keyframes.isEmpty()) {
        m_keyframes.clear();
        Q_EMIT keyframesChanged();
    }
    Q_EMIT cutSourceChanged();

    const std::string path = QFile::encodeName(m_sourceURL.toLocalFile()).toStdString();
    runInBackground([this, ticket, path] {
        const bool opened = readCutSource(
            path, [&ticket] { return ticket.isCancelled(); },
            [&](SourceLayout layout) {
                ticket.post([this, layout = std::make_shared<const SourceLayout>(
                                       std::move(layout))]() mutable {
                    m_layout = std::move(layout);
                    Q_EMIT cutSourceChanged();
                });
            },
            [&](VideoIndex index) {
                ticket.post(
                    [this, index = std::make_shared<const VideoIndex>(std::move(index))]() mutable {
                        m_index = std::move(index);
                        m_cutSourceReady = true;
                        if (m_index->endsEarlyAt)
                            Q_EMIT notice(tr("%1 ends early: its picture stops at %2 s of %3 s")
                                              .arg(m_sourceURL.fileName(),
                                                   QString::number(*m_index->endsEarlyAt, 'f', 2),
                                                   QString::number(m_timing.duration, 'f', 2)));
                        const QVector<double> keyframes(m_index->keyframes.begin(),
                                                        m_index->keyframes.end());
                        // Not QVector's ==: Qt 6.4 hands memcmp a null pointer for
                        // an empty list.
                        if (!std::equal(keyframes.begin(), keyframes.end(), m_keyframes.begin(),
                                        m_keyframes.end())) {
                            m_keyframes = keyframes;
                            Q_EMIT keyframesChanged();
                        }
                        Q_EMIT cutSourceChanged();
                    });
            });
        // Nothing can be learnt of the file; a cut goes by the marks alone.
        if (!opened) {
            ticket.post([this] {
                m_cutSourceReady = true;
                Q_EMIT cutSourceChanged();
            });
        }
    });
}

void Movie::readPackets()
{
    if (m_packetsRead || m_packets.isBusy() || m_sourceURL.isEmpty())
        return;
    const WorkSlot::Ticket ticket = m_packets.start();
    const std::string path = QFile::encodeName(m_sourceURL.toLocalFile()).toStdString();
    runInBackground([this, ticket, path] {
        std::optional<ExactSource> read =
            readExactSource(path, [&ticket] { return ticket.isCancelled(); });
        ticket.post([this, ticket,
                     exact = read ? std::make_shared<const ExactSource>(std::move(*read))
                                  : nullptr]() mutable {
            m_packets.finish(ticket);
            m_exact = std::move(exact);
            m_packetsRead = true;
            Q_EMIT cutSourceChanged();
        });
    });
}

std::optional<double> Movie::frameStartAt(double t) const
{
    if (!m_index)
        return std::nullopt;
    const std::vector<double> &starts = m_index->framePts;
    const auto after = std::upper_bound(starts.begin(), starts.end(), t + tiny);
    if (after == starts.begin())
        return std::nullopt;
    return *std::prev(after);
}

} // namespace trimora
