#pragma once

#include "testfiles.h"

// Helpers shared by the main window's tests: fixture files and waiting for exports.

#include "windows/mainwindow.h"
#include "widgets/dialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace WindowTesting {

/* n cards named "<prefix> 1" .. "<prefix> n", each with a telephone number, CR LF line ends. */
inline QByteArray makeCards(int n, const QString &prefix)
{
    QByteArray text;
    for (int i = 1; i <= n; ++i) {
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + prefix.toUtf8() + ' ' + QByteArray::number(i) + "\r\n";
        text += "TEL;TYPE=CELL:+1 555 " + QByteArray::number(1000 + i) + "\r\nEND:VCARD\r\n";
    }
    return text;
}

/* Writes bytes to path (creating its folders) and returns the path. */
inline QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeTestFile(path, bytes);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/* Confirms the next save dialog with path (file type index as given). */
inline void answerSave(const QString &path, int filterIndex = 3)
{
    Dialogs::SaveAnswer answer;
    answer.fileName = path;
    answer.filterIndex = filterIndex;
    Dialogs::setNextSaveAnswer(answer);
}

/* Waits until every export of form has ended; false on time-out. */
inline bool waitForJobs(const MainWindow &form, int timeoutMs = 60000)
{
    return QTest::qWaitFor([&form] { return form.runningJobs() == 0; }, timeoutMs);
}

} // namespace WindowTesting
