#include "export/ExportOutcome.h"

namespace trimora {

ExportOutcome ExportOutcome::success(QStringList facts)
{
    return {true, std::move(facts), QString()};
}

ExportOutcome ExportOutcome::failure(QString reason)
{
    return {false, {}, std::move(reason)};
}

QString ExportOutcome::statusLine() const
{
    if (!succeeded)
        return QStringLiteral("❌ Failed: ") + reason;
    QString line = QStringLiteral("✅ Completed successfully");
    QStringList inLine = facts;
    for (QString &fact : inLine) {
        if (!fact.isEmpty())
            fact[0] = fact[0].toLower();
    }
    if (!inLine.isEmpty())
        line += QStringLiteral(" — ") + inLine.join(QStringLiteral("; "));
    return line;
}

} // namespace trimora
