#include "platform/osdescription.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

/* The value of KEY=value in os-release text, without its quotes and shell escapes. */
QString osReleaseValue(const QString &osRelease, QStringView key)
{
    const QStringList lines = osRelease.split(u'\n');
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(key) || trimmed.mid(key.size(), 1) != u"=")
            continue;
        QString value = trimmed.mid(key.size() + 1);
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        static const QRegularExpression escaped(QStringLiteral("\\\\([\\\\$\"'`])"));
        return value.replace(escaped, QStringLiteral("\\1"));
    }
    return {};
}

QString readOsRelease()
{
    // /etc/os-release takes precedence; /usr/lib/os-release is the vendor's fallback.
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly))
            return QString::fromUtf8(file.read(64 * 1024));
    }
    return {};
}

} // namespace

QString osDescriptionFrom(const QString &osRelease, const QString &kernelRelease, bool is64Bit)
{
    QString name = osReleaseValue(osRelease, u"PRETTY_NAME");
    if (name.isEmpty())
        name = osReleaseValue(osRelease, u"NAME");
    if (name.isEmpty())
        name = QStringLiteral("Linux");

    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch version = numbers.match(kernelRelease);
    const auto number = [&version](int group) {
        const QString text = version.captured(group);
        return text.isEmpty() ? QStringLiteral("0") : QString::number(text.toULongLong());
    };
    return QStringLiteral("%1 (Version %2.%3, Build %4, %5)")
        .arg(name, number(1), number(2), number(3),
             is64Bit ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition"));
}

QString osDescription()
{
    // The machine's word size, not the program's: a 32-bit build on a 64-bit kernel says 64-bit.
    const bool is64Bit = QSysInfo::currentCpuArchitecture().endsWith(QLatin1String("64"));
    return osDescriptionFrom(readOsRelease(), QSysInfo::kernelVersion(), is64Bit);
}
