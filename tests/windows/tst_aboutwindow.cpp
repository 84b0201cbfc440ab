// The About window (offscreen) and the arithmetic of its falling characters.

#include "windows/aboutwindow.h"
#include "windows/rainanimation.h"
#include "widgets/dialogs.h"
#include "widgets/menuunderbutton.h"
#include "testfiles.h"
#include "i18n/translate.h"

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

namespace {

/* Counts how often a menu opens and closes it again at once, as a click outside it would. */
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

/* A random source that always answers the low end of the range, except for the ranges given. */
RainAnimation::RandomRange LowExcept(std::map<std::pair<int, int>, int> answers)
{
    return [answers](int low, int high) {
        const auto found = answers.find({low, high});
        return found == answers.end() ? low : found->second;
    };
}

/* The brightest green in a cell of an image in window pixels (device pixel ratio 1). */
int BrightestGreen(const QImage &image, const QRect &cell)
{
    int brightest = 0;
    const QRect inside = cell.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            brightest = std::max(brightest, qGreen(image.pixel(x, y)));
    return brightest;
}

QString LicensePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/license.txt");
}

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // The window.
    void captions_data();
    void captions();
    void nameAndVersion();
    void menuUnderInfoButtonGuard_data();
    void menuUnderInfoButtonGuard();
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
};

void TestAboutBox::init()
{
    Dialogs::SetAnsweringMode(true);
    m_opened.clear();
    TAboutBox::OpenInDesktop = [this](const QUrl &url) { m_opened.append(url); };
    QFile::remove(LicensePath());
}

void TestAboutBox::cleanup()
{
    ClearActiveLanguage();
    QFile::remove(LicensePath());
    qunsetenv("TESSALY_WEB_HOST");
    MenuUnderButton::TickCount = [] { return quint32(QDateTime::currentMSecsSinceEpoch()); };
}

// ---- the window ---------------------------------------------------------------------------------

void TestAboutBox::captions_data()
{
    QTest::addColumn<QStringList>("language");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("buttonsAndMenu");
    QTest::newRow("no language") << QStringList() << QStringLiteral("About Tessaly")
                                 << QStringList{QStringLiteral("OK"), QStringLiteral("Info"),
                                                QStringLiteral("Acknowledgements..."),
                                                QStringLiteral("How to uninstall..."), QStringLiteral("License...")};
    QTest::newRow("translation keeps the name")
        << QStringList{QStringLiteral("{About %s}Über %s"), QStringLiteral("{OK}Gut"), QStringLiteral("{Info}Mehr"),
                       QStringLiteral("{Acknowledgements...}Dank..."), QStringLiteral("{License...}Lizenz...")}
        << QStringLiteral("Über Tessaly")
        << QStringList{QStringLiteral("Gut"), QStringLiteral("Mehr"), QStringLiteral("Dank..."),
                       QStringLiteral("How to uninstall..."), QStringLiteral("Lizenz...")};
    // A translation without "%s" and with other "%" signs is shown as it is.
    QTest::newRow("translation without marker")
        << QStringList{QStringLiteral("{About %s}Info 100% %d")} << QStringLiteral("Info 100% %d")
        << QStringList{QStringLiteral("OK"), QStringLiteral("Info"), QStringLiteral("Acknowledgements..."),
                       QStringLiteral("How to uninstall..."), QStringLiteral("License...")};
}

void TestAboutBox::captions()
{
    QFETCH(QStringList, language);
    QFETCH(QString, caption);
    QFETCH(QStringList, buttonsAndMenu);
    if (!language.isEmpty())
        SetActiveLanguage(QStringLiteral("/x/Languages/German.lang.txt"), QStringLiteral("German"), language);
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    QCOMPARE(box.windowTitle(), caption);
    const QStringList shown{box.BitBtn1->text(), box.BitBtn2->text(), box.Credits1->text(),
                            box.Howtouninstall1->text(), box.LicensePrivacyPolicy1->text()};
    QCOMPARE(shown, buttonsAndMenu);
}

