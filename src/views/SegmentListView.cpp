#include "views/SegmentListView.h"

#include "model/Exports.h"
#include "model/Segments.h"
#include "model/Transport.h"
#include "model/VideoEditorViewModel.h"
#include "views/KeyboardShortcuts.h"
#include "views/Theme.h"
#include "views/TimeFormat.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace trimora {

namespace {

// Reads the rows from the model's segments whenever asked; holds nothing.
// Each segment has two rows: its figures, then what a copy cut of it holds,
// across the whole width.
class SegmentRows : public QAbstractTableModel
{
public:
    explicit SegmentRows(VideoEditorViewModel *viewModel, QObject *parent)
        : QAbstractTableModel(parent), m_viewModel(viewModel)
    {
        Segments *segments = viewModel->segments();
        connect(segments, &Segments::segmentsChanged, this, [this] { refresh(); });
        connect(viewModel->exports(), &Exports::commandPreviewChanged, this, [this] { refresh(); });
        connect(viewModel->exports(), &Exports::choiceChanged, this, [this] { refresh(); });
        m_rows = rowCount();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 2 * m_viewModel->segments()->count();
    }

    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : SegmentListView::ColumnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        switch (section) {
        case SegmentListView::Number:
            return QStringLiteral("#");
        case SegmentListView::Label:
            return tr("Label");
        case SegmentListView::In:
            return tr("In");
        case SegmentListView::Out:
            return tr("Out");
        case SegmentListView::Length:
            return tr("Length");
        default:
            return {};
        }
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const SegmentList &list = m_viewModel->segments()->list();
        const int segmentIndex = index.row() / 2;
        if (!index.isValid() || segmentIndex >= static_cast<int>(list.segments.size()))
            return {};
        if (index.row() % 2 == 1) {
            if (index.column() != SegmentListView::Number)
                return {};
            if (role == Qt::ForegroundRole)
                return Theme::secondary();
            if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
                return m_viewModel->exports()->copyNote(segmentIndex);
            return {};
        }
        const Segment &segment = list.segments[static_cast<size_t>(segmentIndex)];
        if (role == Qt::TextAlignmentRole && index.column() != SegmentListView::Label)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole && role != Qt::EditRole)
            return {};
        switch (index.column()) {
        case SegmentListView::Number:
            return segmentIndex + 1;
        case SegmentListView::Label:
            return segment.label;
        case SegmentListView::In:
            return formatTime(segment.in);
        case SegmentListView::Out:
            return formatTime(segment.out);
        case SegmentListView::Length:
            return formatTime(segment.out - segment.in);
        default:
            return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        if (index.row() % 2 == 0 && index.column() == SegmentListView::Label)
            flags |= Qt::ItemIsEditable;
        return flags;
    }

    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::EditRole || index.column() != SegmentListView::Label || index.row() % 2)
            return false;
        m_viewModel->segments()->setLabel(index.row() / 2, value.toString().trimmed());
        return true;
    }

private:
    // A change that keeps the number of rows keeps an open label editor too.
    void refresh()
    {
        const int rows = rowCount();
        if (rows != m_rows) {
            beginResetModel();
            m_rows = rows;
            endResetModel();
        } else if (rows > 0) {
            Q_EMIT dataChanged(index(0, 0), index(rows - 1, SegmentListView::ColumnCount - 1));
        }
    }

    VideoEditorViewModel *m_viewModel;
    int m_rows = 0;
};

} // namespace

