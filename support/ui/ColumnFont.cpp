#include "support/ui/ColumnFont.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>

#include <algorithm>
#include <cmath>

void ColumnFont::SetFont(const QFont& font)
{
    m_font = font;
    m_font.setStyleHint(QFont::TypeWriter);
    m_boldFont = m_font;
    m_boldFont.setBold(true);
    const QFontMetricsF metrics(m_font);
    m_charWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_rowHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    m_ascent = static_cast<int>(std::ceil(metrics.ascent()));
    m_glyphs = GlyphsOf(m_font);
    m_boldGlyphs = GlyphsOf(m_boldFont);
    m_columnPlaces.clear();
}

ColumnFont::Glyphs ColumnFont::GlyphsOf(const QFont& font)
{
    Glyphs glyphs;
    glyphs.font = QRawFont::fromFont(font);
    if (!glyphs.font.isValid())
        return glyphs;
    // Control characters show as spaces, as they always have.
    QString characters(256, QLatin1Char(' '));
    for (int c = 0; c < 256; ++c) {
        if (c >= 0x20 && c != 0x7F)
            characters[c] = QChar(c);
    }
    const QList<quint32> indexes = glyphs.font.glyphIndexesForString(characters);
    if (indexes.size() == 256)
        std::copy(indexes.begin(), indexes.end(), glyphs.index.begin());
    return glyphs;
}

void ColumnFont::Draw(QPainter& painter, QPointF baseline, QByteArrayView latin1, bool bold)
{
    const auto count = static_cast<std::size_t>(latin1.size());
    const Glyphs& glyphs = bold ? m_boldGlyphs : m_glyphs;
    const auto* text = reinterpret_cast<const unsigned char*>(latin1.data());
    m_rowGlyphs.resize(count);
    bool inFont = glyphs.font.isValid();
    for (std::size_t i = 0; i < count && inFont; ++i) {
        m_rowGlyphs[i] = glyphs.index[text[i]];
        inFont = m_rowGlyphs[i] != 0;
    }
    if (inFont) {
        if (m_columnPlaces.size() < count) {
            m_columnPlaces.resize(std::max<std::size_t>(count, 256));
            for (std::size_t i = 0; i < m_columnPlaces.size(); ++i)
                m_columnPlaces[i] = QPointF(static_cast<qreal>(i) * m_charWidth, 0);
        }
        QGlyphRun run;
        run.setRawFont(glyphs.font);
        run.setRawData(m_rowGlyphs.data(), m_columnPlaces.data(), static_cast<int>(count));
        painter.drawGlyphRun(baseline, run);
        return;
    }
    QString shown = QString::fromLatin1(latin1);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    painter.setFont(bold ? m_boldFont : m_font);
    painter.drawText(baseline, shown);
}
