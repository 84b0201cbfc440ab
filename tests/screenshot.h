#pragma once

// Saving part of a virtual X display as a PNG file, for the screenshot programs.

#include <QGuiApplication>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QTest>

#include <cstdio>

/* Waits settleMs for the display server to draw, then saves area of the screen to file. */
inline bool saveScreenArea(const QRect &area, const QString &file, int settleMs = 300)
{
    QTest::qWait(settleMs);
    const QPixmap shot
        = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool saved = shot.save(file);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
    return saved;
}
