// The About window (offscreen) and the arithmetic of its falling characters.

#include "i18n/translate.h"
#include "widgets/dialogs.h"
#include "widgets/menuunderbutton.h"
#include "windows/aboutwindow.h"
#include "windows/rainanimation.h"
#include "windowtesting.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <map>

Q_DECLARE_METATYPE(RainColor)

using WindowTesting::MenuWatch;
using WindowTesting::SavedVariable;

namespace {

/* A random source that always answers the low end of the range, except for the ranges given. */
RainAnimation::RandomRange lowExcept(std::map<std::pair<int, int>, int> answers)
{
    return [answers](int low, int high) {
        const auto found = answers.find({low, high});
        return found == answers.end() ? low : found->second;
    };
}

/* The brightest green in a cell of an image in window pixels (device pixel ratio 1). */
int brightestGreen(const QImage &image, const QRect &cell)
{
    int brightest = 0;
    const QRect inside = cell.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            brightest = std::max(brightest, qGreen(image.pixel(x, y)));
    return brightest;
}

QString licensePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/license.txt");
}

} // namespace

class TestAboutWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // The window.
    void captions_data();
    void captions();
    void nameAndVersion();
    void infoButtonOpensMenuUnderIt();
    void dragging_data();
    void dragging();
    void escOnEitherButtonCloses_data();
    void escOnEitherButtonCloses();
    void webPages_data();
    void webPages();
    void licenseMissing();
    void licenseOpened();
    void tickDrawsHeadsIntoCanvas();

    // The falling characters.
    void eraseRow_data();
    void eraseRow();
    void colours_data();
    void colours();
    void resetGivesTwoDropsPerColumn();
    void dropsAreCappedAt5000();
    void firstTickDrawsNoTrailAtRowZero();
    void dropMovesEveryPeriodTicks_data();
    void dropMovesEveryPeriodTicks();
    void dropWrapsAfterLastRow();

private:
    QList<QUrl> m_opened;
    // What the cases change, as the program found it; cleanup() puts it back.
    const SavedVariable m_webHost{"TESSALY_WEB_HOST"};
    const std::function<quint32()> m_clock = MenuUnderButton::clock;
};

void TestAboutWindow::init()
{
    Dialogs::setAnsweringMode(true);
    m_opened.clear();
    AboutWindow::openInDesktop = [this](const QUrl &url) { m_opened.append(url); };
    QFile::remove(licensePath());
}

void TestAboutWindow::cleanup()
{
    clearActiveLanguage();
    QFile::remove(licensePath());
    m_webHost.restore();
    MenuUnderButton::clock = m_clock;
}

// ---- the window ---------------------------------------------------------------------------------

void TestAboutWindow::captions_data()
{
    QTest::addColumn<QStringList>("language");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("buttonsAndMenu");
    QTest::newRow("no language") << QStringList() << QStringLiteral("About Tessaly")
                                 << QStringList{QStringLiteral("&OK"), QStringLiteral("&Info"),
                                                QStringLiteral("&Acknowledgements..."),
                                                QStringLiteral("&How to uninstall..."), QStringLiteral("&License...")};
    QTest::newRow("translation keeps the name")
        << QStringList{QStringLiteral("{About %s}Über %s"), QStringLiteral("{OK}&Gut"), QStringLiteral("{Info}Mehr"),
                       QStringLiteral("{Acknowledgements...}Dank..."), QStringLiteral("{License...}&Lizenz...")}
        << QStringLiteral("Über Tessaly")
        << QStringList{QStringLiteral("&Gut"), QStringLiteral("Mehr"), QStringLiteral("Dank..."),
                       QStringLiteral("&How to uninstall..."), QStringLiteral("&Lizenz...")};
    // A translation without "%s" and with other "%" signs is shown as it is.
    QTest::newRow("translation without marker")
        << QStringList{QStringLiteral("{About %s}Info 100% %d")} << QStringLiteral("Info 100% %d")
        << QStringList{QStringLiteral("&OK"), QStringLiteral("&Info"), QStringLiteral("&Acknowledgements..."),
                       QStringLiteral("&How to uninstall..."), QStringLiteral("&License...")};
}

