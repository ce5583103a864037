#include "module/ModuleEngine.h"

#include "module/StatementSignature.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>

namespace {

using Kind = Argument::Kind;

// Coordinates far outside the screen draw nothing more than the screen's edge would; clamping
// them keeps the painter's arithmetic well inside its range.
constexpr long kFarthest = 32767;

int Coord(const Argument& a)
{
    return static_cast<int>(std::clamp(a.number, -kFarthest, kFarthest));
}

QPoint PointAt(const std::vector<Argument>& args, std::size_t at)
{
    return {Coord(args[at]), Coord(args[at + 1])};
}

// Two corners, both inside the rectangle, in either order.
QRect CornersAt(const std::vector<Argument>& args, std::size_t at)
{
    return QRect(PointAt(args, at), PointAt(args, at + 2)).normalized();
}

QColor ColourOf(long rgb)
{
    return QColor::fromRgb(
        static_cast<QRgb>(0xFF000000u | (static_cast<quint32>(rgb) & 0xFFFFFFu)));
}

bool IsWord(const Argument& a, const char* word)
{
    return a.kind == Kind::Word && a.word == word;
}

// A transparency in percent after a fill colour: 0 opaque, 100 invisible.
QColor WithTransparency(QColor colour, long percent)
{
    colour.setAlpha(static_cast<int>(255 * (100 - std::clamp(percent, 0L, 100L)) / 100));
    return colour;
}

constexpr int kDefaultTextSize = 16;

// Bytes from the line go to the terminal with control and non-ASCII bytes as "\xNN", so a sender
// cannot drive the terminal the module runs in.
QByteArray Printable(const QByteArray& text)
{
    QByteArray shown;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F)
            shown += c;
        else
            shown += "\\x" + QByteArray::number(b, 16).rightJustified(2, '0');
    }
    return shown;
}

// Crosshairs near the corners and in the middle, touched in this order.
constexpr QPoint kCalibrationPoints[] = {{40, 40}, {760, 40}, {760, 440}, {40, 440}, {400, 240}};
constexpr int kCalibrationSteps = int(std::size(kCalibrationPoints));

} // namespace

const ModuleEngine::CommandEntry ModuleEngine::kCommands[] = {
    {"line", "nnnn", &ModuleEngine::DoLine},
    {"moveto", "nn", &ModuleEngine::DoMoveTo},
    {"pset", "nn", &ModuleEngine::DoPSet},
    {"dotsize", "n", &ModuleEngine::DoDotSize},
    {"box", "nnnn", &ModuleEngine::DoBox},
    {"boxfill", "|nnnnknn", &ModuleEngine::DoBoxFill},
    {"roundbox", "nnnnn|n", &ModuleEngine::DoRoundBox},
    {"roundboxfill", "nnnnn|nkn", &ModuleEngine::DoRoundBoxFill},
    {"circle", "nnnn", &ModuleEngine::DoCircle},
    {"circlefill", "nnnn|cn", &ModuleEngine::DoCircleFill},
    {"arc", "nnnnnn", &ModuleEngine::DoArc},
    {"bezier", "nnnnnnnn", &ModuleEngine::DoBezier},
    {"clear", "", &ModuleEngine::DoClear},
    {"color", "c", &ModuleEngine::DoColor},
    {"textcolor", "c|k", &ModuleEngine::DoTextColor},
    {"textfont", "n|tnnn", &ModuleEngine::DoTextFont},
    {"textpos", "nn|nn", &ModuleEngine::DoTextPos},
    {"print", "t|nn", &ModuleEngine::DoPrint},
    {"button", "nnnnn|t", &ModuleEngine::AddControl<ModuleControl::Kind::Button>},
    {"edit", "nnnnn|t", &ModuleEngine::AddControl<ModuleControl::Kind::Edit>},
    {"checkbox", "nnnnn|tc", &ModuleEngine::AddControl<ModuleControl::Kind::Checkbox>},
    {"xslider", "nnnnnn", &ModuleEngine::AddControl<ModuleControl::Kind::XSlider>},
    {"yslider", "nnnnnn", &ModuleEngine::AddControl<ModuleControl::Kind::YSlider>},
    {"xprogress", "nnnnnn", &ModuleEngine::AddControl<ModuleControl::Kind::XProgress>},
    {"yprogress", "nnnnnn", &ModuleEngine::AddControl<ModuleControl::Kind::YProgress>},
    {"setctrl", "nkn", &ModuleEngine::DoSetCtrl},
    {"ctrlfont", "n|tnnn", &ModuleEngine::DoCtrlFont},
    {"ctrlcolor", "c|k", &ModuleEngine::DoCtrlColor},
    {"showcursor", "", &ModuleEngine::DoShowCursor},
    {"hidecursor", "", &ModuleEngine::DoHideCursor},
    {"drawimage", "t|nn", &ModuleEngine::DoDrawImage},
    {"sound", "t", &ModuleEngine::DoSound},
    {"setclock", "nnnnnn", &ModuleEngine::DoSetClock},
    {"calibrate", "", &ModuleEngine::DoCalibrate},
    {"maketestenvironment", "", &ModuleEngine::DoMakeTestEnvironment},
    {"dump", "|n", &ModuleEngine::DoDump},
};

