#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QTableView;

namespace trimora {

class VideoEditorViewModel;

// The segments as a table (number, label, In, Out, length, and under each
// what a copy cut of it will really hold) with the buttons that edit the list. A view
// of the model's segments, never a copy: rows are read from the model when
// drawn. Clicking a row selects its segment and moves the playhead to its In;
// a label is edited in place. Below it, how the segments are exported.
class SegmentListView : public QWidget
{
    Q_OBJECT
public:
    enum Column { Number, Label, In, Out, Length, ColumnCount };

    explicit SegmentListView(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

    QTableView *table() const { return m_table; }
    // One file per segment or one joined file; everything but the segments.
    QComboBox *filesChoice() const { return m_files; }
    QCheckBox *cutAwayBox() const { return m_cutAway; }

private:
    void showSelection();

    void showChoice();
    void spanNotes();

    VideoEditorViewModel *m_viewModel;
    QTableView *m_table;
    QComboBox *m_files;
    QCheckBox *m_cutAway;
};

} // namespace trimora
