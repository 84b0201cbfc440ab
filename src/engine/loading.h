#pragma once

#include "text/textlines.h"

#include <QStringList>

/** The text of every loaded VCF file, and how many files were loaded. */
struct LoadedVcards {
    /**
     * Every line of every loaded file, each file followed by one empty line and a file end
     * (TextLines::markFileEnd) after it.
     */
    TextLines loadedLines;
    /** Files loaded since start or since the last clear. */
    qint64 loadedFileCount = 0;

    void clearLoaded()
    {
        loadedLines.clear();
        loadedFileCount = 0;
    }
};

/** What became of one file handed to appendVcfFile. */
struct LoadOutcome {
    enum Kind {
        Missing,  // nothing at the path: nothing appended; warning says so
        NotAFile, // a folder or another kind of entry: nothing appended; warning says so
        Loaded,   // lines appended and counted (warning set for an empty file)
        Failed,   // nothing appended; warning holds the reason
        NoMemory, // nothing appended: memory ran out while reading; warning says so
    };
    Kind kind = Missing;
    /** Caption and text, in paragraphs, of the warning to show when there are any. */
    QString warningCaption;
    QStringList warningParagraphs;
};

/**
 * The loading steps of one file: reads path in the chosen encoding and appends its lines and
 * one empty line to target, counting the file. A path where no file is, or where a folder is,
 * changes nothing and returns a warning that names it (Missing, NotAFile). An empty file
 * is loaded with a "The file is empty!" warning; a file that cannot be read or decoded leaves
 * target unchanged and returns the error as a warning with caption "WARNING" that names the
 * file (a file that is not valid in the chosen encoding gets the hint that another encoding
 * may read it). Without a byte-order mark, a file whose bytes are well-formed UTF-8 with some
 * character above ASCII is read as UTF-8 whatever the choice, and with UTF-16 chosen a file
 * that holds "BEGIN:VCARD" or "END:VCARD" only in big-endian order is read big-endian. A file
 * without a byte-order mark that holds no such line in the chosen encoding while another
 * encoding (UTF-16 in either order) finds one is not loaded either: the warning names that
 * encoding. Running out of memory leaves target unchanged too (NoMemory).
 */
LoadOutcome appendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target);
