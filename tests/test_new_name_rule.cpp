#include "rename/new_name_rule.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace NewNameRule;

class TestNewNameRule final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void patternsAndMasks();
    void ruleMode_data();
    void ruleMode();
    void formatting_data();
    void formatting();
    void decimalSeparatorFollowsLocale();
    void suffixMode_data();
    void suffixMode();
    void noModeSelectedGivesNoPass();
};

void TestNewNameRule::patternsAndMasks()
{
    const QStringList expected
        = { u" "_s, u"#"_s, u"##"_s, u"###"_s, u"*"_s, u"*-#"_s, u"*-##"_s, u"*-###"_s };
    QCOMPARE(patterns(), expected);
    const QStringList masks = { QString(), u"0"_s, u"00"_s, u"000"_s, QString(), u"0"_s, u"00"_s, u"000"_s };
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(digitMask(expected[i]), masks[i]);
}

void TestNewNameRule::ruleMode_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("base");
    QTest::newRow("space keeps start") << 0 << u"001"_s << u"kw"_s << u"001"_s;
    QTest::newRow("space keeps spaces") << 0 << u" 1 "_s << QString() << u" 1 "_s;
    QTest::newRow("# one digit") << 1 << u"1"_s << QString() << u"1"_s;
    QTest::newRow("## pads") << 2 << u"1"_s << QString() << u"01"_s;
    QTest::newRow("### pads") << 3 << u"7"_s << QString() << u"007"_s;
    QTest::newRow("### never cuts") << 3 << u"1234"_s << QString() << u"1234"_s;
    QTest::newRow("# rewrites 007") << 1 << u"007"_s << QString() << u"7"_s;
    QTest::newRow("## drops plus") << 2 << u"+5"_s << QString() << u"05"_s;
    QTest::newRow("### sets spaces aside") << 3 << u" 12 "_s << QString() << u"012"_s;
    QTest::newRow("## not a number") << 2 << u"abc"_s << QString() << u"abc"_s;
    QTest::newRow("* keyword trimmed") << 4 << u"9"_s << u"  photo "_s << u"photo"_s;
    QTest::newRow("* empty keyword") << 4 << u"9"_s << QString() << QString();
    QTest::newRow("* keeps tabs") << 4 << u"9"_s << u"\tx "_s << u"\tx"_s;
    QTest::newRow("*-# ") << 5 << u"3"_s << u"a"_s << u"a-3"_s;
    QTest::newRow("*-## keyword and number") << 6 << u"3"_s << u"  photo "_s << u"photo-03"_s;
    QTest::newRow("*-### text start") << 7 << u"x1"_s << u"k"_s << u"k-x1"_s;
    QTest::newRow("*-### empty start") << 7 << QString() << u"k"_s << u"k-"_s;
    QTest::newRow("chinese keyword") << 5 << u"2"_s << u"照片"_s << u"照片-2"_s;
}

void TestNewNameRule::ruleMode()
{
    QFETCH(int, pattern);
    QFETCH(QString, start);
    QFETCH(QString, keyword);
    QFETCH(QString, base);
    Settings settings;
    settings.ruleMode = true;
    settings.patternIndex = pattern;
    settings.patternText = patterns().at(pattern);
    settings.startText = start;
    settings.keyword = keyword;
    settings.newSuffix = u".ignored"_s;
    const QList<PassValue> values = passValues(settings, QLocale::c());
    QCOMPARE(values, (QList<PassValue> { { base, NameMode::NewBase } }));
}

void TestNewNameRule::formatting_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("empty mask") << u" +7.6 "_s << QString() << u" +7.6 "_s;
    QTest::newRow("negative keeps sign before padding") << u"-5"_s << u"000"_s << u"-005"_s;
    QTest::newRow("rounds down") << u"2.4"_s << u"00"_s << u"02"_s;
    QTest::newRow("half rounds away from zero") << u"2.5"_s << u"00"_s << u"03"_s;
    QTest::newRow("negative half away from zero") << u"-2.5"_s << u"0"_s << u"-3"_s;
    QTest::newRow("only first fraction digit decides") << u"2.49999"_s << u"0"_s << u"2"_s;
    QTest::newRow("carry adds a digit") << u"99.5"_s << u"0"_s << u"100"_s;
    QTest::newRow("minus zero has no sign") << u"-0.4"_s << u"00"_s << u"00"_s;
    QTest::newRow("minus zero integer") << u"-0"_s << u"0"_s << u"0"_s;
    QTest::newRow("leading zeros go") << u"0007"_s << u"00"_s << u"07"_s;
    QTest::newRow("zero") << u"0"_s << u"000"_s << u"000"_s;
    QTest::newRow("huge stays exact")
        << u"123456789012345678901234567890"_s << u"0"_s << u"123456789012345678901234567890"_s;
    QTest::newRow("huge rounds exactly")
        << u"99999999999999999999.5"_s << u"0"_s << u"100000000000000000000"_s;
    QTest::newRow("grouping is text") << u"1,000"_s << u"0"_s << u"1,000"_s;
    QTest::newRow("exponent is text") << u"1e3"_s << u"0"_s << u"1e3"_s;
    QTest::newRow("bare separator is text") << u"1."_s << u"0"_s << u"1."_s;
    QTest::newRow("no integer digits is text") << u".5"_s << u"0"_s << u".5"_s;
    QTest::newRow("sign alone is text") << u"-"_s << u"0"_s << u"-"_s;
    QTest::newRow("two signs are text") << u"--1"_s << u"0"_s << u"--1"_s;
    QTest::newRow("inner space is text") << u"1 2"_s << u"0"_s << u"1 2"_s;
    QTest::newRow("tab is not a space") << u"\t1"_s << u"00"_s << u"\t1"_s;
    QTest::newRow("full-width digits are text") << u"１２"_s << u"000"_s << u"１２"_s;
    QTest::newRow("empty start") << QString() << u"00"_s << QString();
}

void TestNewNameRule::formatting()
{
    QFETCH(QString, start);
    QFETCH(QString, mask);
    QFETCH(QString, formatted);
    QCOMPARE(formatWithMask(start, mask, QLocale::c()), formatted);
}

void TestNewNameRule::decimalSeparatorFollowsLocale()
{
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(formatWithMask(u"2,5"_s, u"00"_s, german), u"03"_s);
    QCOMPARE(formatWithMask(u"2.5"_s, u"00"_s, german), u"2.5"_s);
    QCOMPARE(formatWithMask(u"2,5"_s, u"00"_s, QLocale::c()), u"2,5"_s);
}

void TestNewNameRule::suffixMode_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("value");
    QTest::newRow("spaces removed") << u"  .md "_s << u".md"_s;
    QTest::newRow("no dot added") << u"md"_s << u"md"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("inner spaces kept") << u". m d"_s << u". m d"_s;
}

void TestNewNameRule::suffixMode()
{
    QFETCH(QString, suffix);
    QFETCH(QString, value);
    Settings settings;
    settings.suffixMode = true;
    settings.patternIndex = 7;
    settings.patternText = patterns().at(7);
    settings.keyword = u"unused"_s;
    settings.newSuffix = suffix;
    QCOMPARE(passValues(settings, QLocale::c()), (QList<PassValue> { { value, NameMode::NewExtension } }));
}

void TestNewNameRule::noModeSelectedGivesNoPass()
{
    QVERIFY(passValues(Settings {}, QLocale::c()).isEmpty());
}

QTEST_GUILESS_MAIN(TestNewNameRule)
#include "test_new_name_rule.moc"
