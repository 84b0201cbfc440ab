#include "windows/rainanimation.h"

#include <QRandomGenerator>

#include <algorithm>

int RainEraseRow(int row, int matrixHeight)
{
    int erase = row - RainAnimation::TrailReach;
    const int rows = matrixHeight + 1;
    if (erase < 0)
        erase += ((-erase + rows - 1) / rows) * rows; // the loop "add rows while negative" in one step
    return erase;
}

RainColor RainHeadColor(int brightness)
{
    const int b = brightness * 255 / 100;
    return {b * 150 / 255, b, b * 100 / 255};
}

RainColor RainTrailColor(int brightness)
{
    const int b = brightness * 255 / 100 / 3;
    return {b * 150 / 255, b, b * 100 / 255};
}

DropDrawing RainDrawingOf(const RainDrop &drop, int matrixHeight, QChar character)
{
    DropDrawing drawing;
    drawing.column = drop.column;
    drawing.eraseRow = RainEraseRow(drop.row, matrixHeight);
    drawing.hasTrail = drop.row > 0;
    drawing.trailRow = drop.row - 1;
    drawing.trail = RainTrailColor(drop.brightness);
    drawing.headRow = drop.row;
    drawing.head = RainHeadColor(drop.brightness);
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
    m_drops.reserve(MaxDrops);
}

void RainAnimation::Reset(int bitmapWidth, int bitmapHeight)
{
    m_tick = 0;
    m_matrixWidth = std::max(0, bitmapWidth / CharWidth);
    m_matrixHeight = std::max(0, bitmapHeight / CharHeight);
    m_drops.clear();
    for (int i = 0; i < 2 * m_matrixWidth; ++i)
        AddDrop();
}

void RainAnimation::AddDrop()
{
    if (DropCount() >= MaxDrops || m_matrixWidth == 0)
        return;
    RainDrop drop;
    drop.column = DropCount() % m_matrixWidth;
    drop.row = m_random(0, std::max(0, m_matrixHeight - 1));
    drop.period = m_random(1, 3);
    drop.brightness = m_random(0, 99);
    m_drops.push_back(drop);
}

void RainAnimation::Tick(const std::function<void(const DropDrawing &)> &draw)
{
    for (RainDrop &drop : m_drops) {
        const QChar character = m_alphabet.at(m_random(0, int(m_alphabet.size()) - 1));
        draw(RainDrawingOf(drop, m_matrixHeight, character));
        if (m_tick % drop.period == 0)
            Move(drop);
    }
    ++m_tick;
}

void RainAnimation::Move(RainDrop &drop)
{
    ++drop.row;
    if (drop.row > m_matrixHeight + 1)
        Respawn(drop);
}

void RainAnimation::Respawn(RainDrop &drop)
{
    drop.row = 0;
    drop.period = m_random(1, 3);
    drop.brightness = m_random(0, 99);
}
