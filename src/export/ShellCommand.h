#pragma once

#include "export/ExportPlan.h"
#include "export/FFmpegRunner.h"

#include <QString>
#include <QUrl>

namespace trimora {

// One word made safe for a POSIX shell: left alone when every scalar is a
// Unicode letter, mark or digit or one of "._-/+=:@%,", otherwise put in
// apostrophes with each apostrophe written as '\''.
QString shellQuoted(const QString &word);

// The cut as a command line a user can paste into a terminal: the executable
// found (or the bare word ffmpeg) and the arguments the export passes, each
// quoted, joined by single spaces.
QString shellCommand(const QStringList &arguments,
                     const QStringList &locations = ffmpegLocations());

// The export as a terminal would do it: one file's command alone, or for
// several files a shell script of one command a file, stopping at the first
// that fails. Every command writes its file with -n, so nothing is ever
// replaced; files that cannot be written are named in comments.
QString exportScript(const ExportPlan &plan, const QStringList &locations = ffmpegLocations());

} // namespace trimora
