// The Unicode generator on texts from a line to a book: how long the encoder takes, and how long
// one keystroke keeps the GUI thread busy once the input box holds the text, with the output
// redone on every change.
#include "bench/EventLoopTiming.h"
#include "resources/ControlIds.h"
#include "tests/common/TempConfigHome.h"
#include "unicode/UnicodePrint.h"
#include "unicode/ui/UnicodeGenDlg.h"

#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

#include <cstdio>

namespace {

// Hangul syllables in lines of 40, as pasted prose would come.
QString SampleText(int length)
{
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += (i % 41 == 40) ? QChar(u'\n') : QChar(char16_t(0xAC00 + i * 7 % 11172));
    return text;
}

double EncodeMs(const QString& text)
{
    constexpr int kRounds = 5;
    QElapsedTimer clock;
    clock.start();
    qsizetype total = 0;
    for (int i = 0; i < kRounds; ++i)
        total += UnicodePrintText(text, CodeSeparator::Space, true).size();
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6 / kRounds;
    return total > 0 ? ms : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TempConfigHome home;
    TimedApplication app(argc, argv);
    std::printf("Unicode generator (%s build)\n", ORVEXA_BUILD_TYPE);
    std::printf("  %9s %12s %28s %16s\n", "characters", "encode ms", "keystroke: longest event ms",
                "event");
    for (int length : {100, 1000, 10'000, 100'000}) {
        const QString text = SampleText(length);
        QPointer<CUnicodeGenDlg> generator = new CUnicodeGenDlg;
        generator->show();
        auto* input = qobject_cast<QPlainTextEdit*>(generator->Item(ids::kUniText));
        input->setPlainText(text);
        input->moveCursor(QTextCursor::End);
        QTest::qWait(50);

        app.ResetFigures();
        QInputMethodEvent typed;
        typed.setCommitString(QStringLiteral("가"));
        QCoreApplication::sendEvent(input, &typed);
        QTest::qWait(50);
        std::printf("  %9d %12.2f %28.1f %16s\n", length, EncodeMs(text),
                    static_cast<double>(app.longestEventNs) / 1e6, app.longestEventReceiver);
        generator->close();
        QTest::qWait(10);
    }
    return 0;
}