void TestAboutWindow::captions()
{
    QFETCH(QStringList, language);
    QFETCH(QString, caption);
    QFETCH(QStringList, buttonsAndMenu);
    if (!language.isEmpty())
        setActiveLanguage(QStringLiteral("/x/Languages/German.lang.txt"), QStringLiteral("German"), language);
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    QCOMPARE(box.windowTitle(), caption);
    const QStringList shown{WindowTesting::control<QPushButton>(box, "okButton")->text(),
                            WindowTesting::control<QPushButton>(box, "infoButton")->text(),
                            WindowTesting::control<QAction>(box, "creditsAction")->text(),
                            WindowTesting::control<QAction>(box, "uninstallAction")->text(),
                            WindowTesting::control<QAction>(box, "licenseAction")->text()};
    QCOMPARE(shown, buttonsAndMenu);
}

void TestAboutWindow::nameAndVersion()
{
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    QCOMPARE(WindowTesting::control<QLabel>(box, "versionLabel")->text(), QStringLiteral("Tessaly 2.3"));
    // A name is shown as it is written, never as markup.
    AboutWindow marked(QStringLiteral("<b>Tessaly</b>"), QStringLiteral("2.3"));
    QCOMPARE(WindowTesting::control<QLabel>(marked, "versionLabel")->textFormat(), Qt::PlainText);
    QCOMPARE(box.size(), QSize(446, 374));
}

void TestAboutWindow::infoButtonOpensMenuUnderIt()
{
    // The guard's timing is tested with MenuUnderButton; here only that the button uses it.
    MenuUnderButton::clock = [] { return quint32(5000); };
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    MenuWatch watch(WindowTesting::control<QMenu>(box, "infoMenu"));

    WindowTesting::control<QPushButton>(box, "infoButton")->click();
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos,
             WindowTesting::control<QPushButton>(box, "infoButton")
                 ->mapToGlobal(QPoint(0, WindowTesting::control<QPushButton>(box, "infoButton")->height())));
    // The click that closes the menu reaches the button at once and opens nothing.
    WindowTesting::control<QPushButton>(box, "infoButton")->click();
    QCOMPARE(watch.shown, 1);
    WindowTesting::control<QPushButton>(box, "infoButton")->click();
    QCOMPARE(watch.shown, 2);
}

void TestAboutWindow::dragging_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("panel, left button") << QStringLiteral("panel") << Qt::LeftButton << true;
    QTest::newRow("panel, right button") << QStringLiteral("panel") << Qt::RightButton << false;
    QTest::newRow("name label, middle button") << QStringLiteral("name") << Qt::MiddleButton << true;
    QTest::newRow("logo, left button") << QStringLiteral("logo") << Qt::LeftButton << true;
    QTest::newRow("window, left button") << QStringLiteral("window") << Qt::LeftButton << true;
    QTest::newRow("window, right button") << QStringLiteral("window") << Qt::RightButton << false;
    QTest::newRow("link, left button") << QStringLiteral("link") << Qt::LeftButton << false;
}

void TestAboutWindow::dragging()
{
    QFETCH(QString, where);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, moves);
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const std::map<QString, QWidget *> widgets{
        {QStringLiteral("panel"), WindowTesting::control<QWidget>(box, "contentPanel")},
        {QStringLiteral("name"), WindowTesting::control<QLabel>(box, "versionLabel")},
        {QStringLiteral("logo"), WindowTesting::control<QLabel>(box, "logoImage")},
        {QStringLiteral("window"), &box},
        {QStringLiteral("link"), WindowTesting::control<QLabel>(box, "webLinkLabel")}};
    QWidget *target = widgets.at(where);
    const QPoint start = box.pos();
    const QPoint press(5, 5);

    QTest::mousePress(target, button, {}, press);
    QCOMPARE(box.isDragging(), moves);
    QTest::mouseMove(target, press + QPoint(30, 20));
    QCOMPARE(box.pos(), moves ? start + QPoint(30, 20) : start);
    QTest::mouseRelease(target, button, {}, press + QPoint(30, 20));
    QVERIFY(!box.isDragging());
    QTest::mouseMove(target, press + QPoint(60, 60));
    QCOMPARE(box.pos(), moves ? start + QPoint(30, 20) : start);
}

