#pragma once

#include <QPushButton>

/**
 * A push button that draws its icon a fixed distance from its left edge and centres its
 * caption in the room to the right of the icon.
 */
class GlyphButton : public QPushButton
{
    Q_OBJECT

public:
    explicit GlyphButton(QWidget *parent = nullptr);

    /** Pixels between the left edge and the icon. */
    void setGlyphMargin(int margin) { m_glyphMargin = margin; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_glyphMargin = 10;
};
