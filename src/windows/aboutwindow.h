#pragma once

#include "windows/rainanimation.h"
#include "widgets/menuunderbutton.h"

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QStaticText>

#include <functional>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QUrl;

/**
 * The About window: the maker's logo, the program's icon, name and version on a black window
 * over falling green characters, a link to the maker's web site and an "Info" button whose
 * menu opens the acknowledgements page, the uninstall instructions and license.txt.
 *
 * It is shown modally and discarded when it closes. The window can be dragged by its
 * background, its panel, the two images and the name label, with any mouse button but the
 * right one. The controls keep their designer names and are public so that tests can drive
 * them.
 */
class TAboutBox : public QDialog
{
    Q_OBJECT

public:
    /**
     * Builds the window for the program named description in version ("2.3"), every caption
     * translated, and starts the animation.
     */
    TAboutBox(const QString &description, const QString &version, QWidget *parent = nullptr);
    ~TAboutBox() override;

    /** Opens an address (a web page, or a local file in the desktop's default program); tests replace it. */
    static std::function<void(const QUrl &)> OpenInDesktop;

    // ---- handlers ------------------------------------------------------------------------
    /** One step of the animation, every 50 ms: draws the drops' cells, then repaints only those cells. */
    void tmTimerTimer();
    void BitBtn1Click();
    void BitBtn2Click();
    void Label5Click();
    void Credits1Click();
    void Howtouninstall1Click();
    /** Opens license.txt from the program's folder, or says "File not found!". */
    void LicensePrivacyPolicy1Click();
    /** Loads the logo at the size that fits the screen's dots per inch. */
    void HighDPIImageYukle();

    /** The animation's state and the surface it draws on (window pixels, black where nothing is drawn). */
    const RainAnimation &Rain() const { return m_rain; }
    const QImage &Canvas() const { return m_canvas; }
    bool Dragging() const { return dragging; }

    // ---- controls ------------------------------------------------------------------------
    QWidget *Panel1 = nullptr;
    QLabel *Image2 = nullptr;
    QFrame *Bevel1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *BitBtn2 = nullptr;
    QLabel *Label5 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *Credits1 = nullptr;
    QAction *Howtouninstall1 = nullptr;
    QAction *LicensePrivacyPolicy1 = nullptr;
    QTimer *tmTimer = nullptr;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateControls(const QString &description, const QString &version);
    void TranslateCaptions(const QString &description);
    void StartRain();
    void ResetRain();
    void DrawDrop(QPainter &painter, const DropDrawing &drawing, QRegion &changed);
    void DrawCharacter(QPainter &painter, QChar character, const RainColor &color, const QRect &cell);
    void CentreOnScreen();
    void OpenPage(const QString &scheme, const QString &path);

    // The animation draws into this image, the size of the window in device pixels; the
    // window shows it in every repainted area, and each tick repaints only the cells it changed.
    QImage m_canvas;
    RainAnimation m_rain;
    int bitmapWidth = 0;
    int bitmapHeight = 0;
    QFont m_rainFont;
    QList<QStaticText> m_glyphs; // one per character of the alphabet
    QString m_alphabet;
    int m_glyphTop = 0;          // where a glyph's box starts below its cell's top

    bool dragging = false;
    int dx = 0;
    int dy = 0;
    bool m_watchingScreen = false;

    MenuUnderButton m_menuUnderButton;
};