ModuleEngine::ModuleEngine(QString storageFolder, QObject* parent)
    : QObject(parent), m_storage(std::move(storageFolder)),
      m_screen(kWidth, kHeight, QImage::Format_RGB32)
{
    ResetStyles();
    m_screen.fill(m_background);
    m_answerTimer.setSingleShot(true);
    // A coarse timer may fire early; a precise one never does, so the delay is at least the set.
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_answerTimer, &QTimer::timeout, this, &ModuleEngine::AnswerNext);
}

void ModuleEngine::SetAnswerDelay(int ms)
{
    m_answerDelayMs = std::max(0, ms);
    if (m_answerTimer.isActive())
        m_answerTimer.setInterval(m_answerDelayMs);
}

qint64 ModuleEngine::BytesExecuted() const
{
    for (const Answer& answer : m_answers)
        if (answer.kind != Answer::Kind::Report)
            return m_bytesExecuted;
    // Nothing of the line waits: bytes that completed no statement yet count as taken.
    return m_bytes;
}

void ModuleEngine::Submit(Answer answer)
{
    // At once only when nothing is to wait and nothing waits already, so the order holds.
    if (m_answerDelayMs > 0 || !m_answers.empty() || m_madeNow)
        Queue(std::move(answer));
    else
        Perform(answer);
}

void ModuleEngine::Queue(Answer answer)
{
    if (m_madeNow) {
        m_madeNow->push_back(std::move(answer));
        return;
    }
    m_answers.push_back(std::move(answer));
    if (!m_answerTimer.isActive())
        m_answerTimer.start(m_answerDelayMs);
}

void ModuleEngine::AnswerNext()
{
    if (m_answers.empty())
        return;
    const Answer answer = std::move(m_answers.front());
    m_answers.pop_front();
    std::vector<Answer> made;
    m_madeNow = &made;
    Perform(answer);
    m_madeNow = nullptr;
    // A statement's reports leave before the next statement runs, as the firmware would send them.
    m_answers.insert(m_answers.begin(), std::make_move_iterator(made.begin()),
                     std::make_move_iterator(made.end()));
    if (answer.kind != Answer::Kind::Report) {
        m_bytesExecuted = std::max(m_bytesExecuted, answer.received);
        emit CountsChanged();
        emit ScreenChanged();
    }
    if (!m_answers.empty())
        m_answerTimer.start(m_answerDelayMs);
}

void ModuleEngine::Perform(const Answer& answer)
{
    switch (answer.kind) {
    case Answer::Kind::Statement:
        Execute(answer.bytes);
        break;
    case Answer::Kind::Rejected:
        Log(answer.bytes, answer.error);
        break;
    case Answer::Kind::Report:
        ++m_events;
        emit ReportReady(answer.bytes);
        emit CountsChanged();
        break;
    }
}

