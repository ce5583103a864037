// The real console, offscreen, against the virtual module over a real pseudo-terminal: what the
// console's buttons send is drawn, and what is touched on the module is decoded in the console.
#include "commands/Demos.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/ConsoleWithModule.h"

namespace {

bool IsBlank(const QImage& screen)
{
    const QRgb first = screen.pixel(0, 0);
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (screen.pixel(x, y) != first)
                return false;
    return true;
}

} // namespace

class ModuleConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineIsDrawn();
    void touchesAreDecoded_data();
    void touchesAreDecoded();
    void demo1UnpacedLosesNothing();

private:
    QString Received() const { return m_f->Get<ReceiveView>(ids::kReceive)->toPlainText(); }

    std::unique_ptr<ConsoleWithModule> m_f;
};

void ModuleConsoleTest::init()
{
    m_f = std::make_unique<ConsoleWithModule>();
    QCOMPARE(m_f->Open(), QString()); // the module has run the open's "MakeTestEnvironment;"
}

void ModuleConsoleTest::cleanup()
{
    m_f.reset();
}

void ModuleConsoleTest::lineIsDrawn()
{
    QVERIFY(IsBlank(m_f->engine.Screen()));
    m_f->Click(ids::kLine);
    QTRY_COMPARE(m_f->engine.StatementCount(), m_f->Check(ids::kRandomColor)->isChecked() ? 3 : 2);
    QCOMPARE(m_f->engine.UnknownCount(), 0);
    QVERIFY(!IsBlank(m_f->engine.Screen()));
}

void ModuleConsoleTest::touchesAreDecoded_data()
{
    QTest::addColumn<ReportForm>("form");
    QTest::newRow("binary reports") << ReportForm::Binary;
    QTest::newRow("text reports") << ReportForm::Text;
}

void ModuleConsoleTest::touchesAreDecoded()
{
    QFETCH(ReportForm, form);
    m_f->engine.SetForm(form);
    m_f->Click(ids::kButtonCtrl);
    QTRY_COMPARE(m_f->engine.Controls().All().size(), std::size_t(1));

    m_f->engine.Press({50, 55});
    m_f->engine.Release({50, 55});
    m_f->engine.Press({300, 240});
    m_f->engine.Release({300, 240});
    QTRY_VERIFY2(Received().contains(QStringLiteral("$on_touch (up : 300,240)")),
                 qPrintable(Received()));
    const QString shown = Received();
    QStringList decoded;
    for (const QString& line : shown.split(QLatin1Char('\n')))
        decoded << line.section(QStringLiteral(" : "), 1);
    QCOMPARE(decoded.mid(0, 4),
             (QStringList{"$on_click (down : ctrl 1)", "$on_click (up : ctrl 1)",
                          "$on_touch (down : 300,240)", "$on_touch (up : 300,240)"}));
}

void ModuleConsoleTest::demo1UnpacedLosesNothing()
{
    m_f->line.SetPaced(false);
    SeededRandom rng(1);
    const std::vector<QByteArray> sends = Demo1Sends(rng);
    ModuleEngine expected(m_f->storage.path());
    for (const QByteArray& send : sends) {
        m_f->console->SendCommand(send, false);
        expected.Feed(send);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_f->engine.StatementCount(), expected.StatementCount() + 1, 60000);
    QCOMPARE(expected.StatementCount(), 10003);
    QCOMPARE(m_f->engine.UnknownCount(), 0);
    QVERIFY(m_f->engine.Screen() == expected.Screen());
}

QTEST_MAIN(ModuleConsoleTest)
#include "tst_module_console.moc"
