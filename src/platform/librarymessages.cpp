#include "platform/librarymessages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

thread_local LibraryMessageCapture *t_capture = nullptr;

} // namespace

void appendLibraryMessage(const char *text, int length)
{
    if (t_capture && length > 0)
        t_capture->m_text.append(text, length);
}

LibraryMessageCapture::LibraryMessageCapture()
    : m_outer(t_capture)
{
    t_capture = this;
}

LibraryMessageCapture::~LibraryMessageCapture()
{
    t_capture = m_outer;
}

QString LibraryMessageCapture::text() const
{
    return QString::fromLocal8Bit(m_text).trimmed();
}

#if defined(__GLIBC__)

/*
 * Libraries built with _FORTIFY_SOURCE (as Debian builds them) print their messages through
 * __fprintf_chk. The program defines that function itself, so the dynamic linker binds every
 * library's calls to it: output for standard error on a capturing thread is kept, everything
 * else goes on to the C library's own __vfprintf_chk unchanged.
 */
extern "C" int __vfprintf_chk(FILE *stream, int flag, const char *format, va_list arguments);

extern "C" __attribute__((visibility("default"), used)) int __fprintf_chk(FILE *stream, int flag, const char *format,
                                                                          ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result;
    if (t_capture && stream == stderr) {
        char buffer[1024];
        va_list copy;
        va_copy(copy, arguments);
        result = std::vsnprintf(buffer, sizeof buffer, format, copy);
        va_end(copy);
        appendLibraryMessage(buffer, result < 0 ? 0 : std::min(result, int(sizeof buffer) - 1));
    } else {
        result = __vfprintf_chk(stream, flag, format, arguments);
    }
    va_end(arguments);
    return result;
}

#endif