void ModuleEngine::ResetStyles()
{
    m_colour = Qt::white;
    m_background = Qt::black;
    m_dotSize = 1;
    m_position = {};
    m_textColour = Qt::white;
    m_textBackground.reset();
    m_textFont = QFont(QStringLiteral("Sans Serif"));
    m_textFont.setPixelSize(kDefaultTextSize);
    m_textArea = QRect(0, 0, 0, 0);
    m_ctrlColour = Qt::black;
    m_ctrlBackground = QColor(0xD0, 0xD0, 0xD0);
    m_ctrlFont = QFont(QStringLiteral("Sans Serif"));
    m_ctrlFont.setPixelSize(13);
    m_pushed.clear();
}

void ModuleEngine::Feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    emit Receiving(bytes);
    m_bytes += bytes.size();
    std::vector<ReadStatement> statements;
    m_reader.Feed(bytes, statements);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const ReadStatement& read = statements[i];
        // Where in these bytes a statement ends is not known: only the last one of them counts
        // them all as taken, so no caller goes on before every statement they hold has run.
        Submit({read.error.isEmpty() ? Answer::Kind::Statement : Answer::Kind::Rejected, read.text,
                read.error, i + 1 == statements.size() ? m_bytes : m_bytes - bytes.size()});
    }
    emit CountsChanged();
    if (!statements.empty())
        emit ScreenChanged();
}

void ModuleEngine::LineIdle()
{
    if (const auto dropped = m_reader.DropPartial()) {
        Submit({Answer::Kind::Rejected, dropped->text, dropped->error, m_bytes});
        emit CountsChanged();
    }
}

void ModuleEngine::Execute(const QByteArray& text)
{
    auto parsed = ParseStatement(text);
    if (auto* error = std::get_if<QByteArray>(&parsed)) {
        Log(text, *error);
        return;
    }
    const Statement& statement = std::get<Statement>(parsed);
    for (const CommandEntry& entry : kCommands) {
        if (statement.keyword != entry.keyword)
            continue;
        QByteArray error = CheckSignature(entry.signature, statement.arguments);
        if (error.isEmpty())
            error = (this->*entry.run)(statement.arguments);
        Log(text, error);
        return;
    }
    Log(text, "unknown keyword \"" + statement.keyword + '"');
}

void ModuleEngine::Log(const QByteArray& text, const QByteArray& error)
{
    if (error.isEmpty())
        ++m_executed;
    else
        ++m_unknown;
    if (!error.isEmpty())
        std::fprintf(stderr, "unknown statement: %s  <- %s\n", Printable(text).constData(),
                     error.constData());
    m_recent.push_back({text, error});
    if (m_recent.size() > kRecentKept)
        m_recent.pop_front();
}

QColor ModuleEngine::FillFrom(const Arguments& args, std::size_t at, QColor fallback) const
{
    return args.size() > at && args[at].kind == Kind::Colour ? ColourOf(args[at].number) : fallback;
}

QByteArray ModuleEngine::DoLine(const Arguments& args)
{
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawLine(PointAt(args, 0), PointAt(args, 2));
    m_position = PointAt(args, 2);
    return {};
}

QByteArray ModuleEngine::DoMoveTo(const Arguments& args)
{
    m_position = PointAt(args, 0);
    return {};
}

QByteArray ModuleEngine::DoPSet(const Arguments& args)
{
    const QPoint p = PointAt(args, 0);
    QPainter painter(&m_screen);
    painter.fillRect(
        QRect(p.x() - (m_dotSize - 1) / 2, p.y() - (m_dotSize - 1) / 2, m_dotSize, m_dotSize),
        m_colour);
    return {};
}

QByteArray ModuleEngine::DoDotSize(const Arguments& args)
{
    if (args[0].number < 1 || args[0].number > 100)
        return "dot size outside 1..100";
    m_dotSize = static_cast<int>(args[0].number);
    return {};
}

QByteArray ModuleEngine::DoBox(const Arguments& args)
{
    const QRect r = CornersAt(args, 0);
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    return {};
}

QByteArray ModuleEngine::DoBoxFill(const Arguments& args)
{
    if (args.empty()) {
        m_screen.fill(m_colour);
        return {};
    }
    if (args.size() < 4)
        return "takes 0 or 4 to 7 arguments, got " + QByteArray::number(qulonglong(args.size()));
    return FillShape(args, 4, false);
}

