#pragma once

#include "testfiles.h"

// Helpers shared by the window tests: fixture files, waiting for exports, watching menus and
// putting back what a test changed in the process's environment.

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

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

/* The captions of a menu's entries, "-" for a separator. */
inline QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions)
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

/* Confirms the next save dialog with path (file type index as given). */
inline void answerSave(const QString &path, int filterIndex = 3)
{
    Dialogs::SaveAnswer answer;
    answer.fileName = path;
    answer.filterIndex = filterIndex;
    Dialogs::setNextSaveAnswer(answer);
}

/*
 * Holds the calling thread (an export's, in an observer that MainWindow::setExportObserver
 * set) until ready is set, for at most ten seconds: the test acts while the export waits.
 */
inline void holdUntil(const std::atomic<bool> &ready)
{
    for (int i = 0; i < 1000 && !ready; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

/* Waits until every export of form has ended; false on time-out. */
inline bool waitForJobs(const MainWindow &form, int timeoutMs = 60000)
{
    return QTest::qWaitFor([&form] { return form.runningJobs() == 0; }, timeoutMs);
}

/*
 * The control of window whose object name is name (its role: "loadButton", "okButton"), or
 * null, with a warning that names it, when the window has none.
 */
template<typename Control>
Control *control(const QObject &window, const char *name)
{
    auto *found = window.findChild<Control *>(QLatin1String(name));
    if (!found)
        qWarning("%s has no %s named \"%s\"", window.metaObject()->className(), Control::staticMetaObject.className(),
                 name);
    return found;
}

template<typename Control>
Control *control(const QObject *window, const char *name)
{
    return control<Control>(*window, name);
}

template<typename Control, typename Window>
Control *control(const std::unique_ptr<Window> &window, const char *name)
{
    return control<Control>(*window, name);
}

/*
 * Calls step with the modal widget of type T as soon as one is open (checked every 20 ms),
 * once; gives up after ten seconds and closes whatever is modal then, so that a dialog that
 * never comes fails the test instead of hanging it.
 */
template<typename T>
inline void whenModal(QObject *context, std::function<void(T *)> step)
{
    auto *timer = new QTimer(context);
    // The count goes with the connection, also when the context goes before the timer fires.
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, context, [timer, waited, step] {
        if (auto *widget = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            step(widget);
        } else if (++*waited > 500) {
            timer->deleteLater();
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start(20);
}

/* Shows and activates a window, so that it gets the keys. */
inline bool activate(QWidget &window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

/* Counts how often a menu opens and closes it as soon as it has shown, as a click outside it
   would, noting where it appeared. */
struct MenuWatch : QObject {
    int shown = 0;
    QPoint lastPos;
    explicit MenuWatch(QMenu *menu)
    {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            ++shown;
            QTimer::singleShot(0, menu, [this, menu] {
                lastPos = menu->pos();
                menu->close();
            });
        });
    }
};

/*
 * A data folder of a case's own: start-up runs again for a program file in a temporary folder,
 * so that the settings.ini the case writes (All fields, for one) reaches no other case and no
 * other test program; when the object goes, start-up runs for the test program again.
 */
class OwnDataFolder
{
public:
    OwnDataFolder() { runStartup(m_dir.filePath(QStringLiteral("tessaly"))); }
    ~OwnDataFolder() { runStartup(QCoreApplication::applicationFilePath()); }
    OwnDataFolder(const OwnDataFolder &) = delete;
    OwnDataFolder &operator=(const OwnDataFolder &) = delete;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

private:
    QTemporaryDir m_dir;
};

/*
 * An environment variable as it was when this object was made; restore() puts that value, or
 * its absence, back. A test object keeps one per variable its cases change and restores it in
 * cleanup(), so a failing case leaves the next one the environment the program started with.
 */
class SavedVariable
{
public:
    explicit SavedVariable(const char *name)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_value(qgetenv(name))
    {
    }

    void restore() const
    {
        if (m_wasSet)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_value;
};

} // namespace WindowTesting