void TestAboutWindow::escOnEitherButtonCloses_data()
{
    QTest::addColumn<bool>("infoButton");
    QTest::newRow("OK") << false;
    QTest::newRow("Info") << true;
}

void TestAboutWindow::escOnEitherButtonCloses()
{
    QFETCH(bool, infoButton);
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QPushButton *button = infoButton ? WindowTesting::control<QPushButton>(box, "infoButton")
                                     : WindowTesting::control<QPushButton>(box, "okButton");
    button->setFocus();
    QVERIFY(WindowTesting::control<QTimer>(box, "rainTimer")->isActive());
    QTest::keyClick(button, Qt::Key_Escape);
    QVERIFY(!box.isVisible());
    // A closed window animates no more.
    QVERIFY(!WindowTesting::control<QTimer>(box, "rainTimer")->isActive());
}

void TestAboutWindow::webPages_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("address");
    QTest::newRow("link") << QStringLiteral("link") << QStringLiteral("http://127.0.0.1:8080/");
    QTest::newRow("Acknowledgements") << QStringLiteral("credits")
                                      << QStringLiteral("https://127.0.0.1:8080/blog/credits-and-acknowledgements/");
    QTest::newRow("How to uninstall") << QStringLiteral(
        "uninstall") << QStringLiteral("http://127.0.0.1:8080/blog/how-to-uninstall-orvanta-software/");
}

void TestAboutWindow::webPages()
{
    QFETCH(QString, entry);
    QFETCH(QString, address);
    qputenv("TESSALY_WEB_HOST", "127.0.0.1:8080");
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(WindowTesting::control<QLabel>(box, "webLinkLabel")->text(), QStringLiteral("127.0.0.1:8080"));
    QCOMPARE(WindowTesting::control<QLabel>(box, "webLinkLabel")->toolTip(), QStringLiteral("http://127.0.0.1:8080/"));
    if (entry == QStringLiteral("link"))
        QTest::mouseClick(WindowTesting::control<QLabel>(box, "webLinkLabel"), Qt::LeftButton);
    else
        (entry == QStringLiteral("credits") ? WindowTesting::control<QAction>(box, "creditsAction")
                                            : WindowTesting::control<QAction>(box, "uninstallAction"))
            ->trigger();
    QCOMPARE(m_opened, QList<QUrl>{QUrl(address)});
    QVERIFY(box.isVisible());
}

void TestAboutWindow::licenseMissing()
{
    setActiveLanguage(QStringLiteral("/x/Languages/German.lang.txt"), QStringLiteral("German"),
                      {QStringLiteral("{License}Lizenz"), QStringLiteral("{File not found!}Datei nicht gefunden!")});
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    WindowTesting::control<QAction>(box, "licenseAction")->trigger();
    const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).icon, MessageIcon::Error);
    QCOMPARE(shown.at(0).caption, QStringLiteral("Lizenz"));
    QCOMPARE(shown.at(0).text, QStringLiteral("Datei nicht gefunden!"));
    QVERIFY(m_opened.isEmpty());
    QVERIFY(box.isVisible());
}

void TestAboutWindow::licenseOpened()
{
    writeTestFile(licensePath(), "MIT License\n");
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    WindowTesting::control<QAction>(box, "licenseAction")->trigger();
    QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(licensePath())});
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
}

