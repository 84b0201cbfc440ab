#pragma once

#include "text/textlines.h"

/** The text of every loaded VCF file, and how many files were loaded. */
struct LoadedVcards {
    /** Every line of every loaded file, each file followed by one empty line. */
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
        Missing, // no file at the path: nothing happened, nothing to show
        loadedCards,  // lines appended and counted (warning set for an empty file)
        failure,  // nothing appended; warning holds the reason
    };
    Kind kind = Missing;
    /** Caption and text of the warning to show, when warningText is not empty. */
    QString warningCaption;
    QString warningText;
};

/**
 * The loading steps of one file: reads path in the chosen encoding and appends its lines and
 * one empty line to target, counting the file. A missing path changes nothing. An empty file
 * is loaded with a "The file is empty!" warning; a file that cannot be read or decoded leaves
 * target unchanged and returns the error as a warning with caption "WARNING".
 */
LoadOutcome appendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target);
