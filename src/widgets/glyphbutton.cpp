#include "widgets/glyphbutton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

GlyphButton::GlyphButton(QWidget *parent)
    : QPushButton(parent)
{
}

void GlyphButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString text = option.text;
    const QIcon icon = option.icon;
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);

    const QRect content = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    int textLeft = content.left();
    if (!icon.isNull()) {
        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QPixmap pixmap = icon.pixmap(iconSize(), devicePixelRatio(), mode);
        const QSize logical = pixmap.deviceIndependentSize().toSize();
        const QPoint at(m_glyphMargin, (height() - logical.height()) / 2);
        painter.drawPixmap(at, pixmap);
        textLeft = at.x() + logical.width();
    }
    const QRect textRect(QPoint(textLeft, content.top()), content.bottomRight());
    // The Alt letter is underlined when the style shows it, as on the style's own buttons.
    int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this))
        flags |= Qt::TextHideMnemonic;
    painter.drawItemText(textRect, flags, palette(), isEnabled(), text, QPalette::ButtonText);
}
