#pragma once

#include <QString>

/**
 * Collects the messages that libraries print on standard error with fprintf, on the calling
 * thread and while the object lives, instead of letting them reach the terminal; a library's
 * error then becomes part of the caller's own error text. Other threads, and this thread
 * before and after, print as always. Nothing process-wide is changed: no descriptor is
 * redirected. Where the C library offers no way to do this (only glibc does), messages go to
 * standard error as before and text() stays empty.
 */
class LibraryMessageCapture
{
public:
    LibraryMessageCapture();
    ~LibraryMessageCapture();
    LibraryMessageCapture(const LibraryMessageCapture &) = delete;
    LibraryMessageCapture &operator=(const LibraryMessageCapture &) = delete;

    /** What was collected so far, as printed (lines joined by line feeds). */
    QString text() const;

private:
    LibraryMessageCapture *m_outer;
    QByteArray m_text;

    friend void appendLibraryMessage(const char *text, int length);
};
