#include "views/EditorView.h"

#include "media/CutSource.h"
#include "media/Player.h"
#include "model/TimeText.h"
#include "model/VideoEditorViewModel.h"
#include "views/CommandRow.h"
#include "views/KeyboardShortcuts.h"
#include "views/LogPane.h"
#include "views/OutputRow.h"
#include "views/PlainButton.h"
#include "views/PlayerView.h"
#include "views/ScanRow.h"
#include "views/SoundOverviewView.h"
#include "views/Theme.h"
#include "views/TimeField.h"
#include "views/TimeFormat.h"
#include "views/TimelineView.h"
#include "views/WaveformView.h"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
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
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(divider(this));

    auto *column = new QWidget(this);
    auto *controls = new QVBoxLayout(column);
    controls->setContentsMargins(12, 12, 12, 12);
    // Eight, not more: at the smallest window every row must still fit.
    controls->setSpacing(8);
    controls->addWidget(buildTimeRow());

    VideoEditorViewModel *model = m_viewModel;
    m_timeline = new TimelineView(column);
    m_timeline->setAccessibleName(tr("Timeline"));
    m_timeline->setAccessibleDescription(
        tr("Playhead, In and Out marks; drag to move the nearest one; Ctrl+wheel zooms"));
    m_timeline->setThumbnails(model->thumbnails());
    connect(m_timeline, &TimelineView::seekRequested, this, [model](double t) { model->seek(t); });
    connect(m_timeline, &TimelineView::markMoveRequested, this,
            [model](TimelineView::Handle handle, double t) {
                if (handle == TimelineView::Handle::InMark)
                    model->setInPointAt(t);
                else
                    model->setOutPointAt(t);
            });
    m_soundOverview = new SoundOverviewView(column);
    m_soundOverview->setAccessibleName(tr("Sound of the whole movie"));
    m_soundOverview->setOverview(model->soundOverview());
    connect(m_soundOverview, &SoundOverviewView::seekRequested, this,
            [model](double t) { model->seek(t); });
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
    m_outputRow = new OutputRow(model, column);
    controls->addWidget(m_outputRow);
    m_commandRow = new CommandRow(model, column);
    // Its room stays while it is hidden, so nothing below it jumps.
    QSizePolicy keepRoom = m_commandRow->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_commandRow->setSizePolicy(keepRoom);
    controls->addWidget(m_commandRow);
    // The log gives way to the player at small heights, down to three lines:
    // the last of them is the status line an export ends with.
    auto *log = new LogPane(model, column);
    log->setMinimumHeight(3 * log->fontMetrics().lineSpacing() + 2 * 6 + 2 * log->frameWidth());
    log->setMaximumHeight(logPaneHeight);
    controls->addWidget(log, 1);
    m_layout->addWidget(column);

    connect(model, &VideoEditorViewModel::playerChanged, this, &EditorView::syncPlayer);
    connect(model, &VideoEditorViewModel::currentTimeChanged, this, [this] {
        updateTimes();
        const double t = m_viewModel->currentTime();
        m_waveform->setCurrentTime(t);
        m_timeline->setPlayhead(t);
        m_soundOverview->setPlayhead(t);
    });
    connect(model, &VideoEditorViewModel::videoDurationChanged, this, [this] {
        updateTimes();
        m_timeline->setDuration(m_viewModel->videoDuration());
        m_soundOverview->setDuration(m_viewModel->videoDuration());
    });
    connect(model, &VideoEditorViewModel::inPointChanged, this, &EditorView::updateMarks);
    connect(model, &VideoEditorViewModel::outPointChanged, this, &EditorView::updateMarks);
    connect(model, &VideoEditorViewModel::isPlayingChanged, this, &EditorView::updatePlayPause);
    connect(model, &VideoEditorViewModel::blackWhiteFramesChanged, this,
            [this] { m_timeline->setMarkers(m_viewModel->blackWhiteFrames()); });
    connect(model, &VideoEditorViewModel::videoIndexChanged, this,
            [this] { m_timeline->setVideoIndex(m_viewModel->videoIndex()); });
    connect(model, &VideoEditorViewModel::waveformSamplesChanged, this,
            [this] { m_waveform->setSamples(m_viewModel->waveformSamples()); });
    connect(model, &VideoEditorViewModel::waveformStartTimeChanged, this,
            [this] { m_waveform->setStartTime(m_viewModel->waveformStartTime()); });

    m_timeline->setDuration(model->videoDuration());
    m_timeline->setPlayhead(model->currentTime());
    m_timeline->setMarkers(model->blackWhiteFrames());
    m_timeline->setVideoIndex(model->videoIndex());
    m_soundOverview->setDuration(model->videoDuration());
    m_soundOverview->setPlayhead(model->currentTime());
    m_waveform->setSamples(model->waveformSamples());
    m_waveform->setStartTime(model->waveformStartTime());
    m_waveform->setCurrentTime(model->currentTime());
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
    const std::map<Command, std::function<void()>> actions = {
        {Command::PlayPause, [model] { model->togglePlayPause(); }},
        {Command::PlayForward, [model] { model->playForward(); }},
        {Command::PreviousFrame, [model] { model->stepFrames(-1); }},
        {Command::NextFrame, [model] { model->stepFrames(1); }},
        {Command::BackOneSecond, [model] { model->seekBy(-1); }},
        {Command::ForwardOneSecond, [model] { model->seekBy(1); }},
        {Command::PreviousKeyframe, [model] { model->goToPreviousKeyframe(); }},
        {Command::NextKeyframe, [model] { model->goToNextKeyframe(); }},
        {Command::GoToStart, [model] { model->seek(0); }},
        {Command::GoToEnd, [model] { model->seek(model->videoDuration()); }},
        {Command::SetIn, [model] { model->setInPoint(); }},
        {Command::SetOut, [model] { model->setOutPoint(); }},
        {Command::GoToIn, [model] { model->seek(model->inPoint()); }},
        {Command::GoToOut, [model] { model->seek(model->outPoint()); }},
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
    for (QWidget *field : findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(field) || qobject_cast<QTextEdit *>(field) ||
            qobject_cast<QPlainTextEdit *>(field))
            field->installEventFilter(this);
    }
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