void TestAboutBox::nameAndVersion()
{
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    QCOMPARE(box.Label2->text(), QStringLiteral("Tessaly 2.3"));
    // A name is shown as it is written, never as markup.
    TAboutBox marked(QStringLiteral("<b>Tessaly</b>"), QStringLiteral("2.3"));
    QCOMPARE(marked.Label2->textFormat(), Qt::PlainText);
    QCOMPARE(box.size(), QSize(446, 374));
}

void TestAboutBox::menuUnderInfoButtonGuard_data()
{
    QTest::addColumn<quint32>("gap");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("click that closes the menu") << quint32(40) << false;
    QTest::newRow("100 ms later") << quint32(100) << true;
}

void TestAboutBox::menuUnderInfoButtonGuard()
{
    QFETCH(quint32, gap);
    QFETCH(bool, reopens);
    quint32 now = 0xFFFFFFF0u; // the counter wraps between the clicks
    MenuUnderButton::TickCount = [&now] { return now; };
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    MenuWatch watch(box.PopupMenu1);

    box.BitBtn2->click();
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos, box.BitBtn2->mapToGlobal(QPoint(0, box.BitBtn2->height())));
    now += gap;
    box.BitBtn2->click();
    QCOMPARE(watch.shown, reopens ? 2 : 1);
    // Either way a click 100 ms after the menu closed opens it again.
    now += 100;
    box.BitBtn2->click();
    QCOMPARE(watch.shown, reopens ? 3 : 2);
}

void TestAboutBox::dragging_data()
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

void TestAboutBox::dragging()
{
    QFETCH(QString, where);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, moves);
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const std::map<QString, QWidget *> widgets{{QStringLiteral("panel"), box.Panel1},
                                               {QStringLiteral("name"), box.Label2},
                                               {QStringLiteral("logo"), box.Image2},
                                               {QStringLiteral("window"), &box},
                                               {QStringLiteral("link"), box.Label5}};
    QWidget *target = widgets.at(where);
    const QPoint start = box.pos();
    const QPoint press(5, 5);

    QTest::mousePress(target, button, {}, press);
    QCOMPARE(box.Dragging(), moves);
    QTest::mouseMove(target, press + QPoint(30, 20));
    QCOMPARE(box.pos(), moves ? start + QPoint(30, 20) : start);
    QTest::mouseRelease(target, button, {}, press + QPoint(30, 20));
    QVERIFY(!box.Dragging());
    QTest::mouseMove(target, press + QPoint(60, 60));
    QCOMPARE(box.pos(), moves ? start + QPoint(30, 20) : start);
}

void TestAboutBox::escOnEitherButtonCloses_data()
{
    QTest::addColumn<bool>("infoButton");
    QTest::newRow("OK") << false;
    QTest::newRow("Info") << true;
}

void TestAboutBox::escOnEitherButtonCloses()
{
    QFETCH(bool, infoButton);
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QPushButton *button = infoButton ? box.BitBtn2 : box.BitBtn1;
    button->setFocus();
    QVERIFY(box.tmTimer->isActive());
    QTest::keyClick(button, Qt::Key_Escape);
    QVERIFY(!box.isVisible());
    // A closed window animates no more.
    QVERIFY(!box.tmTimer->isActive());
}

void TestAboutBox::webPages_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("address");
    QTest::newRow("link") << QStringLiteral("link") << QStringLiteral("http://127.0.0.1:8080/");
    QTest::newRow("Acknowledgements") << QStringLiteral("credits")
                                      << QStringLiteral("https://127.0.0.1:8080/blog/credits-and-acknowledgements/");
    QTest::newRow("How to uninstall") << QStringLiteral("uninstall")
                                      << QStringLiteral("http://127.0.0.1:8080/blog/how-to-uninstall-orvanta-software/");
}

void TestAboutBox::webPages()
{
    QFETCH(QString, entry);
    QFETCH(QString, address);
    qputenv("TESSALY_WEB_HOST", "127.0.0.1:8080");
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.Label5->text(), QStringLiteral("127.0.0.1:8080"));
    QCOMPARE(box.Label5->toolTip(), QStringLiteral("http://127.0.0.1:8080/"));
    if (entry == QStringLiteral("link"))
        QTest::mouseClick(box.Label5, Qt::LeftButton);
    else
        (entry == QStringLiteral("credits") ? box.Credits1 : box.Howtouninstall1)->trigger();
    QCOMPARE(m_opened, QList<QUrl>{QUrl(address)});
    QVERIFY(box.isVisible());
}

