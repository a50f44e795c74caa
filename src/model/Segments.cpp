#include "model/Segments.h"

#include <utility>

namespace trimora {

// One edit: the whole list before and after it. The lists are short, so a
// snapshot is cheaper to get right than an inverse for every kind of edit.
class SegmentsEdit : public QUndoCommand
{
public:
    static constexpr int dragId = 1;

    SegmentsEdit(Segments &owner, SegmentList before, SegmentList after, const QString &what,
                 int drag)
        : QUndoCommand(what), m_owner(owner), m_before(std::move(before)),
          m_after(std::move(after)), m_drag(drag)
    {}

    void undo() override { m_owner.apply(m_before); }
    void redo() override { m_owner.apply(m_after); }
    int id() const override { return m_drag ? dragId : -1; }
    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *next = static_cast<const SegmentsEdit *>(other);
        if (next->m_drag != m_drag)
            return false;
        m_after = next->m_after;
        setObsolete(m_after == m_before);
        return true;
    }

private:
    Segments &m_owner;
    SegmentList m_before;
    SegmentList m_after;
    int m_drag;
};

Segments::Segments(QObject *parent) : QObject(parent)
{}

double Segments::inPoint() const
{
    return m_list.selected >= 0 ? m_list.segments[static_cast<size_t>(m_list.selected)].in : 0.0;
}

double Segments::outPoint() const
{
    return m_list.selected >= 0 ? m_list.segments[static_cast<size_t>(m_list.selected)].out : 0.0;
}

void Segments::reset(double duration, const SegmentList &list)
{
    m_undo.clear();
    m_drag = 0;
    m_duration = duration;
    apply(list);
}

void Segments::reset(double duration)
{
    reset(duration, SegmentList{{Segment{0.0, duration, {}}}, 0});
}

bool Segments::edit(const std::optional<SegmentList> &after, const QString &what)
{
    if (!after || *after == m_list)
        return false;
    m_undo.push(new SegmentsEdit(*this, m_list, *after, what, m_drag));
    return true;
}

void Segments::apply(const SegmentList &list)
{
    const SegmentList before = std::exchange(m_list, list);
    const Segment none;
    const Segment &was = before.selected >= 0 ? before.segments[size_t(before.selected)] : none;
    if (before.segments != m_list.segments)
        Q_EMIT segmentsChanged();
    if (before.selected != m_list.selected)
        Q_EMIT selectionChanged();
    if (inPoint() != was.in)
        Q_EMIT inPointChanged();
    if (outPoint() != was.out)
        Q_EMIT outPointChanged();
}

bool Segments::setIn(double t)
{
    return edit(segmentRules::withIn(m_list, t, m_duration), tr("Set In"));
}

bool Segments::setOut(double t)
{
    return edit(segmentRules::withOut(m_list, t, m_duration), tr("Set Out"));
}

bool Segments::splitAt(double t)
{
    return edit(segmentRules::splitAt(m_list, t), tr("Split Segment"));
}

bool Segments::addAt(double t)
{
    return edit(segmentRules::addAt(m_list, t, m_duration), tr("Add Segment"));
}

bool Segments::removeSelected()
{
    return edit(segmentRules::withoutSelected(m_list), tr("Delete Segment"));
}

bool Segments::moveSelected(int by)
{
    return edit(segmentRules::movedInList(m_list, by), tr("Move Segment"));
}

bool Segments::setLabel(int index, const QString &label)
{
    if (index < 0 || index >= count())
        return false;
    SegmentList after = m_list;
    after.segments[static_cast<size_t>(index)].label = label;
    return edit(after, tr("Rename Segment"));
}

bool Segments::replace(const SegmentList &list, const QString &what)
{
    if (!segmentRules::whyInvalid(list, m_duration).isEmpty())
        return false;
    return edit(list, what);
}

void Segments::beginDrag()
{
    m_drag = ++m_drags;
}

void Segments::endDrag()
{
    m_drag = 0;
}

void Segments::select(int index)
{
    if (index < 0 || index >= count() || index == m_list.selected)
        return;
    SegmentList after = m_list;
    after.selected = index;
    apply(after);
}

void Segments::selectInTime(int by)
{
    if (const std::optional<SegmentList> after = segmentRules::selectedInTime(m_list, by))
        apply(*after);
}

} // namespace trimora
