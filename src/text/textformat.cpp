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
