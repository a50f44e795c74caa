#include "export/ExportSource.h"

#include "export/InProcessWriters.h"
#include "media/CutSource.h"
#include "media/ExactSource.h"

#include <QFile>

namespace trimora {

ExportSource readExportSource(const QString &path, bool packets, ExportSource known)
{
    ExportSource source = std::move(known);
    const std::string file = QFile::encodeName(path).toStdString();
    const auto never = [] { return false; };
    if (!source.index) {
        readCutSource(
            file, never,
            [&](SourceLayout read) {
                source.layout = std::make_shared<const SourceLayout>(std::move(read));
            },
            [&](VideoIndex read) {
                source.index = std::make_shared<const VideoIndex>(std::move(read));
            });
    }
    if (!packets || source.exact)
        return source;
    if (std::optional<ExactSource> exact = readExactSource(file, never))
        source.exact = std::make_shared<const ExactSource>(std::move(*exact));
    return source;
}

ExportPlan planExportOf(const ExportRequest &request, const ExportSource &source,
                        const std::function<bool(const QString &)> &exists)
{
    return planExport(request, source.layout.get(), source.index.get(),
                      inProcessWriters(request.source, source.exact), exists);
}

} // namespace trimora
