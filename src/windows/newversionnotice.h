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

    void onCloseTimer();

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
    void onShowTimer();
    void onLinkTimer();
    void onDownloadClicked();
    void onCloseClicked();
    void nameControls();
    void buildControls();
    void animate(double from, double to, const std::function<void()> &finished);
    void reveal(double fraction);

    std::function<void(const QUrl &)> m_opener;
    QString m_currentUrl; // as the reply named it; the link decides what to open when clicked
    QPointer<QVariantAnimation> m_animation;
    QRect m_home; // the geometry when fully shown, moved by dragging
    int m_ticksLeft = 11;
    bool m_dragging = false;
    QPointF m_lastDragPoint; // pointer position in screen coordinates

    // ---- controls ------------------------------------------------------------------------
    QFrame *m_framePanel = nullptr;   // fills the window, thin raised edge
    QLabel *m_iconImage = nullptr;    // the program's icon
    QLabel *m_titleLabel = nullptr;   // "UPDATE AVAILABLE"
    QLabel *m_downloadLink = nullptr; // the download link
    QWidget *m_closePanel = nullptr;  // right edge, holds the close button
    QToolButton *m_closeButton = nullptr;
    QTimer *m_showTimer = nullptr;  // once, right after creation: show
    QTimer *m_linkTimer = nullptr;  // every 100 ms: link colour from the pointer
    QTimer *m_closeTimer = nullptr; // every second: the countdown
};
