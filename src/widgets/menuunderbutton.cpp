#include "widgets/menuunderbutton.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>

namespace {

/* Milliseconds since the first call; wraps after 49.7 days like any 32-bit tick count. */
quint32 elapsedTicks()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return quint32(clock.elapsed());
}

} // namespace

std::function<quint32()> MenuUnderButton::tickCount = elapsedTicks;

bool MenuUnderButton::show(QPushButton *button, QMenu *menu)
{
    if (button == m_button && menu == m_menu && quint32(tickCount() - m_closedTick) < 100) {
        m_button = nullptr;
        m_menu = nullptr;
        return false;
    }
    menu->exec(button->mapToGlobal(QPoint(0, button->height())));
    m_closedTick = tickCount();
    m_button = button;
    m_menu = menu;
    return true;
}
