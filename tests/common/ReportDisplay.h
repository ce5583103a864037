#pragma once

#include "report/ReportDecoder.h"
#include "report/ReportPresenter.h"
#include "support/RandomSource.h"

#include <QByteArrayView>

#include <vector>

// What the receive view shows of received bytes, made as the console makes it: each read decoded
// once, then presented. For tests, benchmarks and fuzz targets that use the decode for nothing
// else. Header only: its users link the report library, the test support library does not.
class ReportDisplay
{
public:
    explicit ReportDisplay(RandomSource& rng) : m_presenter(rng) {}

    void Feed(QByteArrayView bytes, std::vector<ColoredText>& out)
    {
        m_decoder.Feed(bytes, m_read);
        m_presenter.Present(bytes, m_read, out);
    }
    void Recycle(std::vector<ColoredText>& pieces) { m_presenter.Recycle(pieces); }
    // The decode of the last read.
    const DecodedRead& Read() const { return m_read; }

private:
    ReportDecoder m_decoder;
    ReportPresenter m_presenter;
    DecodedRead m_read;
};
