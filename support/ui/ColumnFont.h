#pragma once

#include <QByteArrayView>
#include <QFont>
#include <QPointF>
#include <QRawFont>

#include <array>
#include <vector>

class QPainter;

// A fixed-pitch font that draws 8-bit text with every character in its column. The glyph of each
// of the 256 characters is looked up once, so drawing places glyphs instead of shaping text.
// Shaping cost much of a frame of streaming text, and drew characters such as the soft hyphen as
// nothing, pulling the rest of the row out of the columns selection and hit testing use.
class ColumnFont
{
public:
    void SetFont(const QFont& font);

    qreal CharWidth() const { return m_charWidth; }
    int RowHeight() const { return m_rowHeight; }
    int Ascent() const { return m_ascent; }

    // Draws `latin1` from `baseline` on, one column per character; control characters show as
    // spaces.
    void Draw(QPainter& painter, QPointF baseline, QByteArrayView latin1, bool bold);

private:
    // 0 marks a character the font lacks; text holding one is drawn the ordinary way, with
    // fallback fonts.
    struct Glyphs
    {
        QRawFont font;
        std::array<quint32, 256> index{};
    };
    static Glyphs GlyphsOf(const QFont& font);

    QFont m_font;
    QFont m_boldFont;
    Glyphs m_glyphs;
    Glyphs m_boldGlyphs;
    std::vector<QPointF> m_columnPlaces; // where each column's glyph goes, from the row's start
    std::vector<quint32> m_rowGlyphs;
    qreal m_charWidth = 8;
    int m_rowHeight = 16;
    int m_ascent = 12;
};
