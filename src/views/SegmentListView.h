#pragma once

#include <QWidget>

class QTableView;

namespace trimora {

class VideoEditorViewModel;

// The segments as a table (number, label, In, Out, length and what a copy
// cut of each will really hold) with the buttons that edit the list. A view
// of the model's segments, never a copy: rows are read from the model when
// drawn. Clicking a row selects its segment and moves the playhead to its In;
// a label is edited in place.
class SegmentListView : public QWidget
{
    Q_OBJECT
public:
    enum Column { Number, Label, In, Out, Length, Holds, ColumnCount };

    explicit SegmentListView(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

    QTableView *table() const { return m_table; }

private:
    void showSelection();

    VideoEditorViewModel *m_viewModel;
    QTableView *m_table;
};

} // namespace trimora
