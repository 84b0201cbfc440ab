// Takes screenshots of the online services' windows on a real X display: the feedback window
// empty and filled in, and the new-version notice in its corner (once more with the pointer on
// its link). tools/online-screenshots.sh runs it under xvfb-run, in English and in German.
//
//     tessaly_online_screenshots OUTPUT_FOLDER PREFIX PROGRAM_FOLDER [LANGUAGE_FILE]
//
// PROGRAM_FOLDER holds the "Languages" folder; LANGUAGE_FILE names one of its files.

#include "i18n/languagechoice.h"
#include "widgets/dialogs.h"
#include "windows/feedbackwindow.h"
#include "windows/newversionnotice.h"

#include "screenshot.h"
#include "windowtesting.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

bool shootFeedback(const QString &base)
{
    FeedbackWindow form({QStringLiteral("Tessaly"), QStringLiteral("Orvanta - Tessaly"), QStringLiteral("2.3")});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return false;
    const QRect area = form.frameGeometry().adjusted(-6, -6, 6, 6);
    bool ok = saveScreenArea(area, base + QStringLiteral("-feedback.png"), 400);
    QTest::mouseClick(WindowTesting::control<QFrame>(form, "likePanel"), Qt::LeftButton);
    WindowTesting::control<QPlainTextEdit>(form, "feedbackEdit")
        ->setPlainText(QStringLiteral("The CSV export for Google works well.\n\nA preview of the columns would help."));
    WindowTesting::control<QLineEdit>(form, "emailEdit")->setText(QStringLiteral("someone@example.org"));
    WindowTesting::control<QLineEdit>(form, "emailEdit")->setFocus();
    return saveScreenArea(area, base + QStringLiteral("-feedback-filled.png"), 400) && ok;
}

bool shootNotice(const QString &base)
{
    auto *notice = new NewVersionNotice(QStringLiteral("Tessaly"), QStringLiteral("2.4"),
                                        QStringLiteral("https://example.org/"));
    WindowTesting::control<QTimer>(notice, "closeTimer")->stop();
    notice->setUrlOpener([](const QUrl &) {});
    if (!QTest::qWaitFor(
            [notice] { return notice->isVisible() && notice->geometry() == NewVersionNotice::homeGeometry(); }, 3000))
        return false;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect corner(screen.right() - 400, screen.top(), 401, 100);
    QCursor::setPos(screen.center());
    bool ok = saveScreenArea(corner, base + QStringLiteral("-newversion.png"), 400);
    QCursor::setPos(WindowTesting::control<QLabel>(notice, "downloadLink")
                        ->mapToGlobal(WindowTesting::control<QLabel>(notice, "downloadLink")->rect().center()));
    ok = saveScreenArea(corner, base + QStringLiteral("-newversion-hover.png"), 400) && ok;
    notice->close();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5) {
        std::fprintf(stderr, "usage: tessaly_online_screenshots OUTPUT_FOLDER PREFIX PROGRAM_FOLDER [LANGUAGE_FILE]\n");
        return 2;
    }
    const QString base = args.at(1) + u'/' + args.at(2);
    if (args.size() == 5) {
        QString error;
        if (!loadLanguageFrom(args.at(4), args.at(3), 1033, &error)) {
            std::fprintf(stderr, "cannot load %s: %s\n", qPrintable(args.at(4)), qPrintable(error));
            return 1;
        }
    }
    Dialogs::setAnsweringMode(true);
    const bool feedback = shootFeedback(base);
    const bool notice = shootNotice(base);
    return feedback && notice ? 0 : 1;
}
