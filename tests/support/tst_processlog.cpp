#include "support/ProcessLog.h"
#include "support/SharedString.h"

#include "SupportTestHelpers.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A shared-memory object published as another process would, removed again when it goes.
class SharedMemoryObject
{
public:
    SharedMemoryObject(const QByteArray& name, const QByteArray& content) : m_name(name)
    {
        const int fd = ::shm_open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        m_created = fd >= 0 && ::write(fd, content.constData(), content.size()) == content.size();
        if (fd >= 0)
            ::close(fd);
    }
    ~SharedMemoryObject() { ::shm_unlink(m_name.constData()); }
    SharedMemoryObject(const SharedMemoryObject&) = delete;
    SharedMemoryObject& operator=(const SharedMemoryObject&) = delete;

    bool Created() const { return m_created; }

private:
    QByteArray m_name;
    bool m_created = false;
};

} // namespace

class ProcessLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }

    void sharedString_data()
    {
        QTest::addColumn<QString>("lookup");
        QTest::addColumn<QByteArray>("object"); // empty: nothing published
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("text");

        const QByteArray name = "orvexa_" + QByteArray::number(::getpid());
        QTest::newRow("text up to its NUL")
            << QString(name) << "/" + name << QByteArray("hello\0junk", 10) << QByteArray("hello");
        QTest::newRow("no NUL before the end of the object")
            << QString(name) << "/" + name << QByteArray("abc") << QByteArray("abc");
        QTest::newRow("empty object")
            << QString(name) << "/" + name << QByteArray() << QByteArray();
        QTest::newRow("backslash and slash in the name")
            << "a/Local\\" + QString(name) << "/a_Local_" + name << QByteArray("b\0", 2)
            << QByteArray("b");
        QTest::newRow("nothing published")
            << QString(name) << QByteArray() << QByteArray() << QByteArray();
    }

    void sharedString()
    {
        QFETCH(QString, lookup);
        QFETCH(QByteArray, object);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, text);

        std::unique_ptr<SharedMemoryObject> published;
        if (!object.isEmpty()) {
            published = std::make_unique<SharedMemoryObject>(object, content);
            QVERIFY(published->Created());
        }
        bool found = object.isEmpty();
        QCOMPARE(ReadSharedString(lookup, &found), text);
        QCOMPARE(found, !object.isEmpty());
    }

    void processLog_data()
    {
        QTest::addColumn<QString>("publishedPath"); // null: no shared string
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<bool>("toFile");
        QTest::addColumn<QByteArray>("loggedCode");

        QTest::newRow("named file")
            << "process.log" << QByteArray("J22") << true << QByteArray("J22");
        QTest::newRow("line break in the code stays one line")
            << "process.log" << QByteArray("J2\r\n2") << true << QByteArray("J2  2");
        QTest::newRow("no shared string")
            << QString() << QByteArray("J92") << false << QByteArray("J92");
        QTest::newRow("named file cannot be opened")
            << "missing/folder/process.log" << QByteArray("J92") << false << QByteArray("J92");
    }

    void processLog()
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
        }
        // A line from an earlier run stays; the log only grows.
        const QByteArray earlier = toFile ? "earlier line\n" : "";
        if (toFile)
            QVERIFY(WriteBytes(logFile, earlier));

        StderrCapture stderrText;
        WriteProcessLog(code);
        const QByteArray onStderr = stderrText.Text();
        const QByteArray inFile = ReadBytes(logFile);
        QCOMPARE(toFile ? onStderr : inFile, QByteArray());
        QVERIFY(inFile.startsWith(earlier));
        const QByteArray line = toFile ? inFile.mid(earlier.size()) : onStderr;
        const QRegularExpression shape(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} pid %1 %2\\n$")
                .arg(::getpid())
                .arg(QRegularExpression::escape(QString::fromLatin1(loggedCode))));
        QVERIFY2(shape.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    }

private:
    TempConfigHome m_home;
};

QTEST_GUILESS_MAIN(ProcessLogTest)
#include "tst_processlog.moc"