QByteArray ModuleEngine::DoRoundBox(const Arguments& args)
{
    const QRect r = CornersAt(args, 0);
    const int rx = std::abs(Coord(args[4]));
    const int ry = args.size() > 5 ? std::abs(Coord(args[5])) : rx;
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawRoundedRect(r.adjusted(0, 0, -1, -1), rx, ry);
    return {};
}

QByteArray ModuleEngine::DoRoundBoxFill(const Arguments& args)
{
    return FillShape(args, 6, true);
}

// The fill of BoxFill and Roundboxfill. At `extraAt`: a colour to fill with, "$push" (keep what
// lies under the shape, then fill) or "$pop" (put back the newest kept area instead of filling);
// then a transparency in percent. Anything after that is accepted and has no effect.
QByteArray ModuleEngine::FillShape(const Arguments& args, std::size_t extraAt, bool round)
{
    const QRect r = CornersAt(args, 0);
    QColor fill = m_colour;
    if (args.size() > extraAt) {
        const Argument& extra = args[extraAt];
        if (extra.kind == Kind::Colour) {
            fill = ColourOf(extra.number);
        } else if (IsWord(extra, "$pop")) {
            // Nothing kept, nothing to put back: the console sends "$pop" as freely as "$push".
            if (m_pushed.empty())
                return {};
            QPainter painter(&m_screen);
            painter.drawImage(m_pushed.back().at, m_pushed.back().pixels);
            m_pushed.pop_back();
            return {};
        } else if (IsWord(extra, "$push")) {
            // Bounded, so a sender that only pushes cannot grow the module without end.
            constexpr std::size_t kMostPushed = 16;
            if (m_pushed.size() == kMostPushed)
                m_pushed.erase(m_pushed.begin());
            const QRect kept = r.intersected(m_screen.rect());
            m_pushed.push_back({kept.topLeft(), m_screen.copy(kept)});
        } else {
            return "argument " + QByteArray::number(qulonglong(extraAt + 1)) +
                   " should be a colour, \"$push\" or \"$pop\"";
        }
    }
    if (args.size() > extraAt + 1 && args[extraAt + 1].kind == Kind::Number)
        fill = WithTransparency(fill, args[extraAt + 1].number);
    QPainter painter(&m_screen);
    if (round) {
        const int rx = std::abs(Coord(args[4]));
        const int ry = args.size() > 5 ? std::abs(Coord(args[5])) : rx;
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(r, rx, ry);
    } else {
        painter.fillRect(r, fill);
    }
    return {};
}

QByteArray ModuleEngine::DoCircle(const Arguments& args)
{
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawEllipse(PointAt(args, 0), std::abs(Coord(args[2])), std::abs(Coord(args[3])));
    return {};
}

QByteArray ModuleEngine::DoCircleFill(const Arguments& args)
{
    QColor fill = FillFrom(args, 4, m_colour);
    if (args.size() > 5)
        fill = WithTransparency(fill, args[5].number);
    QPainter painter(&m_screen);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(PointAt(args, 0), std::abs(Coord(args[2])), std::abs(Coord(args[3])));
    return {};
}

QByteArray ModuleEngine::DoArc(const Arguments& args)
{
    // Angles in degrees, counter-clockwise from three o'clock, from the first angle to the second.
    const QPoint centre = PointAt(args, 0);
    const int rx = std::abs(Coord(args[2]));
    const int ry = std::abs(Coord(args[3]));
    const long from = args[4].number % 360;
    const long span = ((args[5].number - args[4].number) % 360 + 360) % 360;
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawArc(QRect(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry),
                    static_cast<int>(from * 16), static_cast<int>(span * 16));
    return {};
}

QByteArray ModuleEngine::DoBezier(const Arguments& args)
{
    QPainterPath path(PointAt(args, 0));
    path.cubicTo(PointAt(args, 2), PointAt(args, 4), PointAt(args, 6));
    QPainter painter(&m_screen);
    painter.setPen(m_colour);
    painter.drawPath(path);
    return {};
}

QByteArray ModuleEngine::DoClear(const Arguments&)
{
    m_screen.fill(m_background);
    m_controls.Clear();
    m_grabbed = kNothingHeld;
    return {};
}

