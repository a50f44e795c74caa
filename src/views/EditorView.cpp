#include "views/EditorView.h"

#include "media/CutSource.h"
#include "media/Player.h"
#include "model/Analysis.h"
#include "model/Exports.h"
#include "model/Movie.h"
#include "model/Segments.h"
#include "model/TimeText.h"
#include "model/Transport.h"
#include "model/VideoEditorViewModel.h"
#include "views/CommandRow.h"
#include "views/KeyboardShortcuts.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/PlainButton.h"
#include "views/PlayerView.h"
#include "views/ScanRow.h"
#include "views/SegmentListView.h"
#include "views/SoundOverviewView.h"
#include "views/Theme.h"
#include "views/TimeField.h"
#include "views/TimeFormat.h"
#include "views/TimelineView.h"
#include "views/WaveformView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <map>

namespace trimora {

namespace {

// At the smallest window the player gives way first, down to this height, so
// that every control below it stays whole; a taller window's height goes to it.
constexpr int smallestPlayerHeight = 80;
constexpr int smallestWaveformWidth = 60;
// The ten seconds around the playhead need no more height than this.
constexpr int waveformHeight = 40;
constexpr int logPaneHeight = 120;
constexpr int segmentListMinimumWidth = 200;

// A bordered step button no wider than its label needs: nine of them and the
// waveform share the row at the smallest window width.
class StepButton : public QToolButton
{
public:
    using QToolButton::QToolButton;
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + 12, QToolButton::sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

// The small coloured bar beside the In and Out times.
class MarkBar : public QWidget
{
public:
    MarkBar(const QColor &color, QWidget *parent) : QWidget(parent), m_color(color)
    {
        setFixedSize(3, 10);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 1, 1);
        painter.fillPath(path, m_color);
    }

private:
    QColor m_color;
};

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel *label(const QFont &font, const QColor &color, QWidget *parent)
{
    auto *text = new QLabel(parent);
    text->setFont(font);
    Theme::setForeground(text, color);
    return text;
}

QFont mediumTitleFont()
{
    QFont font = Theme::font(Theme::TextStyle::Title3, true);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

EditorView::EditorView(VideoEditorViewModel *viewModel,
                       std::function<void(bool)> setShowFileImporter, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel),
      m_setShowFileImporter(std::move(setShowFileImporter)), m_layout(new QVBoxLayout(this))
{
    // The picture and the controls on the left; the segments on the right,
    // the window's whole height, so that a long list stays in view.
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(split);
    auto *left = new QWidget(split);
    m_controlsSide = left;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    leftLayout->addWidget(buildVideoArea(left), 1);
    leftLayout->addWidget(divider(left));
    m_segmentList = new SegmentListView(m_viewModel, split);
    m_segmentList->setContentsMargins(0, 8, 8, 8);
    m_segmentList->setMinimumWidth(segmentListMinimumWidth);
    split->addWidget(left);
    split->addWidget(m_segmentList);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({500, 460});

    auto *column = new QWidget(left);
    auto *controls = new QVBoxLayout(column);
    controls->setContentsMargins(12, 12, 12, 12);
    // Eight, not more: at the smallest window every row must still fit.
    controls->setSpacing(8);
    controls->addWidget(buildTimeRow());

    VideoEditorViewModel *model = m_viewModel;
    Transport *transport = model->transport();
    Segments *segments = model->segments();
    Analysis *analysis = model->analysis();
    m_timeline = new TimelineView(column);
    m_timeline->setAccessibleName(tr("Timeline"));
    m_timeline->setAccessibleDescription(
        tr("Playhead, segments with In and Out marks; drag to move the nearest one; Ctrl+wheel "
           "zooms"));
    m_timeline->setThumbnails(analysis->thumbnails());
    connect(m_timeline, &TimelineView::seekRequested, transport, &Transport::seek);
    connect(m_timeline, &TimelineView::markMoveRequested, this,
            [segments](TimelineView::Handle handle, double t) {
                if (handle == TimelineView::Handle::InMark)
                    segments->setIn(t);
                else
                    segments->setOut(t);
            });
    // One drag of a mark is one step of the history.
    connect(m_timeline, &TimelineView::markDragStarted, segments, &Segments::beginDrag);
    connect(m_timeline, &TimelineView::markDragFinished, segments, &Segments::endDrag);
    m_soundOverview = new SoundOverviewView(column);
    m_soundOverview->setAccessibleName(tr("Sound of the whole movie"));
    m_soundOverview->setOverview(analysis->soundOverview());
    connect(m_soundOverview, &SoundOverviewView::seekRequested, transport, &Transport::seek);
    connect(m_timeline, &TimelineView::viewChanged, this, [this] {
        m_soundOverview->setShown(m_timeline->axis().start, m_timeline->axis().end());
    });
    // Timeline and overview read as one.
    auto *navigation = new QVBoxLayout;
    navigation->setSpacing(2);
    navigation->addWidget(m_timeline);
    navigation->addWidget(m_soundOverview);
    controls->addLayout(navigation);

    controls->addWidget(buildMarksInfoRow());
    controls->addWidget(buildTransportRow());
    controls->addWidget(buildMarksRow());
    controls->addWidget(new ScanRow(model, column));
    controls->addWidget(divider(column));
    m_outputRow = new OutputRow(model->exports(), column);
    controls->addWidget(m_outputRow);
    m_commandRow = new CommandRow(model->exports(), column);
    // Its room stays while it is hidden, so nothing below it jumps.
    QSizePolicy keepRoom = m_commandRow->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_commandRow->setSizePolicy(keepRoom);
    controls->addWidget(m_commandRow);
    // The log gives way to the player at small heights, down to three lines:
    // the last of them is the status line an export ends with.
    auto *log = new LogPane(model->exports(), column);
    log->setMinimumHeight(3 * log->fontMetrics().lineSpacing() + 2 * 6 + 2 * log->frameWidth());
    log->setMaximumHeight(logPaneHeight);
    controls->addWidget(log, 1);
    leftLayout->addWidget(column);

    Movie *movie = model->movie();
    connect(transport, &Transport::playerChanged, this, &EditorView::syncPlayer);
    connect(transport, &Transport::currentTimeChanged, this, [this, transport] {
        updateTimes();
        const double t = transport->currentTime();
        m_waveform->setCurrentTime(t);
        m_timeline->setPlayhead(t);
        m_soundOverview->setPlayhead(t);
    });
    connect(movie, &Movie::videoDurationChanged, this, [this, movie] {
        updateTimes();
        m_timeline->setDuration(movie->videoDuration());
        m_soundOverview->setDuration(movie->videoDuration());
    });
    connect(segments, &Segments::segmentsChanged, this, &EditorView::updateMarks);
    connect(segments, &Segments::selectionChanged, this, &EditorView::updateMarks);
    connect(transport, &Transport::isPlayingChanged, this, &EditorView::updatePlayPause);
    connect(analysis, &Analysis::blackWhiteFramesChanged, this,
            [this, analysis] { m_timeline->setMarkers(analysis->blackWhiteFrames()); });
    connect(movie, &Movie::cutSourceChanged, this,
            [this, movie] { m_timeline->setVideoIndex(movie->videoIndex()); });
    connect(analysis, &Analysis::waveformSamplesChanged, this,
            [this, analysis] { m_waveform->setSamples(analysis->waveformSamples()); });
    connect(analysis, &Analysis::waveformStartTimeChanged, this,
            [this, analysis] { m_waveform->setStartTime(analysis->waveformStartTime()); });

    m_timeline->setDuration(movie->videoDuration());
    m_timeline->setPlayhead(transport->currentTime());
    m_timeline->setMarkers(analysis->blackWhiteFrames());
    m_timeline->setVideoIndex(movie->videoIndex());
    m_soundOverview->setDuration(movie->videoDuration());
    m_soundOverview->setPlayhead(transport->currentTime());
    m_waveform->setSamples(analysis->waveformSamples());
    m_waveform->setStartTime(analysis->waveformStartTime());
    m_waveform->setCurrentTime(transport->currentTime());
    updateTimes();
    updateMarks();
    updatePlayPause();
    syncPlayer();
    bindKeys();
}

void EditorView::bindKeys()
{
    using KeyboardShortcuts::Command;
    VideoEditorViewModel *model = m_viewModel;
    auto clickIfEnabled = [](QAbstractButton *button) {
        return [button] {
            if (button->isVisible() && button->isEnabled())
                button->click();
        };
    };
    // Open is the window's File menu item, so that it works on the drop zone too.
    Transport *transport = model->transport();
    Segments *segments = model->segments();
    const std::map<Command, std::function<void()>> actions = {
        {Command::PlayPause, [transport] { transport->togglePlayPause(); }},
        {Command::PlayForward, [transport] { transport->playForward(); }},
        {Command::PreviousFrame, [transport] { transport->stepFrames(-1); }},
        {Command::NextFrame, [transport] { transport->stepFrames(1); }},
        {Command::BackOneSecond, [transport] { transport->seekBy(-1); }},
        {Command::ForwardOneSecond, [transport] { transport->seekBy(1); }},
        {Command::PreviousKeyframe, [transport] { transport->goToPreviousKeyframe(); }},
        {Command::NextKeyframe, [transport] { transport->goToNextKeyframe(); }},
        {Command::GoToStart, [transport] { transport->seek(0); }},
        {Command::GoToEnd, [model] { model->transport()->seek(model->movie()->videoDuration()); }},
        {Command::SetIn, [model] { model->setInPoint(); }},
        {Command::SetOut, [model] { model->setOutPoint(); }},
        {Command::GoToIn, [transport, segments] { transport->seek(segments->inPoint()); }},
        {Command::GoToOut, [transport, segments] { transport->seek(segments->outPoint()); }},
        {Command::SplitSegment, [model] { model->splitSegment(); }},
        {Command::AddSegment, [model] { model->addSegment(); }},
        {Command::DeleteSegment, [segments] { segments->removeSelected(); }},
        {Command::PreviousSegment, [segments] { segments->selectInTime(-1); }},
        {Command::NextSegment, [segments] { segments->selectInTime(1); }},
        {Command::MoveSegmentUp, [segments] { segments->moveSelected(-1); }},
        {Command::MoveSegmentDown, [segments] { segments->moveSelected(1); }},
        {Command::ZoomIn, [this] { m_timeline->zoomBy(2); }},
        {Command::ZoomOut, [this] { m_timeline->zoomBy(0.5); }},
        {Command::ZoomToFit, [this] { m_timeline->zoomToFit(); }},
        {Command::Export, clickIfEnabled(m_outputRow->exportButton())},
        {Command::CopyCommand, clickIfEnabled(m_commandRow->copyButton())},
    };
    // Held down, moving keys repeat; toggles must not flicker.
    const QList<Command> repeating = {Command::PreviousFrame,    Command::NextFrame,
                                      Command::BackOneSecond,    Command::ForwardOneSecond,
                                      Command::PreviousKeyframe, Command::NextKeyframe,
                                      Command::ZoomIn,           Command::ZoomOut};
    for (const KeyboardShortcuts::Binding &binding : KeyboardShortcuts::bindings()) {
        const auto action = actions.find(binding.command);
        if (action == actions.end())
            continue;
        for (const QKeySequence &key : binding.keys) {
            auto *shortcut = new QShortcut(key, this);
            shortcut->setContext(Qt::WindowShortcut);
            shortcut->setAutoRepeat(repeating.contains(binding.command));
            connect(shortcut, &QShortcut::activated, this, action->second);
        }
    }
    // A click leaves the focus where it was: a button that the click hides or
    // disables would pass it on to the next in line, the output field, where
    // the next key pressed would replace the path.
    for (QAbstractButton *button : findChildren<QAbstractButton *>())
        button->setFocusPolicy(Qt::TabFocus);
    // Text fields that come and go (a label being edited in the segment list)
    // are guarded as well as the fixed ones.
    qApp->installEventFilter(this);
    m_outputRow->exportButton()->setToolTip(
        KeyboardShortcuts::tooltip(tr("Export the marked range"), Command::Export));
    m_commandRow->copyButton()->setToolTip(
        KeyboardShortcuts::tooltip(tr("Copy command"), Command::CopyCommand));
}

namespace {

bool isEditableText(const QObject *widget)
{
    if (const auto *line = qobject_cast<const QLineEdit *>(widget))
        return !line->isReadOnly();
    if (const auto *text = qobject_cast<const QTextEdit *>(widget))
        return !text->isReadOnly();
    if (const auto *plain = qobject_cast<const QPlainTextEdit *>(widget))
        return !plain->isReadOnly();
    return false;
}

} // namespace

void EditorView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Too narrow for both whole: the controls keep their room and the list
    // steps aside until the window is wider; the timeline still shows every
    // segment, and the keys still edit them.
    const int both = m_controlsSide->minimumSizeHint().width() +
                     std::max(m_segmentList->minimumSizeHint().width(), segmentListMinimumWidth) +
                     style()->pixelMetric(QStyle::PM_SplitterWidth, nullptr, this);
    m_segmentList->setVisible(width() >= both);
}

bool EditorView::eventFilter(QObject *watched, QEvent *event)
{
    // In a text field the editor's keys are the field's: accepting the
    // override hands the key to the field instead of the shortcut. Text that
    // only shows (the log) has no use for them.
    if (event->type() == QEvent::ShortcutOverride && isEditableText(watched) &&
        isAncestorOf(static_cast<QWidget *>(watched))) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const KeyboardShortcuts::Binding &binding : KeyboardShortcuts::bindings()) {
            if (binding.command != KeyboardShortcuts::Command::Open &&
                binding.keys.contains(pressed)) {
                event->accept();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QWidget *EditorView::buildTimeRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *open = new PlainButton(row);
    open->setObjectName(QStringLiteral("open"));
    open->setText(tr("Open…"));
    open->setToolTip(
        KeyboardShortcuts::tooltip(tr("Open a movie"), KeyboardShortcuts::Command::Open));
    open->setFont(Theme::font(Theme::TextStyle::Caption));
    open->setColor(Theme::secondary());
    connect(open, &QAbstractButton::clicked, this, [this] {
        if (m_setShowFileImporter)
            m_setShowFileImporter(true);
    });

    VideoEditorViewModel *model = m_viewModel;
    m_currentTime = new TimeField(QString(), mediumTitleFont(), Theme::primary(), row);
    m_currentTime->label()->setObjectName(QStringLiteral("currentTime"));
    m_currentTime->setCommit([this, model](const QString &text) {
        return typedTime(text, [model](double t) { model->transport()->seek(t); });
    });
    m_lengthLabel = label(Theme::font(Theme::TextStyle::Caption, true), Theme::secondary(), row);
    m_lengthLabel->setObjectName(QStringLiteral("length"));

    // Equal stretches put the current time midway between the two ends.
    layout->addWidget(open, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(m_currentTime, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(m_lengthLabel, 0, Qt::AlignVCenter);
    return row;
}

QWidget *EditorView::buildMarksInfoRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QFont caption = Theme::font(Theme::TextStyle::Caption, true);

    VideoEditorViewModel *model = m_viewModel;
    auto *inBox = new QHBoxLayout;
    inBox->setSpacing(4);
    inBox->addWidget(new MarkBar(Theme::green(), row), 0, Qt::AlignVCenter);
    m_in = new TimeField(QStringLiteral("In: "), caption, Theme::green(), row);
    m_in->label()->setObjectName(QStringLiteral("inTime"));
    m_in->setCommit([this, model](const QString &text) {
        return typedTime(text, [model](double t) { model->segments()->setIn(t); });
    });
    inBox->addWidget(m_in, 0, Qt::AlignVCenter);

    m_selectionLabel = label(caption, Theme::secondary(), row);
    m_selectionLabel->setObjectName(QStringLiteral("selectionLength"));

    auto *outBox = new QHBoxLayout;
    outBox->setSpacing(4);
    m_out = new TimeField(QStringLiteral("Out: "), caption, Theme::red(), row);
    m_out->label()->setObjectName(QStringLiteral("outTime"));
    m_out->setCommit([this, model](const QString &text) {
        return typedTime(text, [model](double t) { model->segments()->setOut(t); });
    });
    outBox->addWidget(m_out, 0, Qt::AlignVCenter);
    outBox->addWidget(new MarkBar(Theme::red(), row), 0, Qt::AlignVCenter);

    layout->addLayout(inBox);
    layout->addStretch(1);
    layout->addWidget(m_selectionLabel, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addLayout(outBox);
    return row;
}

QWidget *EditorView::buildTransportRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QFont caption = Theme::font(Theme::TextStyle::Caption, true);
    VideoEditorViewModel *model = m_viewModel;

    auto addTextButton = [&](const QString &text, std::function<void()> action) {
        auto *button = new StepButton(row);
        button->setText(text);
        button->setFont(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(button, &QToolButton::clicked, this, std::move(action));
        layout->addWidget(button, 0, Qt::AlignVCenter);
        return button;
    };
    // Each step counts from the playhead once earlier steps have landed; seek clamps.
    Transport *transport = model->transport();
    auto addStep = [&](const QString &text, double delta) {
        return addTextButton(text, [transport, delta] { transport->seekBy(delta); });
    };
    using KeyboardShortcuts::Command;
    addStep(QStringLiteral("\u221230s"), -30);
    addStep(QStringLiteral("\u22125s"), -5);
    addStep(QStringLiteral("\u22121s"), -1)
        ->setToolTip(KeyboardShortcuts::tooltip(tr("One second back"), Command::BackOneSecond));
    addStep(QStringLiteral("\u22120.1s"), -0.1);
    // std::round takes halves away from zero.
    auto *snap = addTextButton(QStringLiteral(".000"), [transport] {
        transport->seek(std::round(transport->currentTime()));
    });
    snap->setToolTip(tr("Snap to nearest whole second"));
    addStep(QStringLiteral("+0.1s"), 0.1);
    addStep(QStringLiteral("+1s"), 1)
        ->setToolTip(
            KeyboardShortcuts::tooltip(tr("One second forward"), Command::ForwardOneSecond));
    addStep(QStringLiteral("+5s"), 5);
    addStep(QStringLiteral("+30s"), 30);

    auto *strip = new QWidget(row);
    auto *stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(16, 0, 16, 0);
    m_waveform = new WaveformView(strip);
    m_waveform->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_waveform->setMinimumWidth(smallestWaveformWidth);
    m_waveform->setFixedHeight(waveformHeight);
    m_waveform->setAccessibleName(tr("Audio waveform"));
    m_waveform->setAccessibleDescription(tr("The sound of ten seconds around the playhead"));
    stripLayout->addWidget(m_waveform);
    strip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(strip, 1);

    auto addSymbol = [&](const QString &name, const QString &symbol, int size,
                         std::function<void()> action) {
        auto *button = new PlainButton(row);
        button->setObjectName(name);
        button->setSymbol(symbol, size);
        connect(button, &QAbstractButton::clicked, this, std::move(action));
        layout->addWidget(button, 0, Qt::AlignVCenter);
        return button;
    };
    QAbstractButton *goToStart =
        addSymbol(QStringLiteral("goToStart"), QStringLiteral("backward.end.fill"), 22,
                  [transport] { transport->seek(0); });
    goToStart->setToolTip(KeyboardShortcuts::tooltip(tr("Go to beginning"), Command::GoToStart));
    goToStart->setAccessibleName(tr("Go to beginning"));
    m_playPause = addSymbol(QStringLiteral("playPause"), QStringLiteral("play.circle.fill"), 40,
                            [transport] { transport->togglePlayPause(); });
    m_playPause->setToolTip(KeyboardShortcuts::tooltip(tr("Play or pause"), Command::PlayPause));
    QAbstractButton *goToEnd =
        addSymbol(QStringLiteral("goToEnd"), QStringLiteral("forward.end.fill"), 22,
                  [model] { model->transport()->seek(model->movie()->videoDuration()); });
    goToEnd->setToolTip(KeyboardShortcuts::tooltip(tr("Go to end"), Command::GoToEnd));
    goToEnd->setAccessibleName(tr("Go to end"));
    return row;
}

QWidget *EditorView::buildMarksRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    VideoEditorViewModel *model = m_viewModel;

    using KeyboardShortcuts::Command;
    auto addButton = [&](const QString &text, const QString &help, Command command,
                         std::function<void()> action) {
        auto *button = new QPushButton(text, row);
        button->setAutoDefault(false);
        button->setToolTip(KeyboardShortcuts::tooltip(help, command));
        connect(button, &QPushButton::clicked, this, std::move(action));
        layout->addWidget(button, 0, Qt::AlignVCenter);
    };
    addButton(QStringLiteral("\u25C0 Set In"), tr("Mark current position as In point"),
              Command::SetIn, [model] { model->setInPoint(); });
    addButton(QStringLiteral("Set Out \u25B6"), tr("Mark current position as Out point"),
              Command::SetOut, [model] { model->setOutPoint(); });
    addButton(tr("Go to In"), tr("Go to In point"), Command::GoToIn,
              [model] { model->transport()->seek(model->segments()->inPoint()); });
    addButton(tr("Go to Out"), tr("Go to Out point"), Command::GoToOut,
              [model] { model->transport()->seek(model->segments()->outPoint()); });
    layout->addStretch(1);
    return row;
}

QLabel *EditorView::currentTimeLabel() const
{
    return m_currentTime->label();
}

QLabel *EditorView::inLabel() const
{
    return m_in->label();
}

QLabel *EditorView::outLabel() const
{
    return m_out->label();
}

QString EditorView::typedTime(const QString &text, const std::function<void(double)> &apply) const
{
    const TypedTime typed = parseTimeText(text);
    if (typed.kind == TypedTime::Kind::Invalid)
        return typed.problem;
    const Movie &movie = *m_viewModel->movie();
    const std::shared_ptr<const VideoIndex> index = movie.videoIndex();
    const std::optional<double> t = resolveTypedTime(
        typed, movie.videoDuration(), index ? index->framePts : std::vector<double>());
    if (!t) {
        return movie.isCutSourceReady()
                   ? tr("This movie has no frames to count; type a time instead")
                   : tr("The movie's frames are still being read; type a time for now");
    }
    apply(*t);
    return {};
}

void EditorView::updateTimes()
{
    m_currentTime->setTime(m_viewModel->transport()->currentTime());
    m_lengthLabel->setText(QStringLiteral("/ ") +
                           formatTime(m_viewModel->movie()->videoDuration()));
}

void EditorView::updateMarks()
{
    const double in = m_viewModel->segments()->inPoint();
    const double out = m_viewModel->segments()->outPoint();
    m_in->setTime(in);
    m_selectionLabel->setText(formatTime(out - in));
    m_out->setTime(out);
    QVector<TimelineView::Range> ranges;
    for (const Segment &segment : m_viewModel->segments()->list().segments)
        ranges.push_back({segment.in, segment.out});
    m_timeline->setRanges(ranges, m_viewModel->segments()->selected());
}

void EditorView::updatePlayPause()
{
    const bool playing = m_viewModel->transport()->isPlaying();
    m_playPause->setSymbol(
        playing ? QStringLiteral("pause.circle.fill") : QStringLiteral("play.circle.fill"), 40);
    // The symbol alone says nothing to a screen reader.
    m_playPause->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

void EditorView::syncPlayer()
{
    Player *player = m_viewModel->transport()->player();
    if (!player) {
        delete m_playerView;
        m_playerView = nullptr;
        return;
    }
    if (m_playerView) {
        m_playerView->setPlayer(player);
        return;
    }
    m_playerView = new PlayerView(player, m_videoArea);
    m_videoArea->layout()->addWidget(m_playerView);
}

QWidget *EditorView::buildVideoArea(QWidget *parent)
{
    m_videoArea = new QWidget(parent);
    m_videoArea->setObjectName(QStringLiteral("videoArea"));
    m_videoArea->setMinimumHeight(smallestPlayerHeight);
    m_videoArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    m_videoArea->setAutoFillBackground(true);
    QPalette black = m_videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_videoArea->setPalette(black);
    auto *area = new QVBoxLayout(m_videoArea);
    area->setContentsMargins(0, 0, 0, 0);
    return m_videoArea;
}

} // namespace trimora
