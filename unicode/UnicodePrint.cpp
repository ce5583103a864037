#include "unicode/UnicodePrint.h"

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

QStringView SeparatorText(CodeSeparator separator)
{
    switch (separator) {
    case CodeSeparator::Space:
        return u" ";
    case CodeSeparator::NoSpace:
        return u"";
    case CodeSeparator::Comma:
        return u",";
    case CodeSeparator::Hyphen:
        return u"-";
    }
    return u"";
}

} // namespace

QString EncodeCodeUnits(QStringView text, CodeSeparator separator)
{
    const QStringView between = SeparatorText(separator);
    QString codes;
    codes.reserve(text.size() * (4 + between.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0)
            codes += between;
        const char16_t unit = text[i].unicode();
        for (int shift = 12; shift >= 0; shift -= 4)
            codes += QChar(kHexDigits[(unit >> shift) & 0xF]);
    }
    return codes;
}

QString UnicodePrintText(QStringView text, CodeSeparator separator, bool wholeCommand)
{
    const QString codes = EncodeCodeUnits(text, separator);
    if (!wholeCommand)
        return codes;
    return QStringLiteral("Print 'U::") + codes + QStringLiteral("';");
}
