#include "support/ProcessLog.h"
#include "support/SharedString.h"

#include "SupportTestHelpers.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray Unique(const char* stem)
{
    return QByteArray(stem) + QByteArray::number(::getpid());
}

} // namespace

class ProcessLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseTemporaryConfigHome(m_home); }

    void sharedString_data();
    void sharedString();
    void processLog_data();
    void processLog();

private:
    QTemporaryDir m_home;
};

void ProcessLogTest::sharedString_data()
{
    QTest::addColumn<QString>("lookup");
    QTest::addColumn<QByteArray>("object"); // empty: nothing published
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("text");

    const QByteArray plain = Unique("orvexa_plain_");
    QTest::newRow("text up to its NUL")
        << QString(plain) << "/" + plain << QByteArray("hello\0junk", 10) << true
        << QByteArray("hello");
    QTest::newRow("no NUL before the end of the object")
        << QString(plain) << "/" + plain << QByteArray("abc") << true << QByteArray("abc");
    QTest::newRow("empty object") << QString(plain) << "/" + plain << QByteArray() << true
                                  << QByteArray();
    QTest::newRow("text longer than one read")
        << QString(plain) << "/" + plain << QByteArray(10000, 'x') + '\0' << true
        << QByteArray(10000, 'x');
    QTest::newRow("backslash in the name") << "Local\\" + QString(plain) << "/Local_" + plain
                                           << QByteArray("b\0", 2) << true << QByteArray("b");
    QTest::newRow("slash in the name") << "a/" + QString(plain) << "/a_" + plain
                                       << QByteArray("s\0", 2) << true << QByteArray("s");
    QTest::newRow("nothing published") << QString(Unique("orvexa_absent_")) << QByteArray()
                                       << QByteArray() << false << QByteArray();
}

void ProcessLogTest::sharedString()
{
    QFETCH(QString, lookup);
    QFETCH(QByteArray, object);
    QFETCH(QByteArray, content);
    QFETCH(bool, found);
    QFETCH(QByteArray, text);

    std::unique_ptr<SharedMemoryObject> published;
    if (!object.isEmpty()) {
        published = std::make_unique<SharedMemoryObject>(object, content);
        QVERIFY(published->Created());
    }
    bool wasFound = !found;
    QCOMPARE(ReadSharedString(lookup, &wasFound), text);
    QCOMPARE(wasFound, found);
}

void ProcessLogTest::processLog_data()
{
    QTest::addColumn<QString>("publishedPath"); // null: no shared string
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<QByteArray>("loggedCode");

    QTest::newRow("named file") << "process.log" << QByteArray("J22") << true << QByteArray("J22");
    QTest::newRow("line break in the code stays one line")
        << "process.log" << QByteArray("J2\r\n2") << true << QByteArray("J2  2");
    QTest::newRow("no shared string")
        << QString() << QByteArray("J92") << false << QByteArray("J92");
    QTest::newRow("named file cannot be opened")
        << "missing/folder/process.log" << QByteArray("J92") << false << QByteArray("J92");
}

void ProcessLogTest::processLog()
{
    QFETCH(QString, publishedPath);
    QFETCH(QByteArray, code);
    QFETCH(bool, toFile);
    QFETCH(QByteArray, loggedCode);

    QTemporaryDir dir(m_home.filePath(QStringLiteral("log-XXXXXX")));
    const QString logFile = dir.filePath(publishedPath);
    std::unique_ptr<SharedMemoryObject> published;
    if (!publishedPath.isNull()) {
        published = std::make_unique<SharedMemoryObject>(
            "/lgwpath_" + QByteArray::number(::getpid()), QFile::encodeName(logFile) + '\0');
        QVERIFY(published->Created());
        // A line from an earlier run stays; the log only grows.
        if (toFile)
            QVERIFY(WriteBytes(logFile, "earlier line\n"));
    }

    StderrCapture stderrText;
    WriteProcessLog(code);
    const QByteArray onStderr = stderrText.Text();
    QByteArray inFile = ReadBytes(logFile);

    QByteArray line = toFile ? inFile : onStderr;
    if (toFile) {
        QVERIFY(line.startsWith("earlier line\n"));
        line.remove(0, qstrlen("earlier line\n"));
        QCOMPARE(onStderr, QByteArray());
    } else {
        QCOMPARE(inFile, QByteArray());
    }
    const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} pid %1 %2\\n$")
            .arg(::getpid())
            .arg(QRegularExpression::escape(QString::fromLatin1(loggedCode))));
    QVERIFY2(shape.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

QTEST_GUILESS_MAIN(ProcessLogTest)
#include "tst_processlog.moc"
