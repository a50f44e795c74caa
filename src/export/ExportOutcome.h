#pragma once

#include <QString>
#include <QStringList>

namespace trimora {

// How an export ended, as a value; the log shows it as its status line.
struct ExportOutcome
{
    bool succeeded = false;
    // A success: what the user should know beyond it, such as where the cut
    // really starts. A failure: why, as "no space left on device".
    QStringList facts;
    QString reason;

    static ExportOutcome success(QStringList facts = {});
    static ExportOutcome failure(QString reason);

    // "✅ Completed successfully", followed by " — " and the facts when there
    // are any, or "❌ Failed: " and the reason.
    QString statusLine() const;
};

} // namespace trimora
