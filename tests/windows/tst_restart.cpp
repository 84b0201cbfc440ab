// The restart into another language, end to end, on a real X display (run under xvfb-run).
//
// Started normally, this program is the first run: it runs the real start-up on a temporary
// program folder (with the shipped German language file in its Languages folder), builds the
// main window, opens the language window over it, selects German, clicks OK and the real
// confirmation dialog's Yes button. The window stores the choice, writes start.sh into the
// data folder, starts it detached and ends the event loop. The script starts this same
// program file again a second later; it inherits TESSALY_RESTART_FOLDER from the first run
// and so comes back in the second mode: the real start-up on the same folder, the main window,
// and a report of what it shows (the load button's caption), its process id and its working
// folder, written to restart-report.txt. The first run waits for the report and checks it.
//
// Exit status 0 when the program came back in German, 1 otherwise.

#include "core/startup.h"
#include "windows/languagewindow.h"
#include "windows/mainwindow.h"
#include "windowtesting.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <signal.h>

namespace {

const char kFolderVariable[] = "TESSALY_RESTART_FOLDER";
const QString kReportName = QStringLiteral("restart-report.txt");
const QString kExpectedCaption = QStringLiteral("vCards aus VCF-Datei &laden...");

bool fail(const QString &why)
{
    std::fprintf(stderr, "FAIL: %s\n", qPrintable(why));
    return false;
}

QString programFileIn(const QString &folder)
{
    return folder + QStringLiteral("/tessaly");
}

/* The second run: start as the program does, and tell what the main window shows. */
int cameBack(const QString &folder)
{
    runStartup(programFileIn(folder), 1033);
    MainWindow form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QSaveFile report(folder + u'/' + kReportName);
    if (!report.open(QIODevice::WriteOnly))
        return 1;
    const QString text = WindowTesting::control<GlyphButton>(form, "loadButton")->text() + u'\n'
                         + QString::number(QCoreApplication::applicationPid()) + u'\n'
                         + QCoreApplication::applicationFilePath() + u'\n' + QDir::currentPath() + u'\n';
    report.write(text.toUtf8());
    return report.commit() ? 0 : 1;
}

/* Clicks Yes in the confirmation dialog once it is shown; checks its captions first. */
void answerYesWhenAsked(QString *question)
{
    QTimer::singleShot(100, [question] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            answerYesWhenAsked(question);
            return;
        }
        *question = box->windowTitle() + u'|' + box->text();
        for (QAbstractButton *button : box->buttons())
            *question += u'|' + button->text();
        box->button(QMessageBox::Yes)->click();
    });
}

/* Whether the process has ended (gone, or a zombie nobody reaps). */
bool processEnded(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.mid(close + 2, 1) == "Z";
}

bool firstRun(QApplication &app)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return fail(QStringLiteral("no temporary folder"));
    QDir().mkpath(folder.filePath(QStringLiteral("Languages")));
    const QString german = QStringLiteral(TESSALY_LANGUAGES_DIR "/German.lang.txt");
    if (!QFile::copy(german, folder.filePath(QStringLiteral("Languages/German.lang.txt"))))
        return fail(QStringLiteral("cannot copy ") + german);
    qputenv(kFolderVariable, QFile::encodeName(folder.path()));

    runStartup(programFileIn(folder.path()), 1033);
    MainWindow form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return fail(QStringLiteral("the main window was not shown"));
    const QString englishCaption = WindowTesting::control<GlyphButton>(form, "loadButton")->text();

    QString question;
    bool timedOut = false;
    QTimer::singleShot(20000, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(2);
    });
    QTimer::singleShot(0, &form, [&form, &question] {
        LanguageWindow window(setLanguageFile, dataDir(), &form);
        QTimer::singleShot(200, &window, [&window, &question] {
            WindowTesting::control<QComboBox>(window, "languageCombo")
                ->setCurrentIndex(
                    WindowTesting::control<QComboBox>(window, "languageCombo")->findText(QStringLiteral("German")));
            answerYesWhenAsked(&question);
            QTest::mouseClick(WindowTesting::control<QPushButton>(window, "okButton"), Qt::LeftButton);
        });
        window.exec();
    });
    const int status = app.exec();
    QElapsedTimer sinceEnd;
    sinceEnd.start();
    std::printf("first run: %s; asked \"%s\"\n", qPrintable(englishCaption), qPrintable(question));
    if (timedOut || status != 0)
        return fail(QStringLiteral("the program did not end after Yes (status %1)").arg(status));
    if (question != QStringLiteral("Confirmation|Restart Application?|&Yes|&No"))
        return fail(QStringLiteral("unexpected question ") + question);

    const QString reportPath = folder.filePath(kReportName);
    const QDeadlineTimer deadline(10000);
    while (!QFile::exists(reportPath) && !deadline.hasExpired())
        QThread::msleep(50);
    QFile report(reportPath);
    if (!report.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the program did not come back within 10 s"));
    const QStringList lines = QString::fromUtf8(report.readAll()).split(u'\n');
    std::printf("came back after %lld ms: %s\n", sinceEnd.elapsed(), qPrintable(lines.join(QStringLiteral(" | "))));
    if (lines.size() < 4)
        return fail(QStringLiteral("a short report"));
    const qint64 pid = lines.at(1).toLongLong();
    // Let the second run end before the display server goes away with this one.
    const QDeadlineTimer endDeadline(10000);
    while (!processEnded(pid) && !endDeadline.hasExpired())
        QThread::msleep(50);

    bool ok = true;
    if (lines.at(0) != kExpectedCaption)
        ok = fail(QStringLiteral("came back showing \"%1\"").arg(lines.at(0)));
    if (pid == QCoreApplication::applicationPid())
        ok = fail(QStringLiteral("the report came from this process"));
    if (lines.at(2) != QCoreApplication::applicationFilePath())
        ok = fail(QStringLiteral("another program came back: ") + lines.at(2));
    if (QDir(lines.at(3)).canonicalPath() != QDir(dataDir()).canonicalPath())
        ok = fail(QStringLiteral("started in ") + lines.at(3) + QStringLiteral(" instead of the data folder"));
    if (!processEnded(pid))
        ok = fail(QStringLiteral("the second run did not end"));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString folder = qEnvironmentVariable(kFolderVariable);
    if (!folder.isEmpty())
        return cameBack(folder);
    const bool ok = firstRun(app);
    std::printf("%s\n", ok ? "PASS: the program came back in German" : "FAIL");
    return ok ? 0 : 1;
}
