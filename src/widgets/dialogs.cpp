#include "widgets/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>
#include <deque>

namespace Dialogs {

namespace {

/* The answering mode of tests; used on the user-interface thread only. */
struct Answering {
    bool on = false;
    std::function<void(const ShownMessage &)> messageHandler;
    QList<ShownMessage> messages;
    std::deque<QMessageBox::StandardButton> dialogAnswers;
    QList<AskedDialog> askedDialogs;
    std::deque<QStringList> openAnswers;
    std::deque<std::optional<SaveAnswer>> saveAnswers;
    QList<SaveRequest> saveRequests;
    int openDialogs = 0;
    int beeps = 0;
};

/*
 * The open dialog with multiple selection that returns typed names as typed: a name that names
 * no file is handed back like any other (the caller skips it), where Qt's own check would keep
 * the dialog open with a "File not found" warning.
 */
class TypedNamesOpenDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    QStringList chosenFiles() const { return m_typedNames.isEmpty() ? selectedFiles() : m_typedNames; }

protected:
    void accept() override
    {
        const QStringList files = selectedFiles();
        const bool namesMissingFile = !files.isEmpty()
                                      && std::any_of(files.cbegin(), files.cend(),
                                                     [](const QString &file) { return !QFileInfo::exists(file); });
        if (!namesMissingFile) {
            QFileDialog::accept(); // also opens a typed folder instead of returning it
            return;
        }
        m_typedNames = files;
        QDialog::accept(); // NOLINT(bugprone-parent-virtual-call): past QFileDialog's own checks of the names
    }

private:
    QStringList m_typedNames;
};

Answering &answeringState()
{
    static Answering state;
    return state;
}

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString displayText(const QString &text)
{
    QString display = text;
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    display.replace(u'\r', u'\n');
    return display;
}

void showMessage(QWidget *parent, MessageIcon icon, const QString &caption, const QString &text)
{
    Answering &state = answeringState();
    if (state.on) {
        const ShownMessage shown{icon, caption, text};
        state.messages.append(shown);
        if (state.messageHandler)
            state.messageHandler(shown);
        return;
    }
    QMessageBox box(boxIcon(icon), caption, displayText(text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QMessageBox::StandardButton escapeAnswer(QMessageBox::StandardButtons buttons)
{
    if (buttons.testFlag(QMessageBox::Cancel))
        return QMessageBox::Cancel;
    if (buttons.testFlag(QMessageBox::No))
        return QMessageBox::No;
    const auto flags = uint(buttons.toInt());
    if (flags != 0 && (flags & (flags - 1)) == 0) // exactly one button
        return QMessageBox::StandardButton(flags);
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton showCaptionedDialog(QWidget *parent, const QString &message, QMessageBox::Icon kind,
                                                QMessageBox::StandardButtons buttons, const QString &caption,
                                                const QStringList &buttonCaptions)
{
    QMessageBox box(kind, caption, displayText(message), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    // The buttons are added one by one in the order of their flags, so that the n-th caption
    // goes to the n-th button whatever order the style lays them out in.
    QStringList buttonTexts;
    for (uint flag = QMessageBox::FirstButton; flag <= QMessageBox::LastButton; flag <<= 1) {
        if (!buttons.testFlag(QMessageBox::StandardButton(flag)))
            continue;
        QAbstractButton *button = box.addButton(QMessageBox::StandardButton(flag));
        if (buttonTexts.size() < buttonCaptions.size())
            button->setText(buttonCaptions.at(buttonTexts.size()));
        buttonTexts.append(button->text());
    }
    if (buttons.testFlag(QMessageBox::Yes) && buttons.testFlag(QMessageBox::No))
        box.setDefaultButton(QMessageBox::Yes);
    if (const QMessageBox::StandardButton escape = escapeAnswer(buttons); escape != QMessageBox::NoButton)
        box.setEscapeButton(escape);

    Answering &state = answeringState();
    if (state.on) {
        state.askedDialogs.append(AskedDialog{kind, caption, message, buttonTexts});
        if (state.dialogAnswers.empty())
            return escapeAnswer(buttons);
        const QMessageBox::StandardButton answer = state.dialogAnswers.front();
        state.dialogAnswers.pop_front();
        return answer;
    }
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    return pressed == QMessageBox::NoButton ? escapeAnswer(buttons) : pressed;
}

QString nameFilter(const QString &description, const QString &pattern)
{
    const QString suffix = u'(' + pattern + u')';
    return description.trimmed().endsWith(suffix) ? description : description + u' ' + suffix;
}

QString suffixOfFilter(const QStringList &nameFilters, int index)
{
    if (index < 1 || index > nameFilters.size())
        return QString();
    static const QRegularExpression pattern(QStringLiteral("\\(\\*\\.([A-Za-z0-9]+)\\)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(nameFilters.at(index - 1));
    return match.hasMatch() ? match.captured(1) : QString();
}

QString nameForType(const QString &path, const QStringList &nameFilters, int index)
{
    const QString suffix = suffixOfFilter(nameFilters, index);
    if (path.isEmpty() || suffix.isEmpty())
        return path;
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : fileName.sliced(dot + 1);
    bool typeExtension = false;
    for (int n = 1; n <= nameFilters.size() && !extension.isEmpty(); ++n) {
        if (extension.compare(suffixOfFilter(nameFilters, n), Qt::CaseInsensitive) == 0)
            typeExtension = true;
    }
    const QString base = typeExtension ? path.chopped(extension.size() + 1) : path;
    return base + u'.' + suffix;
}

QStringList getOpenFileNames(QWidget *parent, const QString &nameFilter)
{
    Answering &state = answeringState();
    if (state.on) {
        ++state.openDialogs;
        if (state.openAnswers.empty())
            return {};
        QStringList answer = state.openAnswers.front();
        state.openAnswers.pop_front();
        return answer;
    }
    TypedNamesOpenDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(nameFilter);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.chosenFiles();
}

std::optional<SaveAnswer> getSaveFileName(QWidget *parent, const SaveRequest &request)
{
    Answering &state = answeringState();
    if (state.on) {
        state.saveRequests.append(request);
        if (state.saveAnswers.empty())
            return std::nullopt;
        // Copied, not moved: moving the optional trips GCC's maybe-uninitialized warning.
        const std::optional<SaveAnswer> answer = state.saveAnswers.front();
        state.saveAnswers.pop_front();
        return answer; // NOLINT(performance-no-automatic-move)
    }
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(request.nameFilters);
    const auto suffixFor = [&request](int index) {
        const QString suffix = suffixOfFilter(request.nameFilters, index);
        return suffix.isEmpty() ? request.defaultSuffix : suffix;
    };
    if (request.filterIndex >= 1 && request.filterIndex <= request.nameFilters.size())
        dialog.selectNameFilter(request.nameFilters.at(request.filterIndex - 1));
    dialog.setDefaultSuffix(suffixFor(request.filterIndex));
    // A name typed without an extension takes the extension of the file type selected now.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &request, suffixFor](const QString &filter) {
                         dialog.setDefaultSuffix(suffixFor(int(request.nameFilters.indexOf(filter)) + 1));
                     });
    if (!request.initialPath.isEmpty())
        dialog.selectFile(request.initialPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    SaveAnswer answer;
    answer.fileName = dialog.selectedFiles().constFirst();
    answer.filterIndex = int(request.nameFilters.indexOf(dialog.selectedNameFilter())) + 1;
    if (answer.filterIndex < 1)
        answer.filterIndex = request.filterIndex;
    return answer;
}

void beep()
{
    Answering &state = answeringState();
    if (state.on) {
        ++state.beeps;
        return;
    }
    QApplication::beep();
}

void setAnsweringMode(bool on)
{
    answeringState() = Answering();
    answeringState().on = on;
}

bool answeringMode()
{
    return answeringState().on;
}

void setMessageHandler(std::function<void(const ShownMessage &)> handler)
{
    answeringState().messageHandler = std::move(handler);
}

QList<ShownMessage> takeShownMessages()
{
    return std::exchange(answeringState().messages, {});
}

void setNextDialogAnswer(QMessageBox::StandardButton answer)
{
    answeringState().dialogAnswers.push_back(answer);
}

QList<AskedDialog> takeAskedDialogs()
{
    return std::exchange(answeringState().askedDialogs, {});
}

void setNextOpenFileNames(const QStringList &fileNames)
{
    answeringState().openAnswers.push_back(fileNames);
}

void setNextSaveAnswer(const std::optional<SaveAnswer> &answer)
{
    answeringState().saveAnswers.push_back(answer);
}

QList<SaveRequest> takeSaveRequests()
{
    return std::exchange(answeringState().saveRequests, {});
}

int openDialogCount()
{
    return answeringState().openDialogs;
}

int beepCount()
{
    return answeringState().beeps;
}

} // namespace Dialogs
