#include "windows/newversionnotice.h"

#include "widgets/icons.h"
#include "online/updatecheck.h"
#include "i18n/translate.h"

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
#include <QVariantAnimation>
#include <QVBoxLayout>

namespace {

constexpr int NoticeWidth = 320;
constexpr int NoticeHeight = 68;
constexpr int ScreenMargin = 5;
constexpr int AnimationMs = 100;
constexpr int CountdownTicks = 11;

/* A label with the window's usual look: plain text (the version comes from a server), centred. */
QLabel *PlainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

TNewVer::TNewVer(const QString &appDescription, const QString &currentVersion, const QString &currentURL,
                 QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_opener([](const QUrl &url) { QDesktopServices::openUrl(url); })
    , m_currentUrl(currentURL)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A notice left on the screen must not keep the program running once the main window is gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(Translate(QStringLiteral("UPDATE AVAILABLE")));

    BuildControls();
    Label1->setText(Translate(QStringLiteral("UPDATE AVAILABLE")));
    Label2->setText(Translate(QStringLiteral("Click to download")) + u' ' + appDescription + u' ' + currentVersion);

    m_home = HomeGeometry();
    setGeometry(m_home);

    TimerStart = new QTimer(this);
    TimerStart->setSingleShot(true);
    TimerStart->setInterval(1);
    connect(TimerStart, &QTimer::timeout, this, &TNewVer::TimerStartTimer);
    TimerLink = new QTimer(this);
    TimerLink->setInterval(100);
    connect(TimerLink, &QTimer::timeout, this, &TNewVer::TimerLinkTimer);
    TimerClose = new QTimer(this);
    TimerClose->setInterval(1000);
    connect(TimerClose, &QTimer::timeout, this, &TNewVer::TimerCloseTimer);
    TimerStart->start();
    TimerLink->start();
    TimerClose->start();
}

void TNewVer::BuildControls()
{
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setFixedSize(NoticeWidth, NoticeHeight);
    Panel1->setAutoFillBackground(true);

    Image1 = new QLabel(Panel1);
    Image1->setFixedSize(60, 60);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(RoleIcon(QStringLiteral("tessaly")).pixmap(QSize(60, 60)));

    Label1 = PlainLabel(Panel1);
    QFont heading = PixelFont(13);
    heading.setBold(true);
    Label1->setFont(heading);

    Label2 = PlainLabel(Panel1);
    QFont link = PixelFont(13);
    link.setUnderline(true);
    Label2->setFont(link);
    Label2->setWordWrap(true);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->setForegroundRole(QPalette::WindowText);
    Label2->installEventFilter(this);

    Panel3 = new QWidget(Panel1);
    Panel3->setFixedWidth(22);
    Button1 = new QToolButton(Panel3);
    Button1->setFixedSize(22, 22);
    Button1->setIcon(RoleIcon(QStringLiteral("close")));
    Button1->setAutoRaise(true);
    Button1->setCursor(Qt::PointingHandCursor);
    Button1->setFocusPolicy(Qt::NoFocus);
    connect(Button1, &QToolButton::clicked, this, &TNewVer::Button1Click);
    auto *closeColumn = new QVBoxLayout(Panel3);
    closeColumn->setContentsMargins(0, 0, 0, 0);
    closeColumn->addWidget(Button1);
    closeColumn->addStretch();

    auto *middle = new QVBoxLayout;
    middle->setContentsMargins(0, 2, 0, 2);
    middle->setSpacing(0);
    middle->addWidget(Label1);
    middle->addWidget(Label2, 1);

    auto *row = new QHBoxLayout(Panel1);
    row->setContentsMargins(4, 1, 1, 1);
    row->setSpacing(4);
    row->addWidget(Image1, 0, Qt::AlignVCenter);
    row->addLayout(middle, 1);
    row->addWidget(Panel3);
}

QRect TNewVer::HomeGeometry()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return QRect(screen.x() + screen.width() - NoticeWidth - ScreenMargin, screen.y() + ScreenMargin, NoticeWidth,
                 NoticeHeight);
}

void TNewVer::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    m_opener = std::move(opener);
}

void TNewVer::TimerStartTimer()
{
    TimerStart->stop();
    Reveal(0.0);
    show();
    // The window shows without being activated, so the keyboard focus never leaves the
    // window that had it and nothing needs to be given back.
    Animate(0.0, 1.0, nullptr);
}

void TNewVer::TimerLinkTimer()
{
    const bool pointerOnLink = Label2->rect().contains(Label2->mapFromGlobal(QCursor::pos()));
    QPalette colours = Label2->palette();
    colours.setColor(QPalette::WindowText,
                     palette().color(pointerOnLink ? QPalette::Highlight : QPalette::WindowText));
    Label2->setPalette(colours);
}

void TNewVer::TimerCloseTimer()
{
    if (--m_ticksLeft > 0)
        return;
    TimerClose->stop();
    Animate(1.0, 0.0, [this] { close(); });
}

void TNewVer::Label2Click()
{
    m_opener(QUrl(DownloadAddress(m_currentUrl))); // a failure to open it is not reported
    close();
}

void TNewVer::Button1Click()
{
    close();
}

/* Runs the opening or closing animation: the visible part grows from or shrinks to the centre. */
void TNewVer::Animate(double from, double to, std::function<void()> finished)
{
    if (m_animation)
        m_animation->stop(); // deletes it; a stopped animation does not report finished
    auto *animation = new QVariantAnimation(this);
    m_animation = animation;
    animation->setDuration(AnimationMs);
    animation->setStartValue(from);
    animation->setEndValue(to);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { Reveal(value.toDouble()); });
    connect(animation, &QVariantAnimation::finished, this, [this, to, finished] {
        Reveal(to);
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
void TNewVer::Reveal(double fraction)
{
    const int width = qMax(1, qRound(m_home.width() * fraction));
    const int height = qMax(1, qRound(m_home.height() * fraction));
    QRect visible(0, 0, width, height);
    visible.moveCenter(m_home.center());
    setGeometry(visible);
    Panel1->move(m_home.topLeft() - visible.topLeft());
}

bool TNewVer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != Label2)
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
        if (mouse->button() == Qt::LeftButton && Label2->rect().contains(mouse->position().toPoint()))
            Label2Click();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

// Presses on the window, Panel1, Image1, Label1 and Panel3 arrive here (the labels and panels
// pass them on); the link and the close button keep theirs.
void TNewVer::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        return;
    m_dragging = true;
    m_lastDragPoint = event->globalPosition();
}

void TNewVer::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPoint offset = (event->globalPosition() - m_lastDragPoint).toPoint();
    m_lastDragPoint = event->globalPosition();
    m_home.translate(offset);
    move(pos() + offset);
}

void TNewVer::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}
