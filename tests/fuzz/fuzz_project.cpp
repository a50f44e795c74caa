// Project files and CSV cut lists come from anywhere: reading one must never
// crash, hang or leak, and whatever reads must write back to the same list.
#include "model/ProjectFile.h"

#include <cstdint>
#include <cstdlib>

using namespace trimora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::variant<Project, QString> project = readProject(text);
    if (const Project *read = std::get_if<Project>(&project)) {
        (void)segmentRules::whyInvalid(read->segments, read->movie.duration);
        const std::variant<Project, QString> again = readProject(writeProject(*read));
        const Project *back = std::get_if<Project>(&again);
        if (!back || back->segments.segments.size() != read->segments.segments.size() ||
            back->segments.selected != read->segments.selected || !(back->choice == read->choice))
            std::abort();
    }
    const std::variant<SegmentList, QString> list = readCutList(text);
    if (const SegmentList *read = std::get_if<SegmentList>(&list)) {
        const std::variant<SegmentList, QString> again = readCutList(writeCutList(*read));
        const SegmentList *back = std::get_if<SegmentList>(&again);
        if (!back || back->segments.size() != read->segments.size())
            std::abort();
        for (size_t i = 0; i < back->segments.size(); ++i) {
            if (back->segments[i].label != read->segments[i].label)
                std::abort();
        }
    }
    return 0;
}
