#pragma once

#include <QChar>
#include <QString>

#include <functional>
#include <vector>

/*
 * The About window's falling characters, without any drawing: where the drops are, what each
 * tick changes and in which colours. The window turns each DropDrawing into one erased cell
 * and at most two characters.
 *
 * The screen is a matrix of cells of kCharWidth by kCharHeight pixels. Every column holds two
 * drops; each drop moves one row every `period` ticks, draws a bright head and a dim trail
 * cell behind it, and erases the cell 40 rows above, so that a stream leaves a trail of up to
 * 39 cells. Past the bottom (row matrixHeight + 1) a drop starts again at row 0 with a new
 * speed and brightness.
 */

/** A colour of the animation; each channel 0 to 255. */
struct RainColor {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const RainColor &, const RainColor &) = default;
};

struct RainDrop {
    int column = 0;     // 0 <= column < matrixWidth
    int row = 0;        // 0 to matrixHeight + 1
    int period = 1;     // 1 to 3: the drop moves one row every period ticks
    int brightness = 0; // 0 to 99
};

/** The cells one drop changes when it is drawn, in cell coordinates. */
struct DropDrawing {
    int column = 0;
    int eraseRow = 0;      // filled black
    bool hasTrail = false; // false at row 0: there is no cell above
    int trailRow = 0;      // row - 1, drawn in the trail colour
    RainColor trail;
    int headRow = 0; // the drop's row, drawn in the head colour
    RainColor head;
    QChar character;
};

/**
 * The row 40 rows above row, wrapped into 0 .. matrixHeight (a drop travels matrixHeight + 2
 * rows, 0 to matrixHeight + 1). matrixHeight 30, row 10 gives 1.
 */
int rainEraseRow(int row, int matrixHeight);

/** The head colour of a brightness 0..99: b = brightness * 255 / 100; red b*150/255, green b, blue b*100/255. */
RainColor rainHeadColor(int brightness);

/** The trail colour: the head colour's formula applied to a third of b. */
RainColor rainTrailColor(int brightness);

/** What drawing drop with character changes. */
DropDrawing rainDrawingOf(const RainDrop &drop, int matrixHeight, QChar character);

class RainAnimation
{
public:
    static constexpr int kCharWidth = 8;
    static constexpr int kCharHeight = 12;
    static constexpr int kMaxDrops = 5000;
    /** Rows between a head and the cell it erases. */
    static constexpr int kTrailReach = 40;

    /** A random integer from low to high, both included. */
    using RandomRange = std::function<int(int low, int high)>;

    /**
     * alphabet: the characters the drops show, each equally likely (must not be empty).
     * random: the random source; empty for a generator seeded from the system.
     */
    explicit RainAnimation(const QString &alphabet = QStringLiteral("orv"), RandomRange random = {});

    /**
     * Starts again for a surface of bitmapWidth by bitmapHeight pixels: the matrix is
     * bitmapWidth / 8 columns by bitmapHeight / 12 rows, the tick counter 0, and each column
     * gets two drops at random rows, periods and brightnesses (at most kMaxDrops in all).
     */
    void reset(int bitmapWidth, int bitmapHeight);

    /**
     * Adds a drop in column dropCount() mod matrixWidth(); does nothing when kMaxDrops drops
     * are in use or the matrix has no column.
     */
    void addDrop();

    /**
     * One tick: for each drop in order, passes what drawing it changes to draw, then moves
     * the drop if the tick counter is a multiple of its period. Then counts the tick.
     */
    void tick(const std::function<void(const DropDrawing &)> &draw);

    int matrixWidth() const { return m_matrixWidth; }
    int matrixHeight() const { return m_matrixHeight; }
    int dropCount() const { return int(m_drops.size()); }
    int rainTick() const { return m_tick; }
    const std::vector<RainDrop> &drops() const { return m_drops; }

private:
    void move(RainDrop &drop);
    void respawn(RainDrop &drop);

    QString m_alphabet;
    RandomRange m_random;
    int m_matrixWidth = 0;
    int m_matrixHeight = 0;
    int m_tick = 0;
    std::vector<RainDrop> m_drops;
};
