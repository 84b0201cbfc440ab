#include "windows/newversionnotice.h"

#include "i18n/translate.h"
#include "online/updatecheck.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int kNoticeWidth = 320;
constexpr int kNoticeHeight = 68;
constexpr int kScreenMargin = 5;
constexpr int kAnimationMs = 100;

/* A label with the window's usual look: plain text (the version comes from a server), centred. */
QLabel *plainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

NewVersionNotice::NewVersionNotice(const QString &appDescription, const QString &currentVersion,
                                   const QString &currentURL, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_opener([](const QUrl &url) { QDesktopServices::openUrl(url); })
    , m_currentUrl(currentURL)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A notice left on the screen must not keep the program running once the main window is gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(translate(QStringLiteral("UPDATE AVAILABLE")));

    buildControls();
    m_titleLabel->setText(translate(QStringLiteral("UPDATE AVAILABLE")));
    m_downloadLink->setText(translate(QStringLiteral("Click to download")) + u' ' + appDescription + u' '
                            + currentVersion);

    m_home = homeGeometry();
    setGeometry(m_home);

    m_showTimer = new QTimer(this);
    m_showTimer->setSingleShot(true);
    m_showTimer->setInterval(1);
    connect(m_showTimer, &QTimer::timeout, this, &NewVersionNotice::onShowTimer);
    m_linkTimer = new QTimer(this);
    m_linkTimer->setInterval(100);
    connect(m_linkTimer, &QTimer::timeout, this, &NewVersionNotice::onLinkTimer);
    m_closeTimer = new QTimer(this);
    m_closeTimer->setInterval(1000);
    connect(m_closeTimer, &QTimer::timeout, this, &NewVersionNotice::onCloseTimer);
    m_showTimer->start();
    m_linkTimer->start();
    m_closeTimer->start();
    nameControls();
}

void NewVersionNotice::buildControls()
{
    m_framePanel = new QFrame(this);
    m_framePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_framePanel->setLineWidth(1);
    m_framePanel->setFixedSize(kNoticeWidth, kNoticeHeight);
    m_framePanel->setAutoFillBackground(true);

    m_iconImage = new QLabel(m_framePanel);
    m_iconImage->setFixedSize(60, 60);
    m_iconImage->setAlignment(Qt::AlignCenter);
    m_iconImage->setPixmap(roleIcon(QStringLiteral("tessaly")).pixmap(QSize(60, 60)));

    m_titleLabel = plainLabel(m_framePanel);
    QFont heading = pixelFont(13);
    heading.setBold(true);
    m_titleLabel->setFont(heading);

    m_downloadLink = plainLabel(m_framePanel);
    QFont link = pixelFont(13);
    link.setUnderline(true);
    m_downloadLink->setFont(link);
    m_downloadLink->setWordWrap(true);
    m_downloadLink->setCursor(Qt::PointingHandCursor);
    m_downloadLink->setForegroundRole(QPalette::WindowText);
    m_downloadLink->installEventFilter(this);

    m_closePanel = new QWidget(m_framePanel);
    m_closePanel->setFixedWidth(22);
    m_closeButton = new QToolButton(m_closePanel);
    m_closeButton->setFixedSize(22, 22);
    m_closeButton->setIcon(roleIcon(QStringLiteral("close")));
    m_closeButton->setAutoRaise(true);
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    connect(m_closeButton, &QToolButton::clicked, this, &NewVersionNotice::onCloseClicked);
    auto *closeColumn = new QVBoxLayout(m_closePanel);
    closeColumn->setContentsMargins(0, 0, 0, 0);
    closeColumn->addWidget(m_closeButton);
    closeColumn->addStretch();

    auto *middle = new QVBoxLayout;
    middle->setContentsMargins(0, 2, 0, 2);
    middle->setSpacing(0);
    middle->addWidget(m_titleLabel);
    middle->addWidget(m_downloadLink, 1);

    auto *row = new QHBoxLayout(m_framePanel);
    row->setContentsMargins(4, 1, 1, 1);
    row->setSpacing(4);
    row->addWidget(m_iconImage, 0, Qt::AlignVCenter);
    row->addLayout(middle, 1);
    row->addWidget(m_closePanel);
}