QByteArray ModuleEngine::DoColor(const Arguments& args)
{
    m_colour = ColourOf(args[0].number);
    return {};
}

QByteArray ModuleEngine::DoTextColor(const Arguments& args)
{
    if (args.size() > 1 && args[1].kind == Kind::Word && !IsWord(args[1], "$transparent"))
        return "argument 2 should be a colour or \"$transparent\"";
    m_textColour = ColourOf(args[0].number);
    if (args.size() > 1 && args[1].kind == Kind::Colour)
        m_textBackground = ColourOf(args[1].number);
    else
        m_textBackground.reset();
    return {};
}

namespace {

// "size[,'font'[,bold[,italic,underline]]]" onto `font`.
QByteArray ApplyFont(const std::vector<Argument>& args, QFont& font)
{
    if (args[0].number < 0 || args[0].number > 1000)
        return "font size outside 0..1000";
    // Size 0 (the Print button can draw it) is the module's default size.
    font.setPixelSize(args[0].number == 0 ? kDefaultTextSize : static_cast<int>(args[0].number));
    if (args.size() > 1)
        font.setFamily(args[1].text);
    if (args.size() > 2)
        font.setBold(args[2].number != 0);
    if (args.size() > 3)
        font.setItalic(args[3].number != 0);
    if (args.size() > 4)
        font.setUnderline(args[4].number != 0);
    return {};
}

} // namespace

QByteArray ModuleEngine::DoTextFont(const Arguments& args)
{
    return ApplyFont(args, m_textFont);
}

QByteArray ModuleEngine::DoTextPos(const Arguments& args)
{
    if (args.size() == 3)
        return "takes 2 or 4 arguments, got 3";
    m_textArea = args.size() == 4 ? CornersAt(args, 0) : QRect(PointAt(args, 0), QSize(0, 0));
    return {};
}

QByteArray ModuleEngine::DoPrint(const Arguments& args)
{
    if (args.size() == 2)
        return "takes 1 or 3 arguments, got 2";
    const QString& text = args[0].text;
    QRect area = args.size() == 3 ? QRect(PointAt(args, 1), QSize(0, 0)) : m_textArea;
    QPainter painter(&m_screen);
    painter.setFont(m_textFont);
    int flags = Qt::AlignLeft | Qt::AlignTop;
    if (area.isEmpty()) {
        area = QRect(area.topLeft(), QSize(kWidth * 4, kHeight * 4));
    } else {
        flags |= Qt::TextWordWrap;
    }
    const QRect used = painter.boundingRect(area, flags, text);
    if (m_textBackground)
        painter.fillRect(used.intersected(area), *m_textBackground);
    painter.setPen(m_textColour);
    painter.drawText(area, flags, text);
    return {};
}

void ModuleEngine::PaintControl(const ModuleControl& control)
{
    QPainter painter(&m_screen);
    control.Paint(painter, m_background);
}

template <ModuleControl::Kind kind> QByteArray ModuleEngine::AddControl(const Arguments& args)
{
    ModuleControl control;
    control.kind = kind;
    control.id = static_cast<int>(args[0].number);
    if (control.id < 0 || control.id > 255)
        return "control id outside 0..255";
    control.rect = CornersAt(args, 1);
    control.foreground = m_ctrlColour;
    control.background = m_ctrlBackground;
    control.font = m_ctrlFont;
    if (args.size() > 5 && args[5].kind == Kind::Text)
        control.text = args[5].text;
    if (args.size() > 5 && args[5].kind == Kind::Number) {
        if (args[5].number < 0 || args[5].number > 65535)
            return "maximum outside 0..65535";
        control.maximum = args[5].number;
    }
    if (args.size() > 6)
        control.mark = ColourOf(args[6].number);
    PaintControl(m_controls.Put(std::move(control)));
    return {};
}

QByteArray ModuleEngine::DoSetCtrl(const Arguments& args)
{
    if (!IsWord(args[1], "$position"))
        return "argument 2 should be \"$position\"";
    ModuleControl* control = m_controls.Find(static_cast<int>(args[0].number));
    if (!control)
        return "no control " + QByteArray::number(args[0].number);
    control->value = std::clamp(args[2].number, 0L, control->maximum);
    PaintControl(*control);
    return {};
}

