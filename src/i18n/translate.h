#pragma once

#include "text/textformat.h"

#include <QString>
#include <QStringList>

/*
 * The active user-interface language. It is set once at start-up, before any worker
 * thread exists, and only read afterwards, so lookups need no lock.
 */

/** Makes a language file active: its path, its name and its lines in file order. */
void setActiveLanguage(const QString &filePath, const QString &name, const QStringList &lines);

/** Returns to English: no language file is active. */
void clearActiveLanguage();

QString languageFilePath();
QString languageName();
QStringList languageLines();

/**
 * The display text for an English source text: the text of the first line of the active
 * language file that begins with "{source}", or the source itself when no language is
 * active, no line carries the key or its text is empty.
 */
QString translate(const QString &source);

/**
 * The caption of a menu entry, button or labelled control, given as its English caption with
 * its mnemonic marked by "&" ("&File", "E&xit"; a literal "&" is written "&&"). The key is the
 * caption without the mark ("File"). A language file gives the caption with the mark its
 * translator chose ("{File}&Datei"); a translation without "&" gets no mnemonic, so the
 * letters of a menu never clash by chance. Without a translation the English caption is used.
 */
QString translateCaption(const QString &englishCaption);

/** A caption as plain text, for titles, messages and data: single "&" removed, "&&" turned into "&". */
QString withoutMnemonic(const QString &caption);

/**
 * The text after "{key}" on the first line of lines that begins with it, also when that text
 * is empty; the key itself when no line carries it or lines is empty.
 */
QString lookupInLines(const QString &key, const QStringList &lines);