SegmentListView::SegmentListView(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel), m_table(new QTableView(this)),
      m_files(new QComboBox(this)), m_cutAway(new QCheckBox(tr("Cut away"), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    layout->addLayout(buttons);

    using KeyboardShortcuts::Command;
    Segments *segments = viewModel->segments();
    const auto add = [&](const QString &text, const QString &help, Command command,
                         std::function<void()> action) {
        auto *button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(KeyboardShortcuts::tooltip(help, command));
        button->setAccessibleName(help);
        button->setFont(Theme::font(Theme::TextStyle::Caption));
        button->setFocusPolicy(Qt::TabFocus);
        connect(button, &QToolButton::clicked, this, std::move(action));
        buttons->addWidget(button);
    };
    add(tr("Split"), tr("Split the segment at the playhead"), Command::SplitSegment,
        [viewModel] { viewModel->splitSegment(); });
    add(tr("Add"), tr("Add a segment from the playhead to the next one"), Command::AddSegment,
        [viewModel] { viewModel->addSegment(); });
    add(tr("Delete"), tr("Delete the selected segment"), Command::DeleteSegment,
        [segments] { segments->removeSelected(); });
    add(QStringLiteral("‹"), tr("Select the previous segment"), Command::PreviousSegment,
        [segments] { segments->selectInTime(-1); });
    add(QStringLiteral("›"), tr("Select the next segment"), Command::NextSegment,
        [segments] { segments->selectInTime(1); });
    add(tr("Up"), tr("Move the selected segment up the list"), Command::MoveSegmentUp,
        [segments] { segments->moveSelected(-1); });
    add(tr("Down"), tr("Move the selected segment down the list"), Command::MoveSegmentDown,
        [segments] { segments->moveSelected(1); });
    buttons->addStretch(1);

    m_table->setModel(new SegmentRows(viewModel, m_table));
    m_table->setAccessibleName(tr("Segments"));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(Label, QHeaderView::Stretch);
    // The notes sit in the number's column, spanning the row: its width is the
    // numbers' alone.
    m_table->horizontalHeader()->setSectionResizeMode(Number, QHeaderView::Fixed);
    m_table->setColumnWidth(Number,
                            m_table->fontMetrics().horizontalAdvance(QStringLiteral("9999")));
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->setFont(Theme::font(Theme::TextStyle::Caption, true));
    m_table->setWordWrap(true);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The keys stay the editor's: a click selects, a double click edits a label.
    m_table->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_table, 1);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(8);
    m_files->addItems({tr("One file per segment"), tr("One joined file")});
    m_files->setAccessibleName(tr("Files"));
    m_files->setToolTip(tr("Each segment to a file of its own, numbered in list order, or all of "
                           "them joined in list order"));
    m_cutAway->setToolTip(tr("Export everything but the segments, as one joined file"));
    for (QWidget *control : std::initializer_list<QWidget *>{m_files, m_cutAway}) {
        control->setFont(Theme::font(Theme::TextStyle::Caption));
        control->setFocusPolicy(Qt::TabFocus); // a click leaves the keys with the editor
        choices->addWidget(control);
    }
    choices->addStretch(1);
    layout->addLayout(choices);
    Exports *exports = viewModel->exports();
    connect(m_files, &QComboBox::activated, this, [exports](int index) {
        ExportChoice choice = exports->choice();
        choice.joined = index == 1;
        exports->setChoice(choice);
    });
    connect(m_cutAway, &QCheckBox::toggled, this, [exports](bool on) {
        ExportChoice choice = exports->choice();
        choice.cutAway = on;
        exports->setChoice(choice);
    });
    connect(exports, &Exports::choiceChanged, this, &SegmentListView::showChoice);
    connect(exports, &Exports::isProcessingChanged, this, &SegmentListView::showChoice);
    showChoice();

    // The note under each segment spans the row, and wraps.
    connect(m_table->model(), &QAbstractItemModel::modelReset, this, &SegmentListView::spanNotes);
    spanNotes();
    connect(m_table, &QTableView::clicked, this, [viewModel](const QModelIndex &index) {
        viewModel->segments()->select(index.row() / 2);
        viewModel->transport()->seek(viewModel->segments()->inPoint());
    });
    connect(segments, &Segments::selectionChanged, this, &SegmentListView::showSelection);
    connect(segments, &Segments::segmentsChanged, this, &SegmentListView::showSelection);
    showSelection();
}

void SegmentListView::showChoice()
{
    const Exports &exports = *m_viewModel->exports();
    const ExportChoice choice = exports.choice();
    // A cut-away is one file whatever the list says.
    m_files->setCurrentIndex(choice.joined || choice.cutAway ? 1 : 0);
    m_files->setEnabled(!choice.cutAway && !exports.isProcessing());
    m_cutAway->setChecked(choice.cutAway);
    m_cutAway->setEnabled(!exports.isProcessing());
}

void SegmentListView::spanNotes()
{
    m_table->clearSpans();
    for (int row = 1; row < m_table->model()->rowCount(); row += 2)
        m_table->setSpan(row, 0, 1, ColumnCount);
}

void SegmentListView::showSelection()
{
    const int segment = m_viewModel->segments()->selected();
    if (segment < 0) {
        m_table->clearSelection();
        return;
    }
    if (m_table->currentIndex().row() / 2 != segment || !m_table->selectionModel()->hasSelection())
        m_table->selectRow(2 * segment);
}

} // namespace trimora
