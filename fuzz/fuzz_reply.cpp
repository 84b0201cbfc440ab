// The update checker's reply on arbitrary bytes: splitting into lines, the "<tag>value</tag>"
// lines it reads, and the download address it would open, which must always be a web address.
// The first byte picks how the body was decoded (UTF-8 or one byte per character).

#include "fuzzsupport.h"

#include "online/updatecheck.h"
#include "online/webrequest.h"

#include <QUrl>

#include <cstdint>

namespace {

const QStringList kTags
    = {QStringLiteral("version"), QStringLiteral("url"), QStringLiteral("result"), QStringLiteral("important")};

bool isWebAddress(const QString &address)
{
    const QString scheme = QUrl(address).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

void checkDownloadAddress(const QString &offered)
{
    const QString address = downloadAddress(offered);
    FUZZ_CHECK(isWebAddress(address), offered + QStringLiteral(" -> ") + address);
    FUZZ_CHECK(address == (isWebAddress(offered) ? offered : homePage()), offered + QStringLiteral(" -> ") + address);
}

void checkLine(const QString &line)
{
    FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
    for (const QString &tag : kTags) {
        const QString value = tagValue(line, tag);
        if (!value.isEmpty())
            FUZZ_CHECK(u'<' + tag + u'>' + value + QStringLiteral("</") + tag + u'>' == line, line);
        FUZZ_CHECK(tagValue(line, tag.toUpper()) == value, line);
        // Whatever a line holds, wrapped in a tag it comes back as it was.
        FUZZ_CHECK(tagValue(u'<' + tag + u'>' + line + QStringLiteral("</") + tag + u'>', tag) == line, line);
        checkDownloadAddress(value);
    }
    checkDownloadAddress(line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    const QString reply = (data[0] & 1) ? QString::fromLatin1(bytes, length) : QString::fromUtf8(bytes, length);
    const QStringList lines = splitReplyLines(reply);
    FUZZ_CHECK(lines == referenceLines(reply));
    for (const QString &line : lines)
        checkLine(line);
    return 0;
}
