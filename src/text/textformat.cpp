#include "text/textformat.h"

QString formatText(const QString &text, const QStringList &values)
{
    static const QString marker = QStringLiteral("%s");
    QString result;
    result.reserve(text.size());
    qsizetype from = 0;
    for (const QString &value : values) {
        const qsizetype at = text.indexOf(marker, from);
        if (at < 0)
            break;
        result += QStringView(text).sliced(from, at - from);
        result += value;
        from = at + marker.size();
    }
    result += QStringView(text).sliced(from);
    return result;
}

QString formatText(const QString &text, const QString &value)
{
    return formatText(text, QStringList{value});
}

QString trimControlAndBlank(const QString &value)
{
    const auto *const data = reinterpret_cast<const char16_t *>(value.constData());
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && data[begin] <= 0x20)
        ++begin;
    while (end > begin && data[end - 1] <= 0x20)
        --end;
    if (begin == 0 && end == value.size())
        return value;
    return value.sliced(begin, end - begin);
}

QByteArrayView trimControlAndBlank(QByteArrayView utf8)
{
    qsizetype begin = 0;
    qsizetype end = utf8.size();
    while (begin < end && isControlOrBlank(utf8[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(utf8[end - 1]))
        --end;
    return utf8.sliced(begin, end - begin);
}

std::optional<int> parseDecimalInt(QStringView text, bool plusAllowed)
{
    const bool hasSign = text.startsWith(u'-') || (plusAllowed && text.startsWith(u'+'));
    const qsizetype firstDigit = hasSign ? 1 : 0;
    if (text.size() <= firstDigit)
        return std::nullopt;
    for (qsizetype i = firstDigit; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}
