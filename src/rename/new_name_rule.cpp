#include "new_name_rule.h"

namespace NewNameRule {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

qsizetype digitRunEnd(const QString& text, qsizetype from)
{
    while (from < text.size() && isAsciiDigit(text[from]))
        ++from;
    return from;
}

// Adds one to a non-empty string of decimal digits.
QString incremented(QString digits)
{
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'9') {
            digits[i] = QChar(digits[i].unicode() + 1);
            return digits;
        }
        digits[i] = u'0';
    }
    return u'1' + digits;
}

} // namespace

QStringList patterns()
{
    return { QStringLiteral(" "), QStringLiteral("#"), QStringLiteral("##"), QStringLiteral("###"),
        QStringLiteral("*"), QStringLiteral("*-#"), QStringLiteral("*-##"), QStringLiteral("*-###") };
}

QStringList spokenPatterns()
{
    return { QStringLiteral("起始值原样"), QStringLiteral("一位数字"), QStringLiteral("两位数字"),
        QStringLiteral("三位数字"), QStringLiteral("关键字"), QStringLiteral("关键字加短横线加一位数字"),
        QStringLiteral("关键字加短横线加两位数字"), QStringLiteral("关键字加短横线加三位数字") };
}

QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.sliced(first, last - first);
}

QString digitMask(const QString& pattern)
{
    const qsizetype firstHash = pattern.indexOf(u'#');
    if (firstHash < 0)
        return {};
    return pattern.sliced(firstHash).replace(u'#', u'0');
}

// A number is an optional sign, ASCII digits, and optionally the locale's decimal separator with
// more digits, once spaces around it are set aside. Decisions for what the rule leaves open:
// - the value is kept as its digit strings, so a number of any length is exact; nothing overflows;
// - a fraction of exactly one half rounds away from zero ("2.5" gives 3, "-2.5" gives -3);
// - a value that rounds to zero is written without a sign ("-0.4" gives 0);
// - digit grouping ("1,000"), exponents ("1e3"), a bare separator ("1." or ".5") and digits other
//   than ASCII are not numbers, so such a start text is used unchanged.
QString formatWithMask(const QString& startText, const QString& mask, const QLocale& locale)
{
    if (mask.isEmpty())
        return startText;
    const QString text = trimSpaces(startText);
    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    const qsizetype integerEnd = digitRunEnd(text, pos);
    if (integerEnd == pos)
        return startText;
    QString integerDigits = text.sliced(pos, integerEnd - pos);
    bool roundUp = false;
    if (integerEnd < text.size()) {
        const QString separator = locale.decimalPoint();
        if (!QStringView(text).sliced(integerEnd).startsWith(separator))
            return startText;
        const qsizetype fractionStart = integerEnd + separator.size();
        const qsizetype fractionEnd = digitRunEnd(text, fractionStart);
        if (fractionEnd == fractionStart || fractionEnd != text.size())
            return startText;
        roundUp = text[fractionStart] >= u'5';
    }
    if (roundUp)
        integerDigits = incremented(integerDigits);

    qsizetype leadingZeros = 0;
    while (leadingZeros < integerDigits.size() - 1 && integerDigits[leadingZeros] == u'0')
        ++leadingZeros;
    integerDigits.remove(0, leadingZeros);
    if (integerDigits == u"0")
        negative = false;

    const qsizetype width = mask.count(u'0');
    QString result = negative ? QStringLiteral("-") : QString();
    if (integerDigits.size() < width)
        result += QString(width - integerDigits.size(), u'0');
    return result + integerDigits;
}

QList<PassValue> passValues(const Settings& settings, const QLocale& locale)
{
    QList<PassValue> values;
    if (settings.ruleMode) {
        const QString mask = digitMask(settings.patternText);
        const QString keyword = trimSpaces(settings.keyword);
        QString baseName;
        if (settings.patternIndex < firstKeywordPattern)
            baseName = formatWithMask(settings.startText, mask, locale);
        else if (settings.patternIndex == firstKeywordPattern)
            baseName = keyword;
        else
            baseName = keyword + u'-' + formatWithMask(settings.startText, mask, locale);
        values.append({ baseName, NameMode::NewBase });
    }
    if (settings.suffixMode)
        values.append({ trimSpaces(settings.newSuffix), NameMode::NewExtension });
    return values;
}

} // namespace NewNameRule
