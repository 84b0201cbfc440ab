#pragma once

#include "engine/messageicon.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

/*
 * Every message box, file dialog and beep of the main window goes through these functions.
 *
 * A test switches them to answering mode: nothing is shown, each message box is recorded and
 * counts as closed at once (or when a handler the test gave returns), and file dialogs take
 * the answers the test queued, or count as cancelled when none is queued. So no test ever
 * waits for a person, and every shown text can be read back.
 */
namespace Dialogs {

/** One message box as it was asked for (text as given, "\r" not yet turned into line breaks). */
struct ShownMessage {
    MessageIcon icon = MessageIcon::Information;
    QString caption;
    QString text;
};

/** One captioned dialog as it was asked for. */
struct AskedDialog {
    QMessageBox::Icon kind = QMessageBox::NoIcon;
    QString caption;
    QString text;
    QStringList buttonTexts; // the buttons' captions as shown, in their order
};

/** The save dialog's settings for one export. */
struct SaveRequest {
    QStringList nameFilters; // descriptions with their patterns, in index order
    int filterIndex = 1;     // 1-based index of the preselected file type
    QString initialPath;     // the path chosen last time, empty at first
    QString defaultSuffix;   // used when the selected file type gives no extension
};

/** What the user confirmed in the save dialog. */
struct SaveAnswer {
    QString fileName;
    int filterIndex = 1; // 1-based index of the file type selected when the user confirmed
};

/**
 * The text of a message for display: the program joins the parts of a message with two CR
 * characters, which are shown as line breaks.
 */
QString displayText(const QString &text);

/**
 * A modal message box with an OK button, the given icon, caption and text, shown as plain
 * text (never rich text, so file names and error texts show as they are). Returns when the
 * user has closed it.
 */
void showMessage(QWidget *parent, MessageIcon icon, const QString &caption, const QString &text);

/**
 * A modal message dialog with the kind's icon (Question for a confirmation), the given
 * buttons, caption and plain-text message. The buttons stand in the order of their flag
 * values (Yes before No, OK before Cancel); the n-th button takes the n-th entry of
 * buttonCaptions while entries remain, the others keep their standard captions. With Yes and
 * No, Yes is the default button and Esc answers No. Returns the button that ended the
 * dialog; Esc and the close box give the escape button's answer (see escapeAnswer).
 */
QMessageBox::StandardButton showCaptionedDialog(QWidget *parent, const QString &message, QMessageBox::Icon kind,
                                                QMessageBox::StandardButtons buttons, const QString &caption,
                                                const QStringList &buttonCaptions);

/** The answer of a dialog closed with Esc: Cancel, else No, else the only button; NoButton otherwise. */
QMessageBox::StandardButton escapeAnswer(QMessageBox::StandardButtons buttons);

/**
 * The open dialog with multiple selection and one file type (nameFilter, e.g. "VCF Files
 * (*.vcf)"). Returns the chosen files in the dialog's order; empty when cancelled. A typed name
 * is returned as typed even when no such file exists.
 */
QStringList getOpenFileNames(QWidget *parent, const QString &nameFilter);

/**
 * The save dialog: asks before overwriting, can be resized, opens on request.initialPath with
 * the preselected file type. A name typed without an extension receives the extension of the
 * selected file type. Returns nothing when the user cancelled.
 */
std::optional<SaveAnswer> getSaveFileName(QWidget *parent, const SaveRequest &request);

/** The default system beep. */
void beep();

/** A file-type entry for the dialogs: the description, with its pattern added unless it ends in it. */
QString nameFilter(const QString &description, const QString &pattern);

/** The extension the n-th (1-based) name filter gives ("csv" for "CSV File (*.csv)"), or "". */
QString suffixOfFilter(const QStringList &nameFilters, int index);

/**
 * The name the save dialog suggests for the n-th (1-based) file type after path was chosen
 * last: the same folder and base name with that type's extension. An extension of any of the
 * types is replaced, another one is kept and the type's added; an empty path stays empty, and
 * a type without an extension leaves the path as it is.
 */
QString nameForType(const QString &path, const QStringList &nameFilters, int index);

// ---- test hooks -----------------------------------------------------------------------

/** Switches answering mode on or off and forgets all queued answers and records. */
void setAnsweringMode(bool on);
bool answeringMode();

/** Called, in answering mode, for each message box in place of showing it; the box counts as closed when it returns. */
void setMessageHandler(std::function<void(const ShownMessage &)> handler);
/** The message boxes shown (in answering mode) since the last call of takeShownMessages. */
QList<ShownMessage> takeShownMessages();

/** The answer of the next captioned dialog; without one it is closed with Esc. */
void setNextDialogAnswer(QMessageBox::StandardButton answer);
/** The captioned dialogs asked (in answering mode) since the last call of takeAskedDialogs. */
QList<AskedDialog> takeAskedDialogs();

/** The answer of the next open dialog. */
void setNextOpenFileNames(const QStringList &fileNames);
/** The answer of the next save dialog: a path (with the type index selected), or nothing to cancel. */
void setNextSaveAnswer(const std::optional<SaveAnswer> &answer);
/** The settings of every save dialog opened (in answering mode), oldest first. */
QList<SaveRequest> takeSaveRequests();
/** How many open dialogs were opened (in answering mode). */
int openDialogCount();
/** How many beeps sounded (in answering mode). */
int beepCount();

} // namespace Dialogs
