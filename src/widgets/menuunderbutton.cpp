#include "widgets/menuunderbutton.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>

namespace {

/* Milliseconds since the first call; wraps after 49.7 days like any 32-bit millisecond count. */
quint32 millisecondsSinceFirstCall()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return quint32(clock.elapsed());
}

} // namespace

std::function<quint32()> MenuUnderButton::clock = millisecondsSinceFirstCall;

bool MenuUnderButton::show(QPushButton *button, QMenu *menu)
{
    if (button == m_button && menu == m_menu && quint32(clock() - m_closedAt) < 100) {
        m_button = nullptr;
        m_menu = nullptr;
        return false;
    }
    menu->exec(button->mapToGlobal(QPoint(0, button->height())));
    m_closedAt = clock();
    m_button = button;
    m_menu = menu;
    return true;
}
