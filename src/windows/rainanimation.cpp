#include "windows/rainanimation.h"

#include <QRandomGenerator>

#include <algorithm>

int rainEraseRow(int row, int matrixHeight)
{
    int erase = row - RainAnimation::kTrailReach;
    const int rows = matrixHeight + 1;
    if (erase < 0)
        erase += ((-erase + rows - 1) / rows) * rows; // the loop "add rows while negative" in one step
    return erase;
}

RainColor rainHeadColor(int brightness)
{
    const int b = brightness * 255 / 100;
    return {b * 150 / 255, b, b * 100 / 255};
}

RainColor rainTrailColor(int brightness)
{
    const int b = brightness * 255 / 100 / 3;
    return {b * 150 / 255, b, b * 100 / 255};
}

DropDrawing rainDrawingOf(const RainDrop &drop, int matrixHeight, QChar character)
{
    DropDrawing drawing;
    drawing.column = drop.column;
    drawing.eraseRow = rainEraseRow(drop.row, matrixHeight);
    drawing.hasTrail = drop.row > 0;
    drawing.trailRow = drop.row - 1;
    drawing.trail = rainTrailColor(drop.brightness);
    drawing.headRow = drop.row;
    drawing.head = rainHeadColor(drop.brightness);
    drawing.character = character;
    return drawing;
}

RainAnimation::RainAnimation(const QString &alphabet, RandomRange random)
    : m_alphabet(alphabet.isEmpty() ? QStringLiteral("orv") : alphabet)
    , m_random(std::move(random))
{
    if (!m_random) {
        m_random = [generator = QRandomGenerator::securelySeeded()](int low, int high) mutable {
            return generator.bounded(low, high + 1);
        };
    }
    m_drops.reserve(kMaxDrops);
}

void RainAnimation::reset(int bitmapWidth, int bitmapHeight)
{
    m_tick = 0;
    m_matrixWidth = std::max(0, bitmapWidth / kCharWidth);
    m_matrixHeight = std::max(0, bitmapHeight / kCharHeight);
    m_drops.clear();
    for (int i = 0; i < 2 * m_matrixWidth; ++i)
        addDrop();
}

void RainAnimation::addDrop()
{
    if (dropCount() >= kMaxDrops || m_matrixWidth == 0)
        return;
    RainDrop drop;
    drop.column = dropCount() % m_matrixWidth;
    drop.row = m_random(0, std::max(0, m_matrixHeight - 1));
    drop.period = m_random(1, 3);
    drop.brightness = m_random(0, 99);
    m_drops.push_back(drop);
}

void RainAnimation::tick(const std::function<void(const DropDrawing &)> &draw)
{
    for (RainDrop &drop : m_drops) {
        const QChar character = m_alphabet.at(m_random(0, int(m_alphabet.size()) - 1));
        draw(rainDrawingOf(drop, m_matrixHeight, character));
        if (m_tick % drop.period == 0)
            move(drop);
    }
    ++m_tick;
}

void RainAnimation::move(RainDrop &drop)
{
    ++drop.row;
    if (drop.row > m_matrixHeight + 1)
        respawn(drop);
}

void RainAnimation::respawn(RainDrop &drop)
{
    drop.row = 0;
    drop.period = m_random(1, 3);
    drop.brightness = m_random(0, 99);
}