QByteArray ModuleEngine::DoCtrlFont(const Arguments& args)
{
    return ApplyFont(args, m_ctrlFont);
}

QByteArray ModuleEngine::DoCtrlColor(const Arguments& args)
{
    if (args.size() > 1 && args[1].kind == Kind::Word && !IsWord(args[1], "$transparent"))
        return "argument 2 should be a colour or \"$transparent\"";
    m_ctrlColour = ColourOf(args[0].number);
    if (args.size() > 1 && args[1].kind == Kind::Colour)
        m_ctrlBackground = ColourOf(args[1].number);
    else if (args.size() > 1)
        m_ctrlBackground.reset();
    return {};
}

QByteArray ModuleEngine::DoShowCursor(const Arguments&)
{
    m_cursorVisible = true;
    return {};
}

QByteArray ModuleEngine::DoHideCursor(const Arguments&)
{
    m_cursorVisible = false;
    return {};
}

QByteArray ModuleEngine::DoDrawImage(const Arguments& args)
{
    if (args.size() == 2)
        return "takes 1 or 3 arguments, got 2";
    const QString& name = args[0].text;
    // Only files of the storage folder itself: a name must not lead out of it.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return "picture name must be a file of the storage folder";
    const QImage picture(QDir(m_storage).filePath(name));
    if (picture.isNull())
        return "no picture \"" + name.toUtf8() + "\" in the storage folder";
    QPainter painter(&m_screen);
    painter.drawImage(args.size() == 3 ? PointAt(args, 1) : QPoint(0, 0), picture);
    return {};
}

QByteArray ModuleEngine::DoSound(const Arguments& args)
{
    m_note = QStringLiteral("\u266A ") + args[0].text;
    emit SoundRequested(args[0].text);
    return {};
}

QByteArray ModuleEngine::DoSetClock(const Arguments& args)
{
    const QDate date(Coord(args[0]), Coord(args[1]), Coord(args[2]));
    const QTime time(Coord(args[3]), Coord(args[4]), Coord(args[5]));
    if (!date.isValid() || !time.isValid())
        return "not a valid date and time";
    m_clockOffsetMs = QDateTime::currentDateTime().msecsTo(QDateTime(date, time));
    return {};
}

QDateTime ModuleEngine::Clock() const
{
    return QDateTime::currentDateTime().addMSecs(m_clockOffsetMs);
}

QByteArray ModuleEngine::DoCalibrate(const Arguments&)
{
    if (!Calibrating())
        m_beforeCalibration = m_screen.copy();
    m_calibrationStep = 0;
    DrawCalibrationTarget();
    return {};
}

QPoint ModuleEngine::CalibrationTarget() const
{
    return Calibrating() ? kCalibrationPoints[m_calibrationStep] : QPoint();
}

void ModuleEngine::DrawCalibrationTarget()
{
    m_screen = m_beforeCalibration.copy();
    const QPoint c = CalibrationTarget();
    QPainter painter(&m_screen);
    painter.setPen(QPen(Qt::red, 2));
    painter.drawLine(c.x() - 20, c.y(), c.x() + 20, c.y());
    painter.drawLine(c.x(), c.y() - 20, c.x(), c.y() + 20);
    painter.drawEllipse(c, 8, 8);
    painter.drawText(QRect(0, kHeight / 2 + 30, kWidth, 30), Qt::AlignCenter,
                     QStringLiteral("Touch the centre of the cross (%1 of %2)")
                         .arg(m_calibrationStep + 1)
                         .arg(kCalibrationSteps));
}

QByteArray ModuleEngine::DoMakeTestEnvironment(const Arguments&)
{
    ResetStyles();
    m_calibrationStep = -1;
    m_cursorVisible = true;
    DoClear({});
    return {};
}

