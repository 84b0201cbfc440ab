// settings.ini on arbitrary bytes: the store reads what it can, and what it writes reads back
// to the same store (writing, reading and writing again gives the same bytes).

#include "fuzzsupport.h"

#include "core/inistore.h"

#include <cstdint>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

/* Section and key names match without regard to letter case. */
void checkLookups(const IniStore &store)
{
    const QString missing = QStringLiteral("\x01");
    FUZZ_CHECK(store.value(QStringLiteral("Settings"), QStringLiteral("LanguageFile"), missing)
               == store.value(QStringLiteral("SETTINGS"), QStringLiteral("languagefile"), missing));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path
        = writeScratchFile(QStringLiteral("settings.ini"), reinterpret_cast<const char *>(data), qsizetype(size));
    IniStore store;
    QString error;
    if (!store.load(path, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    checkLookups(store);

    const QString first = scratchDir().filePath(QStringLiteral("first.ini"));
    const QString second = scratchDir().filePath(QStringLiteral("second.ini"));
    FUZZ_CHECK(store.save(first, &error), error);
    IniStore reread;
    FUZZ_CHECK(reread.load(first, &error) && reread.save(second, &error), error);
    FUZZ_CHECK(readAll(first) == readAll(second), QString::fromUtf8(readAll(first)));

    // A value set by the program reads back after a save, as the language choice does.
    const QString chosen = QStringLiteral("Deutsch lang.txt");
    reread.setValue(QStringLiteral("Settings"), QStringLiteral("LanguageFile"), chosen);
    FUZZ_CHECK(reread.save(second, &error), error);
    IniStore withChoice;
    FUZZ_CHECK(withChoice.load(second, &error), error);
    FUZZ_CHECK(withChoice.value(QStringLiteral("settings"), QStringLiteral("languagefile")) == chosen,
               QString::fromUtf8(readAll(second)));
    return 0;
}
