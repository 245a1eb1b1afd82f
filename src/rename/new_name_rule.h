#pragma once

#include "pass_result.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

// The rename rule as a pure function of the rule settings: which value each preview or execute pass
// applies, and whether it replaces the base name or the extension.
namespace NewNameRule {

// The eight patterns in the order the pattern box lists them; index 4 and above use the keyword.
QStringList patterns();
// The same patterns in words, as a screen reader says them: their signs are hard to tell apart by ear.
QStringList spokenPatterns();
inline constexpr int firstKeywordPattern = 4;

struct Settings
{
    bool ruleMode = false;
    bool suffixMode = false;
    int patternIndex = 0;
    QString patternText;
    QString startText;
    QString keyword;
    QString newSuffix;
};

struct PassValue
{
    QString value;
    NameMode mode = NameMode::NewBase;

    bool operator==(const PassValue&) const = default;
};

// One value for each selected mode, rule mode first.
QList<PassValue> passValues(const Settings& settings, const QLocale& locale);

// From the first "#" of the pattern to its end, every "#" turned into "0"; empty without "#".
QString digitMask(const QString& pattern);

// The start text written with at least as many digits as the mask has zeros, when it is a number.
QString formatWithMask(const QString& startText, const QString& mask, const QLocale& locale);

// Removes U+0020 at both ends only; other white space stays.
QString trimSpaces(const QString& text);

} // namespace NewNameRule
