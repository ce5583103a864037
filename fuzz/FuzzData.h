#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Splits one fuzz input into the arguments of a call: a leading mode byte and fields separated by
// a byte that the fields do not hold (NUL for UTF-8 fields, 0xFF for UTF-16 ones, whose ASCII
// characters hold NUL bytes), so corpus files stay readable and the fuzzer can grow or shrink
// each field alone.
class FuzzData
{
public:
    FuzzData(const std::uint8_t* data, std::size_t size)
        : m_rest(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
    {}

    // The first byte; 0 for an empty input.
    std::uint8_t Mode()
    {
        if (m_rest.isEmpty())
            return 0;
        const auto mode = static_cast<std::uint8_t>(m_rest[0]);
        m_rest = m_rest.sliced(1);
        return mode;
    }

    // Up to the next separator (dropped) or the end.
    QByteArrayView Field(char separator)
    {
        const qsizetype end = m_rest.indexOf(separator);
        const QByteArrayView field = end < 0 ? m_rest : m_rest.first(end);
        m_rest = end < 0 ? QByteArrayView() : m_rest.sliced(end + 1);
        return field;
    }

    QByteArrayView Rest() const { return m_rest; }

private:
    QByteArrayView m_rest;
};

// Text from raw bytes, UTF-8 or UTF-16 (little-endian; an odd last byte is dropped). UTF-16 keeps what UTF-8 decoding would repair on the way in (lone
// surrogates), so both forms are worth feeding.
inline QString FuzzText(QByteArrayView bytes, bool utf16)
{
    if (!utf16)
        return QString::fromUtf8(bytes);
    QString text(bytes.size() / 2, Qt::Uninitialized);
    if (!text.isEmpty())
        std::memcpy(text.data(), bytes.data(), static_cast<std::size_t>(text.size()) * 2);
    return text;
}

// A broken property aborts, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
