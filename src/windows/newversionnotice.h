#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QTimer;
class QToolButton;
class QVariantAnimation;

/*
 * The new-version notice: a small borderless window in the top right corner of the primary
 * screen that announces the version the update check found, with a link to its download.
 *
 * It stays above other windows and never takes the keyboard focus, so whatever the user was
 * typing into keeps it. It shows itself right after creation (growing out of its centre),
 * can be dragged with any mouse button but the right one, and closes after eleven ticks of
 * its one-second countdown (shrinking into its centre) unless the user closed it before. It
 * deletes itself when closed; it is never shown again.
 */
class NewVersionNotice : public QWidget
{
    Q_OBJECT

public:
    /**
     * The notice for currentVersion of the program named appDescription, whose link opens
     * currentURL when that is an http or https address and the maker's home page otherwise
     * (downloadAddress of the update checker). The window shows itself; parent, when given, only
     * ties the notice's lifetime to it (it is still a window of its own).
     */
    NewVersionNotice(const QString &appDescription, const QString &currentVersion, const QString &currentURL,
                     QWidget *parent = nullptr);

    /** Replaces the desktop's web browser for the link (tests record the address instead). */
    void setUrlOpener(std::function<void(const QUrl &)> opener);

    /** Where the notice sits when fully shown: 5 pixels from the top and right edges of the primary screen. */
    static QRect homeGeometry();

    QFrame *framePanel = nullptr;   // fills the window, thin raised edge
    QLabel *iconImage = nullptr;    // the program's icon
    QLabel *titleLabel = nullptr;   // "UPDATE AVAILABLE"
    QLabel *downloadLink = nullptr; // the download link
    QWidget *closePanel = nullptr;  // right edge, holds the close button
    QToolButton *closeButton = nullptr;

    QTimer *showTimer = nullptr;  // once, right after creation: show
    QTimer *linkTimer = nullptr;  // every 100 ms: link colour from the pointer
    QTimer *closeTimer = nullptr; // every second: the countdown

    void onShowTimer();
    void onLinkTimer();
    void onCloseTimer();
    void onDownloadClicked();
    void onCloseClicked();

    /** Seconds left on the countdown; the notice closes when it reaches 0. */
    int ticksLeft() const { return m_ticksLeft; }
    /** Whether a drag is under way. */
    bool isDragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildControls();
    void animate(double from, double to, std::function<void()> finished);
    void reveal(double fraction);

    std::function<void(const QUrl &)> m_opener;
    QString m_currentUrl; // as the reply named it; the link decides what to open when clicked
    QPointer<QVariantAnimation> m_animation;
    QRect m_home; // the geometry when fully shown, moved by dragging
    int m_ticksLeft = 11;
    bool m_dragging = false;
    QPointF m_lastDragPoint; // pointer position in screen coordinates
};
