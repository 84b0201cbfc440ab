#include "online/emailcheck.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace {

struct CodeDeleter {
    void operator()(pcre2_code *code) const { pcre2_code_free(code); }
};
using CompiledPattern = std::unique_ptr<pcre2_code, CodeDeleter>;

struct MatchDataDeleter {
    void operator()(pcre2_match_data *data) const { pcre2_match_data_free(data); }
};

/* The address pattern, compiled on first use; compiled code may be shared between threads. */
const pcre2_code *addressPattern()
{
    static const CompiledPattern pattern = [] {
        static const char source[] = "^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$";
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source), PCRE2_ZERO_TERMINATED, PCRE2_UTF,
                                         &errorCode, &errorOffset, nullptr);
        if (!code)
            qFatal("the e-mail address pattern does not compile (PCRE2 error %d at %zu)", errorCode, errorOffset);
        return CompiledPattern(code);
    }();
    return pattern.get();
}

} // namespace

bool isValidEmail(const QString &address)
{
    // A lone surrogate would be turned into a replacement character by the conversion; such a
    // text is no address, whatever the replacement would match.
    if (address.isEmpty() || !address.isValidUtf16())
        return false;
    const QByteArray subject = address.toUtf8();
    const pcre2_code *pattern = addressPattern();
    const std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData(
        pcre2_match_data_create_from_pattern(pattern, nullptr));
    if (!matchData)
        return false;
    const int result
        = pcre2_match(pattern, reinterpret_cast<PCRE2_SPTR>(subject.constData()),
                      static_cast<PCRE2_SIZE>(subject.size()), 0, PCRE2_NOTEMPTY, matchData.get(), nullptr);
    return result > 0;
}
