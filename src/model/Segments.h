#pragma once

#include "model/SegmentList.h"

#include <QObject>
#include <QUndoStack>

namespace trimora {

// The window's segments with their history: every edit is one step of the
// undo stack (a whole drag of a mark is one), and undo and redo put the list
// back as it was, selection included. Selecting alone is not an edit.
// Main thread only.
class Segments : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double inPoint READ inPoint NOTIFY inPointChanged)
    Q_PROPERTY(double outPoint READ outPoint NOTIFY outPointChanged)

public:
    explicit Segments(QObject *parent = nullptr);

    const SegmentList &list() const { return m_list; }
    int count() const { return static_cast<int>(m_list.segments.size()); }
    int selected() const { return m_list.selected; }
    double duration() const { return m_duration; }
    // The selected segment's marks; 0 when there is none.
    double inPoint() const;
    double outPoint() const;
    QUndoStack *undoStack() { return &m_undo; }

    // A new movie: one segment covering it all, or the list given; the
    // history starts afresh.
    void reset(double duration, const SegmentList &list);
    void reset(double duration);

    // Edits. Each returns false, changing nothing, when it cannot be made.
    bool setIn(double t);
    bool setOut(double t);
    bool splitAt(double t);
    bool addAt(double t);
    bool removeSelected();
    bool moveSelected(int by);
    bool setLabel(int index, const QString &label);
    // The whole list replaced at once (an imported cut list): one step.
    bool replace(const SegmentList &list, const QString &what);
    // Mark moves between these two are one step.
    void beginDrag();
    void endDrag();

    void select(int index);
    // The previous (-1) or next (+1) segment in time.
    void selectInTime(int by);

Q_SIGNALS:
    // The list changed in any way but the selection alone.
    void segmentsChanged();
    void selectionChanged();
    void inPointChanged();
    void outPointChanged();

private:
    friend class SegmentsEdit;
    bool edit(const std::optional<SegmentList> &after, const QString &what);
    void apply(const SegmentList &list);

    SegmentList m_list;
    double m_duration = 0.0;
    QUndoStack m_undo;
    int m_drag = 0; // the drag under way, 0 for none
    int m_drags = 0;
};

} // namespace trimora
