#include "model/VideoEditorViewModel.h"

#include "media/MediaProbe.h"
#include "model/Analysis.h"
#include "model/Exports.h"
#include "model/Movie.h"
#include "model/ProjectKeeper.h"
#include "model/Segments.h"
#include "model/Transport.h"

namespace trimora {

VideoEditorViewModel::VideoEditorViewModel(QObject *parent)
    : QObject(parent), m_movie(new Movie(this)), m_transport(new Transport(*m_movie, this)),
      m_segments(new Segments(this)), m_analysis(new Analysis(*m_movie, this)),
      m_exports(new Exports(*m_movie, *m_segments, this)),
      m_project(new ProjectKeeper(*m_movie, *m_segments, *m_exports, this))
{
    connect(m_project, &ProjectKeeper::notice, this, &VideoEditorViewModel::notice);
    connect(m_movie, &Movie::probed, this, &VideoEditorViewModel::finishLoading);
    connect(m_movie, &Movie::notice, this, &VideoEditorViewModel::notice);
    connect(m_transport, &Transport::currentTimeChanged, this,
            [this] { m_analysis->updateWaveformIfNeeded(m_transport->currentTime()); });
}

VideoEditorViewModel::~VideoEditorViewModel()
{
    // While the parts it reads are all still there.
    m_project->flush();
}

void VideoEditorViewModel::loadVideo(const QUrl &url)
{
    m_movie->probe(url);
}

void VideoEditorViewModel::finishLoading(const QUrl &url, const MediaTiming &timing)
{
    m_movie->adopt(url, timing);
    m_analysis->reset();
    m_transport->open(url.toLocalFile(), timing);
    m_exports->setLogOutput(QString());
    m_segments->reset(timing.duration);
    m_movie->setLoaded();
    m_exports->adoptDefaultOutputPath(url);
    m_project->movieLoaded();
}

void VideoEditorViewModel::setInPoint()
{
    m_transport->whenLanded([this] {
        const double t = m_transport->currentTime();
        if (m_segments->selected() >= 0 && t > m_segments->outPoint())
            Q_EMIT notice(tr("In cannot be after Out"));
        else
            m_segments->setIn(t);
    });
}

void VideoEditorViewModel::setOutPoint()
{
    m_transport->whenLanded([this] {
        const double t = m_transport->currentTime();
        if (m_segments->selected() >= 0 && t < m_segments->inPoint())
            Q_EMIT notice(tr("Out cannot be before In"));
        else
            m_segments->setOut(t);
    });
}

void VideoEditorViewModel::splitSegment()
{
    m_transport->whenLanded([this] {
        if (!m_segments->splitAt(m_transport->currentTime()))
            Q_EMIT notice(tr("There is no segment to split at the playhead"));
    });
}

void VideoEditorViewModel::addSegment()
{
    m_transport->whenLanded([this] {
        if (!m_segments->addAt(m_transport->currentTime()))
            Q_EMIT notice(tr("The playhead is inside a segment: a new one starts in a gap"));
    });
}

void VideoEditorViewModel::goToPreviousMarker()
{
    if (const std::optional<double> target = m_analysis->previousMarker(m_transport->currentTime()))
        m_transport->seek(*target);
}

void VideoEditorViewModel::goToNextMarker()
{
    if (const std::optional<double> target = m_analysis->nextMarker(m_transport->currentTime()))
        m_transport->seek(*target);
}

} // namespace trimora
