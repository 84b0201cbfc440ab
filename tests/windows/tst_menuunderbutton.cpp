// The drop-down menu under a button and its 100 ms guard against the click that closes the
// menu opening it again, on a fake tick clock (offscreen). The windows' tests only check
// that their buttons go through it.

#include "widgets/menuunderbutton.h"
#include "windowtesting.h"

#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using WindowTesting::MenuWatch;

namespace {

/* A window with two buttons and two menus, each menu with one entry. */
struct Fixture {
    QWidget window;
    QPushButton *first = new QPushButton(QStringLiteral("First"), &window);
    QPushButton *second = new QPushButton(QStringLiteral("Second"), &window);
    QMenu *firstMenu = new QMenu(&window);
    QMenu *secondMenu = new QMenu(&window);

    Fixture()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(first);
        layout->addWidget(second);
        firstMenu->addAction(QStringLiteral("One"));
        secondMenu->addAction(QStringLiteral("Two"));
        window.show();
    }
};

} // namespace

class TestMenuUnderButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void guard_data();
    void guard();
    void refusedClickForgetsThePair();
    void otherButtonOrMenuOpensAtOnce_data();
    void otherButtonOrMenuOpensAtOnce();

private:
    quint32 m_now = 0;
    void useFakeClock(quint32 start)
    {
        m_now = start;
        MenuUnderButton::clock = [this] { return m_now; };
    }
    // The real clock, put back in cleanup() whatever the case did.
    const std::function<quint32()> m_clock = MenuUnderButton::clock;
};

void TestMenuUnderButton::cleanup()
{
    MenuUnderButton::clock = m_clock;
}

void TestMenuUnderButton::guard_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("gap");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("click that closes the menu") << quint32(5000) << quint32(40) << false;
    QTest::newRow("99 ms") << quint32(5000) << quint32(99) << false;
    QTest::newRow("100 ms") << quint32(5000) << quint32(100) << true;
    QTest::newRow("later click") << quint32(5000) << quint32(2000) << true;
    QTest::newRow("counter wraps, click that closes the menu") << quint32(0xFFFFFFF0u) << quint32(0x30) << false;
    QTest::newRow("counter wraps, 100 ms") << quint32(0xFFFFFFF0u) << quint32(100) << true;
}

void TestMenuUnderButton::guard()
{
    QFETCH(quint32, start);
    QFETCH(quint32, gap);
    QFETCH(bool, reopens);
    useFakeClock(start);
    Fixture fixture;
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    MenuWatch watch(fixture.firstMenu);
    MenuUnderButton menuUnderButton;

    QVERIFY(menuUnderButton.show(fixture.first, fixture.firstMenu));
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos, fixture.first->mapToGlobal(QPoint(0, fixture.first->height())));
    m_now += gap;
    QCOMPARE(menuUnderButton.show(fixture.first, fixture.firstMenu), reopens);
    QCOMPARE(watch.shown, reopens ? 2 : 1);
    // Either way a click 100 ms after the menu closed opens it again.
    m_now += 100;
    QVERIFY(menuUnderButton.show(fixture.first, fixture.firstMenu));
    QCOMPARE(watch.shown, reopens ? 3 : 2);
}

void TestMenuUnderButton::refusedClickForgetsThePair()
{
    useFakeClock(5000);
    Fixture fixture;
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    MenuWatch watch(fixture.firstMenu);
    MenuUnderButton menuUnderButton;
    QVERIFY(menuUnderButton.show(fixture.first, fixture.firstMenu));
    m_now += 10;
    QVERIFY(!menuUnderButton.show(fixture.first, fixture.firstMenu)); // the click that closed it
    // The next click, at the same moment, is the user's: it opens the menu.
    QVERIFY(menuUnderButton.show(fixture.first, fixture.firstMenu));
    QCOMPARE(watch.shown, 2);
}

void TestMenuUnderButton::otherButtonOrMenuOpensAtOnce_data()
{
    QTest::addColumn<bool>("otherButton");
    QTest::addColumn<bool>("otherMenu");
    QTest::newRow("another button, same menu") << true << false;
    QTest::newRow("same button, another menu") << false << true;
    QTest::newRow("another button and menu") << true << true;
}

void TestMenuUnderButton::otherButtonOrMenuOpensAtOnce()
{
    QFETCH(bool, otherButton);
    QFETCH(bool, otherMenu);
    useFakeClock(5000);
    Fixture fixture;
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    QPushButton *button = otherButton ? fixture.second : fixture.first;
    QMenu *menu = otherMenu ? fixture.secondMenu : fixture.firstMenu;
    MenuWatch firstWatch(fixture.firstMenu);
    MenuWatch secondWatch(fixture.secondMenu);
    MenuUnderButton menuUnderButton;
    QVERIFY(menuUnderButton.show(fixture.first, fixture.firstMenu));
    // The click that closed the first menu landed elsewhere: it is meant, and opens at once.
    m_now += 10;
    QVERIFY(menuUnderButton.show(button, menu));
    const MenuWatch &watch = otherMenu ? secondWatch : firstWatch;
    QCOMPARE(watch.shown, otherMenu ? 1 : 2);
    QCOMPARE(watch.lastPos, button->mapToGlobal(QPoint(0, button->height())));
}

QTEST_MAIN(TestMenuUnderButton)
#include "tst_menuunderbutton.moc"