bool EditorView::eventFilter(QObject *watched, QEvent *event)
{
    // In a text field the editor's keys are the field's: accepting the
    // override hands the key to the field instead of the shortcut. Text that
    // only shows (the log) has no use for them.
    if (event->type() == QEvent::ShortcutOverride && isEditableText(watched)) {
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
        return typedTime(text, [model](double t) { model->seek(t); });
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
        return typedTime(text, [model](double t) { model->setInPointAt(t); });
    });
    inBox->addWidget(m_in, 0, Qt::AlignVCenter);

    m_selectionLabel = label(caption, Theme::secondary(), row);
    m_selectionLabel->setObjectName(QStringLiteral("selectionLength"));

    auto *outBox = new QHBoxLayout;
    outBox->setSpacing(4);
    m_out = new TimeField(QStringLiteral("Out: "), caption, Theme::red(), row);
    m_out->label()->setObjectName(QStringLiteral("outTime"));
    m_out->setCommit([this, model](const QString &text) {
        return typedTime(text, [model](double t) { model->setOutPointAt(t); });
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
    auto addStep = [&](const QString &text, double delta) {
        return addTextButton(text, [model, delta] { model->seekBy(delta); });
    };
    using KeyboardShortcuts::Command;
    addStep(QStringLiteral("\u221230s"), -30);
    addStep(QStringLiteral("\u22125s"), -5);
    addStep(QStringLiteral("\u22121s"), -1)
        ->setToolTip(KeyboardShortcuts::tooltip(tr("One second back"), Command::BackOneSecond));
    addStep(QStringLiteral("\u22120.1s"), -0.1);
    // std::round takes halves away from zero.
    auto *snap = addTextButton(QStringLiteral(".000"),
                               [model] { model->seek(std::round(model->currentTime())); });
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
                  [model] { model->seek(0); });
    goToStart->setToolTip(KeyboardShortcuts::tooltip(tr("Go to beginning"), Command::GoToStart));
    goToStart->setAccessibleName(tr("Go to beginning"));
    m_playPause = addSymbol(QStringLiteral("playPause"), QStringLiteral("play.circle.fill"), 40,
                            [model] { model->togglePlayPause(); });
    m_playPause->setToolTip(KeyboardShortcuts::tooltip(tr("Play or pause"), Command::PlayPause));
    QAbstractButton *goToEnd =
        addSymbol(QStringLiteral("goToEnd"), QStringLiteral("forward.end.fill"), 22,
                  [model] { model->seek(model->videoDuration()); });
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
              [model] { model->seek(model->inPoint()); });
    addButton(tr("Go to Out"), tr("Go to Out point"), Command::GoToOut,
              [model] { model->seek(model->outPoint()); });
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
    const std::shared_ptr<const VideoIndex> index = m_viewModel->videoIndex();
    const std::optional<double> t = resolveTypedTime(
        typed, m_viewModel->videoDuration(), index ? index->framePts : std::vector<double>());
    if (!t) {
        return m_viewModel->isCutSourceReady()
                   ? tr("This movie has no frames to count; type a time instead")
                   : tr("The movie's frames are still being read; type a time for now");
    }
    apply(*t);
    return {};
}

void EditorView::updateTimes()
{
    m_currentTime->setTime(m_viewModel->currentTime());
    m_lengthLabel->setText(QStringLiteral("/ ") + formatTime(m_viewModel->videoDuration()));
}

void EditorView::updateMarks()
{
    const double in = m_viewModel->inPoint();
    const double out = m_viewModel->outPoint();
    m_in->setTime(in);
    m_selectionLabel->setText(formatTime(out - in));
    m_out->setTime(out);
    m_timeline->setRanges({{in, out}}, 0);
}

void EditorView::updatePlayPause()
{
    const bool playing = m_viewModel->isPlaying();
    m_playPause->setSymbol(
        playing ? QStringLiteral("pause.circle.fill") : QStringLiteral("play.circle.fill"), 40);
    // The symbol alone says nothing to a screen reader.
    m_playPause->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

void EditorView::syncPlayer()
{
    Player *player = m_viewModel->player();
    if (!player) {
        delete m_videoArea;
        m_videoArea = nullptr;
        m_playerView = nullptr;
        return;
    }
    if (m_playerView) {
        m_playerView->setPlayer(player);
        return;
    }
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName(QStringLiteral("videoArea"));
    m_videoArea->setMinimumHeight(smallestPlayerHeight);
    m_videoArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    m_videoArea->setAutoFillBackground(true);
    QPalette black = m_videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_videoArea->setPalette(black);
    auto *area = new QVBoxLayout(m_videoArea);
    area->setContentsMargins(0, 0, 0, 0);
    m_playerView = new PlayerView(player, m_videoArea);
    area->addWidget(m_playerView);
    m_layout->insertWidget(0, m_videoArea, 1);
}

} // namespace trimora
