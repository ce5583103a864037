#pragma once

#include "results/Baseline.h"
#include "results/RunResults.h"

#include <QByteArray>
#include <QString>

// A picture file larger than this is named in the report instead of shown; an 800 x 480 PNG is
// well below it.
inline constexpr qint64 kMostPictureBytes = 16 * 1024 * 1024;

// The report of a run as one self-contained HTML page in UTF-8: a table of contents by port and
// script run, a summary per port and script, the changes since the baseline (when one is given),
// each expect step's latencies with a small chart (beside the baseline's), and per script run
// its steps, its failures with the reports seen and a failed screen step's pictures, and its
// transcript. Nothing is loaded from anywhere: styles are inline, pictures are data: URIs read
// from the PNG files the model names (files that are not PNG are named, not embedded), charts
// are inline SVG, and there is no script; the page's content security policy refuses anything
// else, so a browser loads nothing even if some text got through unescaped.
QByteArray ReportHtml(const RunResults& run, const RunResults* baseline = nullptr,
                      const BaselineOptions& options = {});

// Text for an element's content: &, <, >, " and ' escaped, and control characters shown as
// \xHH in a marked span, as a browser would show them as nothing or as blanks.
QString HtmlText(QStringView text);

// Bytes from the line for an element's content: UTF-8 as text (as HtmlText), any other byte as
// \xHH in a marked span, so nothing received is hidden or replaced.
QString HtmlBytes(QByteArrayView bytes);