void TestAboutWindow::tickDrawsHeadsIntoCanvas()
{
    AboutWindow box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    WindowTesting::control<QTimer>(box, "rainTimer")->stop();
    QCOMPARE(box.canvas().devicePixelRatio(), 1.0);
    const std::vector<RainDrop> before = box.rain().drops();
    box.onRainTimer();
    const int columns = box.rain().matrixWidth();
    QCOMPARE(int(before.size()), 2 * columns);
    // The second drop of each column is drawn last there: its head cell shows its character
    // in the head colour, antialiased against black.
    int checked = 0;
    for (size_t i = columns; i < before.size(); ++i) {
        const RainDrop &drop = before[i];
        const QRect cell(drop.column * 8, drop.row * 12, 8, 12);
        if (!box.canvas().rect().contains(cell))
            continue;
        const int green = rainHeadColor(drop.brightness).green;
        const int brightest = brightestGreen(box.canvas(), cell);
        QVERIFY2(
            brightest <= green && brightest >= green / 2,
            qPrintable(QStringLiteral("drop %1: brightest green %2, head green %3").arg(i).arg(brightest).arg(green)));
        ++checked;
    }
    QVERIFY(checked > columns / 2);
}

// ---- the falling characters ---------------------------------------------------------------------

void TestAboutWindow::eraseRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("matrixHeight");
    QTest::addColumn<int>("erased");
    QTest::newRow("wraps once: 10 - 40 + 31") << 10 << 30 << 1;
    QTest::newRow("wraps twice from row 0") << 0 << 30 << 22;
    QTest::newRow("exactly 40 rows down") << 40 << 30 << 0;
    QTest::newRow("one row short of 40") << 39 << 30 << 30;
    QTest::newRow("tall window, no wrap") << 100 << 120 << 60;
    QTest::newRow("low window wraps many times") << 5 << 3 << 1;
    QTest::newRow("no rows") << 1 << 0 << 0;
}

void TestAboutWindow::eraseRow()
{
    QFETCH(int, row);
    QFETCH(int, matrixHeight);
    QFETCH(int, erased);
    QCOMPARE(rainEraseRow(row, matrixHeight), erased);
}

void TestAboutWindow::colours_data()
{
    QTest::addColumn<int>("brightness");
    QTest::addColumn<RainColor>("head");
    QTest::addColumn<RainColor>("trail");
    // b = 99 * 255 / 100 = 252; trail from 252 / 3 = 84.
    QTest::newRow("99") << 99 << RainColor{148, 252, 98} << RainColor{49, 84, 32};
    // b = 127; trail from 42.
    QTest::newRow("50") << 50 << RainColor{74, 127, 49} << RainColor{24, 42, 16};
    // b = 2: the trail is black.
    QTest::newRow("1") << 1 << RainColor{1, 2, 0} << RainColor{0, 0, 0};
    QTest::newRow("0") << 0 << RainColor{0, 0, 0} << RainColor{0, 0, 0};
}

void TestAboutWindow::colours()
{
    QFETCH(int, brightness);
    QFETCH(RainColor, head);
    QFETCH(RainColor, trail);
    QCOMPARE(rainHeadColor(brightness), head);
    QCOMPARE(rainTrailColor(brightness), trail);
}

void TestAboutWindow::resetGivesTwoDropsPerColumn()
{
    RainAnimation rain;
    rain.reset(446, 374);
    QCOMPARE(rain.matrixWidth(), 55);
    QCOMPARE(rain.matrixHeight(), 31);
    QCOMPARE(rain.dropCount(), 110);
    QList<int> perColumn(55, 0);
    for (const RainDrop &drop : rain.drops()) {
        ++perColumn[drop.column];
        QVERIFY(drop.row >= 0 && drop.row < 31);
        QVERIFY(drop.period >= 1 && drop.period <= 3);
        QVERIFY(drop.brightness >= 0 && drop.brightness <= 99);
    }
    QCOMPARE(perColumn, QList<int>(55, 2));

    // A reset starts again: a narrower surface, the tick counter back at 0.
    rain.tick([](const DropDrawing &) {});
    rain.reset(80, 120);
    QCOMPARE(rain.dropCount(), 20);
    QCOMPARE(rain.rainTick(), 0);
}

