// Reasons: English for the log, said in the user's language by a window from what is
// remembered of their making.

#include "core/Reason.h"

#include <QtTest>

namespace {

/// A "translation" that shows where it was used.
QString marked(const char *english)
{
    return QStringLiteral("<") + QString::fromUtf8(english) + QLatin1Char('>');
}

} // namespace

class tst_Reason : public QObject
{
    Q_OBJECT

    /// Pushes every remembered reason out, as another process knows none.
    static void forgetAll()
    {
        for (int i = 0; i < Reason::kRemembered; ++i)
            Reason::text("forgotten %1", i);
    }

private slots:
    void saidInTheUsersLanguage_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("translated");
        QTest::newRow("a template and its text")
            << Reason::text("Could not open %1: %2", QStringLiteral("/dev/x"), QStringLiteral("y"))
            << "Could not open /dev/x: y"
            << "<Could not open /dev/x: y>";
        QTest::newRow("filled once: an argument's %2 stays")
            << Reason::text("%1 and %2", QStringLiteral("50%2"), QStringLiteral("b"))
            << "50%2 and b"
            << "<50%2 and b>";
        QTest::newRow("a number") << Reason::text("within %1 ms", qint64(3000)) << "within 3000 ms"
                                  << "<within 3000 ms>";
        QTest::newRow("a reason in a reason")
            << Reason::text("hung up: %1", Reason::text("the server closed the connection"))
            << "hung up: the server closed the connection"
            << "<hung up: <the server closed the connection>>";
        QTest::newRow("a system text")
            << Reason::text("Could not open %1: %2", QStringLiteral("/dev/z"),
                            Reason::system(QStringLiteral("No such file"), 't', 2))
            << "Could not open /dev/z: No such file"
            << "<Could not open /dev/z: Datei fehlt>";
        QTest::newRow("a text made otherwise") << QStringLiteral("plain") << "plain"
                                               << "plain";
    }

    void initTestCase()
    {
        Reason::setSystemTexts('t', [](int) { return QStringLiteral("Datei fehlt"); });
    }

    // The reason is the English text; translated, each template is the window's and each
    // argument is said in turn, a system text in the user's language.
    void saidInTheUsersLanguage()
    {
        QFETCH(QString, reason);
        QFETCH(QString, english);
        QFETCH(QString, translated);
        QCOMPARE(reason, english);
        QCOMPARE(Reason::translated(reason, marked), translated);
    }

    // A window in another process, told how a reason was made, says it as this one would.
    void saidTheSameElsewhere()
    {
        const QString reason = Reason::text(
            "hung up: %1", Reason::text("Could not open %1: %2", QStringLiteral("/dev/50%1"),
                                        Reason::system(QStringLiteral("No such file"), 't', 2)));
        const QByteArray making = Reason::describe(reason);
        forgetAll();
        QCOMPARE(Reason::translated(reason, marked), reason);
        QCOMPARE(Reason::fromDescription(making), reason);
        QCOMPARE(Reason::translated(reason, marked),
                 QStringLiteral("<hung up: <Could not open /dev/50%1: Datei fehlt>>"));
        QCOMPARE(Reason::fromDescription("no description"), QString());
    }

    // What is remembered is bounded: the oldest of more than kRemembered reasons is said as
    // it is, the newest still translated.
    void memoryIsBounded()
    {
        const QString oldest = Reason::text("oldest %1", QStringLiteral("one"));
        for (int i = 0; i < Reason::kRemembered; ++i)
            Reason::text("filler %1", i);
        QCOMPARE(Reason::translated(oldest, marked), oldest);
        QCOMPARE(Reason::translated(Reason::text("newest"), marked), QStringLiteral("<newest>"));
    }
};

QTEST_GUILESS_MAIN(tst_Reason)
#include "tst_reason.moc"
