#include "export/ShellCommand.h"

#include <string_view>

namespace trimora {

namespace {

bool isShellSafe(char32_t scalar)
{
    switch (QChar::category(scalar)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return scalar < 0x80 && std::u16string_view(u"._-/+=:@%,").find(char16_t(scalar)) !=
                                    std::u16string_view::npos;
    }
}

} // namespace

QString shellQuoted(const QString &word)
{
    bool safe = true;
    for (qsizetype i = 0; safe && i < word.size(); ++i) {
        const QChar unit = word[i];
        char32_t scalar = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < word.size() && word[i + 1].isLowSurrogate())
            scalar = QChar::surrogateToUcs4(unit, word[++i]);
        else if (unit.isSurrogate())
            scalar = 0; // a lone surrogate is no scalar: quote
        safe = isShellSafe(scalar);
    }
    if (safe)
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString shellCommand(const QStringList &arguments, const QStringList &locations)
{
    QStringList words{findFFmpeg(locations).value_or(QStringLiteral("ffmpeg"))};
    words += arguments;
    for (QString &word : words)
        word = shellQuoted(word);
    return words.join(QLatin1Char(' '));
}

QString exportScript(const ExportPlan &plan, const QStringList &locations)
{
    QStringList lines;
    for (size_t i = 0; i < plan.outputs.size(); ++i) {
        const OutputPlan &output = plan.outputs[i];
        if (!output.refusal.isEmpty())
            lines << QStringLiteral("# %1: %2")
                         .arg(shellQuoted(output.requestedPath), output.refusal);
        else if (output.copy)
            lines << shellCommand(output.copy->arguments, locations);
        else
            lines << QStringLiteral("# %1: %2")
                         .arg(shellQuoted(output.requestedPath), output.description);
    }
    if (lines.size() == 1)
        return lines.front();
    return QStringLiteral("#!/bin/sh\nset -e\n") + lines.join(QLatin1Char('\n')) +
           QLatin1Char('\n');
}

} // namespace trimora