QRect NewVersionNotice::homeGeometry()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return QRect(screen.x() + screen.width() - kNoticeWidth - kScreenMargin, screen.y() + kScreenMargin, kNoticeWidth,
                 kNoticeHeight);
}

void NewVersionNotice::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    m_opener = std::move(opener);
}

void NewVersionNotice::onShowTimer()
{
    m_showTimer->stop();
    reveal(0.0);
    show();
    // The window shows without being activated, so the keyboard focus never leaves the
    // window that had it and nothing needs to be given back.
    animate(0.0, 1.0, nullptr);
}

void NewVersionNotice::onLinkTimer()
{
    const bool pointerOnLink = m_downloadLink->rect().contains(m_downloadLink->mapFromGlobal(QCursor::pos()));
    QPalette colours = m_downloadLink->palette();
    colours.setColor(QPalette::WindowText, palette().color(pointerOnLink ? QPalette::Highlight : QPalette::WindowText));
    m_downloadLink->setPalette(colours);
}

void NewVersionNotice::onCloseTimer()
{
    if (--m_ticksLeft > 0)
        return;
    m_closeTimer->stop();
    animate(1.0, 0.0, [this] { close(); });
}

void NewVersionNotice::onDownloadClicked()
{
    m_opener(QUrl(downloadAddress(m_currentUrl))); // a failure to open it is not reported
    close();
}

void NewVersionNotice::onCloseClicked()
{
    close();
}

/* Runs the opening or closing animation: the visible part grows from or shrinks to the centre. */
void NewVersionNotice::animate(double from, double to, const std::function<void()> &finished)
{
    if (m_animation)
        m_animation->stop(); // deletes it; a stopped animation does not report finished
    auto *animation = new QVariantAnimation(this);
    m_animation = animation;
    animation->setDuration(kAnimationMs);
    animation->setStartValue(from);
    animation->setEndValue(to);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { reveal(value.toDouble()); });
    connect(animation, &QVariantAnimation::finished, this, [this, to, finished] {
        reveal(to);
        if (finished)
            finished();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

/*
 * Shows the given fraction of the notice around its centre: the window takes that part of its
 * full geometry and the content stays where it is on the screen, so the notice is uncovered
 * rather than squeezed.
 */
void NewVersionNotice::reveal(double fraction)
{
    const int width = qMax(1, qRound(m_home.width() * fraction));
    const int height = qMax(1, qRound(m_home.height() * fraction));
    QRect visible(0, 0, width, height);
    visible.moveCenter(m_home.center());
    setGeometry(visible);
    m_framePanel->move(m_home.topLeft() - visible.topLeft());
}

bool NewVersionNotice::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_downloadLink)
        return QWidget::eventFilter(watched, event);
    // The link takes its own presses, so that they never start a drag of the window.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        event->accept();
        return true;
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        event->accept();
        if (mouse->button() == Qt::LeftButton && m_downloadLink->rect().contains(mouse->position().toPoint()))
            onDownloadClicked();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

// Presses on the window, m_framePanel, m_iconImage, m_titleLabel and m_closePanel arrive here (the labels and panels
// pass them on); the link and the close button keep theirs.
void NewVersionNotice::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        return;
    m_dragging = true;
    m_lastDragPoint = event->globalPosition();
}

void NewVersionNotice::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPoint offset = (event->globalPosition() - m_lastDragPoint).toPoint();
    m_lastDragPoint = event->globalPosition();
    m_home.translate(offset);
    move(pos() + offset);
}

void NewVersionNotice::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}

void NewVersionNotice::nameControls()
{
    setObjectNames({
        {m_framePanel, "framePanel"},
        {m_iconImage, "iconImage"},
        {m_titleLabel, "titleLabel"},
        {m_downloadLink, "downloadLink"},
        {m_closePanel, "closePanel"},
        {m_closeButton, "closeButton"},
        {m_showTimer, "showTimer"},
        {m_linkTimer, "linkTimer"},
        {m_closeTimer, "closeTimer"},
    });
}