void TestAboutWindow::dropsAreCappedAt5000()
{
    RainAnimation rain;
    rain.reset(8 * 3000, 120); // 3000 columns would want 6000 drops
    QCOMPARE(rain.dropCount(), 5000);
    QCOMPARE(rain.drops()[2999].column, 2999);
    QCOMPARE(rain.drops()[3000].column, 0);
    QCOMPARE(rain.drops()[4999].column, 1999);
    rain.addDrop();
    QCOMPARE(rain.dropCount(), 5000);

    // Narrower than one cell: no columns, no drops, and adding one does nothing.
    rain.reset(7, 120);
    rain.addDrop();
    QCOMPARE(rain.dropCount(), 0);
}

void TestAboutWindow::firstTickDrawsNoTrailAtRowZero()
{
    // Every drop at row 0 with period 1 and brightness 50; characters "r" (the middle one).
    RainAnimation rain(QStringLiteral("orv"), lowExcept({{{0, 99}, 50}, {{0, 2}, 1}}));
    rain.reset(16, 30 * 12); // two columns, matrixHeight 30
    QList<DropDrawing> drawn;
    const auto record = [&drawn](const DropDrawing &drawing) { drawn.append(drawing); };

    rain.tick(record);
    QCOMPARE(drawn.size(), 4);
    const DropDrawing first = drawn.at(0);
    QCOMPARE(first.column, 0);
    QCOMPARE(first.headRow, 0);
    QVERIFY(!first.hasTrail);
    QCOMPARE(first.eraseRow, 22);
    QCOMPARE(first.head, rainHeadColor(50));
    QCOMPARE(first.character, QChar(u'r'));
    QCOMPARE(drawn.at(1).column, 1);

    drawn.clear();
    rain.tick(record);
    const DropDrawing second = drawn.at(0);
    QCOMPARE(second.headRow, 1);
    QVERIFY(second.hasTrail);
    QCOMPARE(second.trailRow, 0);
    QCOMPARE(second.trail, rainTrailColor(50));
    QCOMPARE(second.eraseRow, 23);
}

void TestAboutWindow::dropMovesEveryPeriodTicks_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("rowAfterSixTicks");
    // The drop moves on the ticks whose number is a multiple of its period, tick 0 included.
    QTest::newRow("period 1") << 1 << 6;
    QTest::newRow("period 2") << 2 << 3; // ticks 0, 2, 4
    QTest::newRow("period 3") << 3 << 2; // ticks 0, 3
}

void TestAboutWindow::dropMovesEveryPeriodTicks()
{
    QFETCH(int, period);
    QFETCH(int, rowAfterSixTicks);
    RainAnimation rain(QStringLiteral("orv"), lowExcept({{{1, 3}, period}}));
    rain.reset(8, 30 * 12);
    for (int tick = 0; tick < 6; ++tick)
        rain.tick([](const DropDrawing &) {});
    QCOMPARE(rain.rainTick(), 6);
    for (const RainDrop &drop : rain.drops())
        QCOMPARE(drop.row, rowAfterSixTicks);
}

void TestAboutWindow::dropWrapsAfterLastRow()
{
    // Drops start at row 0 with period 1 and brightness 0; once the test says so, the random
    // source answers the high end, so a drop that starts again shows it took new values.
    bool high = false;
    RainAnimation rain(QStringLiteral("orv"), [&high](int low, int top) { return high ? top : low; });
    rain.reset(8, 30 * 12);
    const auto noDrawing = [](const DropDrawing &) {};
    for (int tick = 0; tick < 31; ++tick)
        rain.tick(noDrawing);
    QCOMPARE(rain.drops()[0].row, 31); // matrixHeight + 1: still travelling, below the last row
    high = true;
    rain.tick(noDrawing);
    const RainDrop wrapped = rain.drops()[0];
    QCOMPARE(wrapped.row, 0);
    QCOMPARE(wrapped.period, 3);
    QCOMPARE(wrapped.brightness, 99);
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