void TestAboutBox::licenseMissing()
{
    SetActiveLanguage(QStringLiteral("/x/Languages/German.lang.txt"), QStringLiteral("German"),
                      {QStringLiteral("{License}Lizenz"), QStringLiteral("{File not found!}Datei nicht gefunden!")});
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.show();
    box.LicensePrivacyPolicy1->trigger();
    const QList<Dialogs::ShownMessage> shown = Dialogs::TakeShownMessages();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).icon, MessageIcon::Error);
    QCOMPARE(shown.at(0).caption, QStringLiteral("Lizenz"));
    QCOMPARE(shown.at(0).text, QStringLiteral("Datei nicht gefunden!"));
    QVERIFY(m_opened.isEmpty());
    QVERIFY(box.isVisible());
}

void TestAboutBox::licenseOpened()
{
    WriteTestFile(LicensePath(), "MIT License\n");
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.LicensePrivacyPolicy1->trigger();
    QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(LicensePath())});
    QVERIFY(Dialogs::TakeShownMessages().isEmpty());
}

void TestAboutBox::tickDrawsHeadsIntoCanvas()
{
    TAboutBox box(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
    box.tmTimer->stop();
    QCOMPARE(box.Canvas().devicePixelRatio(), 1.0);
    const std::vector<RainDrop> before = box.Rain().Drops();
    box.tmTimerTimer();
    const int columns = box.Rain().MatrixWidth();
    QCOMPARE(int(before.size()), 2 * columns);
    // The second drop of each column is drawn last there: its head cell shows its character
    // in the head colour, antialiased against black.
    int checked = 0;
    for (size_t i = columns; i < before.size(); ++i) {
        const RainDrop &drop = before[i];
        const QRect cell(drop.column * 8, drop.row * 12, 8, 12);
        if (!box.Canvas().rect().contains(cell))
            continue;
        const int green = RainHeadColor(drop.brightness).green;
        const int brightest = BrightestGreen(box.Canvas(), cell);
        QVERIFY2(brightest <= green && brightest >= green / 2,
                 qPrintable(QStringLiteral("drop %1: brightest green %2, head green %3").arg(i).arg(brightest).arg(green)));
        ++checked;
    }
    QVERIFY(checked > columns / 2);
}

// ---- the falling characters ---------------------------------------------------------------------

void TestAboutBox::eraseRow_data()
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

void TestAboutBox::eraseRow()
{
    QFETCH(int, row);
    QFETCH(int, matrixHeight);
    QFETCH(int, erased);
    QCOMPARE(RainEraseRow(row, matrixHeight), erased);
}

void TestAboutBox::colours_data()
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

void TestAboutBox::colours()
{
    QFETCH(int, brightness);
    QFETCH(RainColor, head);
    QFETCH(RainColor, trail);
    QCOMPARE(RainHeadColor(brightness), head);
    QCOMPARE(RainTrailColor(brightness), trail);
}

void TestAboutBox::resetGivesTwoDropsPerColumn()
{
    RainAnimation rain;
    rain.Reset(446, 374);
    QCOMPARE(rain.MatrixWidth(), 55);
    QCOMPARE(rain.MatrixHeight(), 31);
    QCOMPARE(rain.DropCount(), 110);
    QList<int> perColumn(55, 0);
    for (const RainDrop &drop : rain.Drops()) {
        ++perColumn[drop.column];
        QVERIFY(drop.row >= 0 && drop.row < 31);
        QVERIFY(drop.period >= 1 && drop.period <= 3);
        QVERIFY(drop.brightness >= 0 && drop.brightness <= 99);
    }
    QCOMPARE(perColumn, QList<int>(55, 2));

    // A reset starts again: a narrower surface, the tick counter back at 0.
    rain.Tick([](const DropDrawing &) {});
    rain.Reset(80, 120);
    QCOMPARE(rain.DropCount(), 20);
    QCOMPARE(rain.RainTick(), 0);
}

void TestAboutBox::dropsAreCappedAt5000()
{
    RainAnimation rain;
    rain.Reset(8 * 3000, 120); // 3000 columns would want 6000 drops
    QCOMPARE(rain.DropCount(), 5000);
    QCOMPARE(rain.Drops()[2999].column, 2999);
    QCOMPARE(rain.Drops()[3000].column, 0);
    QCOMPARE(rain.Drops()[4999].column, 1999);
    rain.AddDrop();
    QCOMPARE(rain.DropCount(), 5000);

    // Narrower than one cell: no columns, no drops, and adding one does nothing.
    rain.Reset(7, 120);
    rain.AddDrop();
    QCOMPARE(rain.DropCount(), 0);
}

void TestAboutBox::firstTickDrawsNoTrailAtRowZero()
{
    // Every drop at row 0 with period 1 and brightness 50; characters "r" (the middle one).
    RainAnimation rain(QStringLiteral("orv"), LowExcept({{{0, 99}, 50}, {{0, 2}, 1}}));
    rain.Reset(16, 30 * 12); // two columns, matrixHeight 30
    QList<DropDrawing> drawn;
    const auto record = [&drawn](const DropDrawing &drawing) { drawn.append(drawing); };

    rain.Tick(record);
    QCOMPARE(drawn.size(), 4);
    const DropDrawing first = drawn.at(0);
    QCOMPARE(first.column, 0);
    QCOMPARE(first.headRow, 0);
    QVERIFY(!first.hasTrail);
    QCOMPARE(first.eraseRow, 22);
    QCOMPARE(first.head, RainHeadColor(50));
    QCOMPARE(first.character, QChar(u'r'));
    QCOMPARE(drawn.at(1).column, 1);

    drawn.clear();
    rain.Tick(record);
    const DropDrawing second = drawn.at(0);
    QCOMPARE(second.headRow, 1);
    QVERIFY(second.hasTrail);
    QCOMPARE(second.trailRow, 0);
    QCOMPARE(second.trail, RainTrailColor(50));
    QCOMPARE(second.eraseRow, 23);
}

void TestAboutBox::dropMovesEveryPeriodTicks_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("rowAfterSixTicks");
    // The drop moves on the ticks whose number is a multiple of its period, tick 0 included.
    QTest::newRow("period 1") << 1 << 6;
    QTest::newRow("period 2") << 2 << 3; // ticks 0, 2, 4
    QTest::newRow("period 3") << 3 << 2; // ticks 0, 3
}

