#pragma once

#include <QString>

#include <memory>

class QSettings;

/*
 * The update checker's per-user store: QSettings in the native format (the registry on
 * Windows, ~/.config/ORVANTA/Tessaly.conf here) for organisation "ORVANTA" and application
 * "Tessaly", every value in the group "Settings" as text, integers as decimal text. It is
 * separate from settings.ini.
 */
class UpdateStore
{
public:
    /** Opens the store; the file is created by the first write. */
    UpdateStore();
    ~UpdateStore();

    UpdateStore(const UpdateStore &) = delete;
    UpdateStore &operator=(const UpdateStore &) = delete;

    /** Whether the store could be opened for reading and writing; when not, reads give their defaults and writes are dropped. */
    bool isOpen() const;

    QString readText(const QString &key, const QString &defaultValue = {}) const;
    /** The integer stored as decimal text ("-" and digits only); any other text gives defaultValue. */
    int readInteger(const QString &key, int defaultValue) const;

    void writeText(const QString &key, const QString &value);
    void writeInteger(const QString &key, int value);

    /** Writes pending changes to disk; false when that failed. */
    bool flush();

private:
    std::unique_ptr<QSettings> m_settings;
    bool m_open = false;
};

/** Stores "showUpdate" := 1 (on) or 0 (off); it counts from the next check. */
void writeShowUpdate(bool on);

/**
 * The stored form of "currentUrl": the UTF-8 bytes scrambled with a 16-bit running key, two
 * upper-case hexadecimal digits a byte. Not a protection, only keeps the address from being
 * read at a glance.
 */
QString scrambleUrl(const QString &url);

/** The address back from scrambleUrl's text; the empty text when the text is not such a form. */
QString unscrambleUrl(const QString &scrambled);
