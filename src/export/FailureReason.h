#pragma once

#include <QString>

namespace trimora {

// Why an export failed, in the words its status line uses ("❌ Failed:
// no space left on device").

// A system error's own text, first letter lowered; a missing folder is named.
QString systemErrorReason(int error, const QString &folder = QString());

// The last file-system error the tool reported in its output (full disk,
// read-only or vanished folder, refused permission, ...), or an empty text.
QString reasonInToolOutput(const QString &output);

// A run that ended badly without naming why: its exit code or signal.
QString exitReason(int waitStatus);

} // namespace trimora