void TestAboutBox::dropMovesEveryPeriodTicks()
{
    QFETCH(int, period);
    QFETCH(int, rowAfterSixTicks);
    RainAnimation rain(QStringLiteral("orv"), LowExcept({{{1, 3}, period}}));
    rain.Reset(8, 30 * 12);
    for (int tick = 0; tick < 6; ++tick)
        rain.Tick([](const DropDrawing &) {});
    QCOMPARE(rain.RainTick(), 6);
    for (const RainDrop &drop : rain.Drops())
        QCOMPARE(drop.row, rowAfterSixTicks);
}

void TestAboutBox::dropWrapsAfterLastRow()
{
    // Drops start at row 0 with period 1 and brightness 0; once the test says so, the random
    // source answers the high end, so a drop that starts again shows it took new values.
    bool high = false;
    RainAnimation rain(QStringLiteral("orv"), [&high](int low, int top) { return high ? top : low; });
    rain.Reset(8, 30 * 12);
    const auto noDrawing = [](const DropDrawing &) {};
    for (int tick = 0; tick < 31; ++tick)
        rain.Tick(noDrawing);
    QCOMPARE(rain.Drops()[0].row, 31); // matrixHeight + 1: still travelling, below the last row
    high = true;
    rain.Tick(noDrawing);
    const RainDrop wrapped = rain.Drops()[0];
    QCOMPARE(wrapped.row, 0);
    QCOMPARE(wrapped.period, 3);
    QCOMPARE(wrapped.brightness, 99);
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutwindow.moc"