QByteArray ModuleEngine::DoDump(const Arguments& args)
{
    // A one-line state report for whoever watches the module's terminal; "dump 0" stays quiet.
    if (!args.empty() && args[0].number == 0)
        return {};
    std::fprintf(stderr,
                 "dump: %lld statements, %lld unknown, %lld bytes, %lld events, %zu controls, "
                 "colour %06X, dot size %d\n",
                 m_executed, m_unknown, m_bytes, m_events, m_controls.All().size(),
                 m_colour.rgb() & 0xFFFFFFu, m_dotSize);
    return {};
}

void ModuleEngine::Report(std::uint8_t code, const ReportContent& content)
{
    const QByteArray report = EncodeReport(code, content, m_form);
    if (report.isEmpty())
        return;
    Submit({Answer::Kind::Report, report, {}, 0});
}

void ModuleEngine::SendEvent(std::uint8_t code, const ReportContent& content)
{
    emit Acting({ModuleAction::Kind::Event, {}, code, content.state});
    Report(code, content);
}

void ModuleEngine::SendDate()
{
    emit Acting({ModuleAction::Kind::Event, {}, report_code::kDate});
    const QDate d = Clock().date();
    Report(report_code::kDate, {false, {d.year(), d.month(), d.day()}});
}

void ModuleEngine::SendTime()
{
    emit Acting({ModuleAction::Kind::Event, {}, report_code::kTime});
    const QTime t = Clock().time();
    Report(report_code::kTime, {false, {t.hour(), t.minute(), t.second()}});
}

namespace {

QPoint OnScreen(QPoint p)
{
    return {std::clamp(p.x(), 0, ModuleEngine::kWidth - 1),
            std::clamp(p.y(), 0, ModuleEngine::kHeight - 1)};
}

} // namespace

void ModuleEngine::Press(QPoint p)
{
    p = OnScreen(p);
    emit Acting({ModuleAction::Kind::Press, p});
    if (Calibrating()) {
        if (++m_calibrationStep < kCalibrationSteps) {
            DrawCalibrationTarget();
        } else {
            m_calibrationStep = -1;
            m_screen = m_beforeCalibration;
        }
        emit ScreenChanged();
        return;
    }
    ModuleControl* control = m_controls.TouchableAt(p);
    if (!control) {
        m_grabbed = kTouching;
        Report(report_code::kTouch, {true, {p.x(), p.y()}});
        return;
    }
    m_grabbed = control->id;
    if (control->kind == ModuleControl::Kind::Button) {
        control->pressed = true;
        Report(report_code::kClick, {true, {control->id}});
    } else if (control->kind == ModuleControl::Kind::Checkbox) {
        control->checked = !control->checked;
        Report(report_code::kCheck, {control->checked, {control->id}});
    } else {
        control->value = control->ValueAt(p);
        Report(report_code::kPosition, {false, {control->id, control->value}});
    }
    PaintControl(*control);
    emit ScreenChanged();
}

void ModuleEngine::Move(QPoint p)
{
    p = OnScreen(p);
    emit Acting({ModuleAction::Kind::Move, p});
    if (m_grabbed < 0)
        return;
    ModuleControl* control = m_controls.Find(m_grabbed);
    if (!control || !control->IsSlider())
        return;
    const long value = control->ValueAt(p);
    if (value == control->value)
        return;
    control->value = value;
    Report(report_code::kPosition, {false, {control->id, value}});
    PaintControl(*control);
    emit ScreenChanged();
}

void ModuleEngine::Release(QPoint p)
{
    p = OnScreen(p);
    emit Acting({ModuleAction::Kind::Release, p});
    const int grabbed = std::exchange(m_grabbed, kNothingHeld);
    if (grabbed == kTouching) {
        Report(report_code::kTouch, {false, {p.x(), p.y()}});
        return;
    }
    ModuleControl* control = grabbed >= 0 ? m_controls.Find(grabbed) : nullptr;
    if (!control || control->kind != ModuleControl::Kind::Button)
        return;
    control->pressed = false;
    Report(report_code::kClick, {false, {control->id}});
    PaintControl(*control);
    emit ScreenChanged();
}

void ModuleEngine::KeyPress(std::uint8_t key)
{
    emit Acting({ModuleAction::Kind::Key, {}, key});
    Report(report_code::kKeyPress, {false, {key}});
}
