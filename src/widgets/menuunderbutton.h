#pragma once

#include <QtGlobal>

#include <functional>

class QMenu;
class QPushButton;

/*
 * Opens a drop-down menu under the button it belongs to.
 *
 * A click on the button while its menu is open first closes the menu (the menu takes that
 * click) and then reaches the button, which would open the menu again at once. So the object
 * remembers the button and menu of its last call and when that menu closed, and a second call
 * for the same pair within 100 ms opens nothing. Each window keeps its own object.
 */
class MenuUnderButton
{
public:
    /**
     * Shows menu at the button's lower-left corner and returns when the menu has closed;
     * returns false without showing it when the same button and menu were shown by the last
     * call and that menu closed fewer than 100 ms ago (the pair is then forgotten, so the
     * next call opens the menu again).
     */
    bool show(QPushButton *button, QMenu *menu);

    /**
     * The millisecond clock the guard compares, as an unsigned 32-bit number whose
     * differences survive the clock's wrap. Tests replace it.
     */
    static std::function<quint32()> clock;

private:
    QPushButton *m_button = nullptr;
    QMenu *m_menu = nullptr;
    quint32 m_closedAt = 0; // clock() when m_menu closed
};
