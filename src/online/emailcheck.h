#pragma once

#include <QString>

/**
 * Whether address has the form the feedback window accepts for its sender:
 * ^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$ with PCRE semantics, so the
 * part after the at sign needs a dot and must end in a letter or digit. The address is taken
 * as it is (the caller trims it); an empty address, or one that is not valid UTF-16, is not
 * valid. Safe to call from any thread.
 */
bool isValidEmail(const QString &address);
