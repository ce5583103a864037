#include "module/StatementReader.h"

namespace {

// Enough of a bad statement to recognise it in the module's list.
QByteArray Head(const QByteArray& text)
{
    constexpr qsizetype kShown = 80;
    return text.size() <= kShown ? text : text.left(kShown) + "...";
}

} // namespace

void StatementReader::Feed(QByteArrayView bytes, std::vector<ReadStatement>& out)
{
    for (const char c : bytes) {
        if (m_skipping) {
            if (c == ';')
                m_skipping = false;
            continue;
        }
        if (c == '\'') {
            m_inQuote = !m_inQuote;
        } else if (m_inQuote && (c == '\r' || c == '\n')) {
            // The console never breaks a line inside a text, so a quote still open at a line
            // break was never closed; without this one stray quote would swallow every ";" after
            // it.
            out.push_back({Head(m_current), "quote not closed before the line break"});
            m_current.clear();
            m_inQuote = false;
            continue;
        } else if (!m_inQuote && c == ';') {
            const QByteArray statement = m_current.trimmed();
            m_current.clear();
            if (!statement.isEmpty())
                out.push_back({statement, {}});
            continue;
        }
        m_current += c;
        if (m_current.size() > kLongestStatement) {
            out.push_back({Head(m_current), "longer than 65536 bytes without \";\""});
            m_current.clear();
            m_inQuote = false;
            m_skipping = true;
        }
    }
}

std::optional<ReadStatement> StatementReader::DropPartial()
{
    const bool wasSkipping = std::exchange(m_skipping, false);
    const QByteArray partial = m_current.trimmed();
    m_current.clear();
    m_inQuote = false;
    if (wasSkipping || partial.isEmpty())
        return std::nullopt;
    return ReadStatement{Head(partial), "incomplete: the line went quiet before its \";\""};
}
