#pragma once

#include "widgets/menuunderbutton.h"
#include "windows/rainanimation.h"

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
 * right one. Each control's object name is its role ("okButton", "infoMenu"), by which tests
 * find it.
 */
class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    /**
     * Builds the window for the program named description in version ("2.3"), every caption
     * translated, and starts the animation.
     */
    AboutWindow(const QString &description, const QString &version, QWidget *parent = nullptr);
    ~AboutWindow() override;

    /** Opens an address (a web page, or a local file in the desktop's default program); tests replace it. */
    static std::function<void(const QUrl &)> openInDesktop;

    // ---- handlers ------------------------------------------------------------------------
    /** One step of the animation, every 50 ms: draws the drops' cells, then repaints only those cells. */
    void onRainTimer();
    void onInfoClicked();
    /** Loads the logo at the size that fits the screen's dots per inch. */
    void loadLogoForScreen();

    /** The animation's state and the surface it draws on (window pixels, black where nothing is drawn). */
    const RainAnimation &rain() const { return m_rain; }
    const QImage &canvas() const { return m_canvas; }
    bool isDragging() const { return m_dragging; }

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
    void onOkClicked();
    void onWebLinkClicked();
    void openCredits();
    void openUninstallHelp();
    /** Opens license.txt from the program's folder, or says "File not found!". */
    void openLicense();
    void nameControls();
    void createControls(const QString &description, const QString &version);
    void translateCaptions(const QString &description);
    void startRain();
    void resetRain();
    void drawDrop(QPainter &painter, const DropDrawing &drawing, QRegion &changed);
    void drawCharacter(QPainter &painter, QChar character, const RainColor &color, const QRect &cell);
    void centreOnScreen();
    void openPage(const QString &scheme, const QString &path);

    // The animation draws into this image, the size of the window in device pixels; the
    // window shows it in every repainted area, and each tick repaints only the cells it changed.
    QImage m_canvas;
    RainAnimation m_rain;
    int m_bitmapWidth = 0;
    int m_bitmapHeight = 0;
    QFont m_rainFont;
    QList<QStaticText> m_glyphs; // one per character of the alphabet
    QString m_alphabet;
    int m_glyphTop = 0; // where a glyph's box starts below its cell's top

    bool m_dragging = false;
    int m_dragX = 0;
    int m_dragY = 0;
    bool m_watchingScreen = false;

    MenuUnderButton m_menuUnderButton;

    // ---- controls ------------------------------------------------------------------------
    QWidget *m_contentPanel = nullptr;
    QLabel *m_logoImage = nullptr;
    QFrame *m_separatorLine = nullptr;
    QLabel *m_iconImage = nullptr;
    QLabel *m_versionLabel = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_infoButton = nullptr;
    QLabel *m_webLinkLabel = nullptr;
    QMenu *m_infoMenu = nullptr;
    QAction *m_creditsAction = nullptr;
    QAction *m_uninstallAction = nullptr;
    QAction *m_licenseAction = nullptr;
    QTimer *m_rainTimer = nullptr;
};
