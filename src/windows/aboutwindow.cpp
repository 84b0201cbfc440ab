#include "windows/aboutwindow.h"

#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "platform/webhost.h"
#include "i18n/translate.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

/* The logo is compiled into a static library; its resources must be registered by name. */
static void RegisterAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace {

constexpr int TickInterval = 50; // milliseconds between two steps of the animation
const QSize LogoSize(344, 105);  // the logo's size at 96 dots per inch
// The baseline of a character inside its 12-pixel cell: the letters of the alphabet have no
// descenders, so this leaves one pixel below them and room above.
constexpr int GlyphBaseline = 10;

QColor ToQColor(const RainColor &color)
{
    return QColor(color.red, color.green, color.blue);
}

QRect CellRect(int column, int row)
{
    return QRect(column * RainAnimation::CharWidth, row * RainAnimation::CharHeight,
                 RainAnimation::CharWidth, RainAnimation::CharHeight);
}

/* Black window, white text, dark buttons (the captions are white). */
QPalette AboutPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Button, QColor(0x2a, 0x2a, 0x2a));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x60, 0x60, 0x60));
    palette.setColor(QPalette::Midlight, QColor(0x48, 0x48, 0x48));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0x2e, 0x8b, 0x3a));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

QLabel *PlainLabel(QWidget *parent, const QRect &geometry)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    return label;
}

QPushButton *WhiteButton(QWidget *parent, const QRect &geometry)
{
    auto *button = new QPushButton(parent);
    button->setGeometry(geometry);
    button->setFont(PixelFont(16));
    return button;
}

} // namespace

std::function<void(const QUrl &)> TAboutBox::OpenInDesktop = [](const QUrl &url) {
    // The desktop's failures to open a page or a file are not reported.
    QDesktopServices::openUrl(url);
};

TAboutBox::TAboutBox(const QString &description, const QString &version, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    RegisterAboutResources();
    setFixedSize(446, 374);
    setPalette(AboutPalette());
    setAutoFillBackground(false);
    // paintEvent fills every repainted area from the canvas.
    setAttribute(Qt::WA_OpaquePaintEvent);
    CreateControls(description, version);
    StartRain();
    TranslateCaptions(description);
    HighDPIImageYukle();
    CentreOnScreen();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::CreateControls(const QString &description, const QString &version)
{
    Panel1 = new QWidget(this);
    Panel1->setGeometry(48, 42, 350, 291);
    Panel1->setAutoFillBackground(true);

    Image2 = PlainLabel(Panel1, QRect(QPoint(3, 3), LogoSize));
    Image2->setScaledContents(true);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setGeometry(9, 122, 34, 34);
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1 = PlainLabel(Panel1, QRect(10, 123, 32, 32));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(RoleIcon(QStringLiteral("tessaly")).pixmap(QSize(32, 32)));

    Label2 = PlainLabel(Panel1, QRect(49, 122, 290, 40));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setFont(PixelFont(16));
    Label2->setText(description + u' ' + version);

    BitBtn1 = WhiteButton(Panel1, QRect(49, 224, 122, 33));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &TAboutBox::BitBtn1Click);
    BitBtn2 = WhiteButton(Panel1, QRect(177, 224, 122, 33));
    BitBtn2->setIcon(RoleIcon(QStringLiteral("arrow")));
    BitBtn2->setLayoutDirection(Qt::RightToLeft); // the arrow at the right of the caption
    connect(BitBtn2, &QPushButton::clicked, this, &TAboutBox::BitBtn2Click);
    setTabOrder(BitBtn1, BitBtn2);

    // The link: bottom of the panel, text centred, lime and underlined.
    QFont linkFont = PixelFont(11, QStringLiteral("MS Sans Serif"));
    linkFont.setUnderline(true);
    const int linkHeight = QFontMetrics(linkFont).height() + 2;
    Label5 = PlainLabel(Panel1, QRect(0, Panel1->height() - linkHeight, Panel1->width(), linkHeight));
    Label5->setFont(linkFont);
    Label5->setAlignment(Qt::AlignCenter);
    QPalette linkPalette = Label5->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0x00, 0xff, 0x00));
    Label5->setPalette(linkPalette);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->setText(WebHost());
    Label5->setToolTip(QStringLiteral("http://") + WebHost() + u'/');
    Label5->installEventFilter(this);

    PopupMenu1 = new QMenu(this);
    Credits1 = PopupMenu1->addAction(QString());
    Howtouninstall1 = PopupMenu1->addAction(QString());
    LicensePrivacyPolicy1 = PopupMenu1->addAction(QString());
    connect(Credits1, &QAction::triggered, this, &TAboutBox::Credits1Click);
    connect(Howtouninstall1, &QAction::triggered, this, &TAboutBox::Howtouninstall1Click);
    connect(LicensePrivacyPolicy1, &QAction::triggered, this, &TAboutBox::LicensePrivacyPolicy1Click);

    tmTimer = new QTimer(this);
    tmTimer->setInterval(TickInterval);
    connect(tmTimer, &QTimer::timeout, this, &TAboutBox::tmTimerTimer);
}

void TAboutBox::TranslateCaptions(const QString &description)
{
    setWindowTitle(FormatText(Translate(QStringLiteral("About %s")), description));
    BitBtn1->setText(Translate(QStringLiteral("OK")));
    BitBtn2->setText(Translate(QStringLiteral("Info")));
    Credits1->setText(Translate(QStringLiteral("Acknowledgements...")));
    Howtouninstall1->setText(Translate(QStringLiteral("How to uninstall...")));
    LicensePrivacyPolicy1->setText(Translate(QStringLiteral("License...")));
}

void TAboutBox::CentreOnScreen()
{
    const QScreen *target = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect frame(QPoint(), size());
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

// ---- the animation ----------------------------------------------------------------------------

void TAboutBox::StartRain()
{
    m_alphabet = QStringLiteral("orv");
    m_rain = RainAnimation(m_alphabet);
    m_rainFont = PixelFont(11);
    const QFontMetrics metrics(m_rainFont);
    m_glyphs.clear();
    for (const QChar character : std::as_const(m_alphabet)) {
        QStaticText glyph{QString(character)};
        glyph.prepare(QTransform(), m_rainFont);
        m_glyphs.append(glyph);
    }
    m_glyphTop = GlyphBaseline - metrics.ascent();
    // The window has no frame yet: its outer size is its client size.
    bitmapWidth = frameGeometry().width();
    bitmapHeight = frameGeometry().height();
    ResetRain();
    tmTimer->start();
}

void TAboutBox::ResetRain()
{
    const qreal ratio = devicePixelRatioF();
    m_canvas = QImage(size() * ratio, QImage::Format_RGB32);
    m_canvas.fill(Qt::black);
    m_rain.Reset(bitmapWidth, bitmapHeight);
    update();
}

void TAboutBox::tmTimerTimer()
{
    QPainter painter(&m_canvas);
    painter.scale(devicePixelRatioF(), devicePixelRatioF());
    painter.setFont(m_rainFont);
    QRegion changed;
    m_rain.Tick([&](const DropDrawing &drawing) { DrawDrop(painter, drawing, changed); });
    painter.end();
    // The panel covers its part of the window, so nothing there needs repainting.
    update(changed.subtracted(QRegion(Panel1->geometry())));
}

void TAboutBox::DrawDrop(QPainter &painter, const DropDrawing &drawing, QRegion &changed)
{
    const QRect erase = CellRect(drawing.column, drawing.eraseRow);
    painter.fillRect(erase, Qt::black);
    changed += erase;
    const QRect head = CellRect(drawing.column, drawing.headRow);
    if (drawing.hasTrail) {
        const QRect trail = CellRect(drawing.column, drawing.trailRow);
        DrawCharacter(painter, drawing.character, drawing.trail, trail);
        changed += trail.united(head);
    } else {
        changed += head;
    }
    DrawCharacter(painter, drawing.character, drawing.head, head);
}

void TAboutBox::DrawCharacter(QPainter &painter, QChar character, const RainColor &color, const QRect &cell)
{
    // Text with an opaque black background: the character replaces its whole cell.
    painter.fillRect(cell, Qt::black);
    const qsizetype index = m_alphabet.indexOf(character);
    if (index < 0)
        return;
    const QStaticText &glyph = m_glyphs.at(index);
    painter.setPen(ToQColor(color));
    const int left = (RainAnimation::CharWidth - qRound(glyph.size().width())) / 2;
    painter.drawStaticText(cell.topLeft() + QPoint(left, m_glyphTop), glyph);
}

void TAboutBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    for (const QRect &area : event->region()) {
        const QRectF source(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio);
        painter.drawImage(QRectF(area), m_canvas, source);
    }
}

void TAboutBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    ResetRain();
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_watchingScreen && windowHandle()) {
        // On another monitor the logo is loaded again at its dots per inch, and the canvas
        // is made again at its pixel ratio.
        m_watchingScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] {
            HighDPIImageYukle();
            ResetRain();
        });
    }
    tmTimer->start();
}

void TAboutBox::hideEvent(QHideEvent *event)
{
    tmTimer->stop();
    QDialog::hideEvent(event);
}

void TAboutBox::HighDPIImageYukle()
{
    Image2->clear();
    const qreal ratio = devicePixelRatioF();
    QImageReader reader(QStringLiteral(":/about/logo.svg"));
    reader.setScaledSize(LogoSize * ratio);
    QPixmap logo = QPixmap::fromImage(reader.read());
    logo.setDevicePixelRatio(ratio);
    Image2->setPixmap(logo);
}

// ---- dragging ---------------------------------------------------------------------------------

void TAboutBox::mousePressEvent(QMouseEvent *event)
{
    // The panel, the images and the name label pass their presses on to the window.
    if (event->button() == Qt::RightButton)
        return;
    dragging = true;
    const QPoint point = event->globalPosition().toPoint();
    dx = point.x();
    dy = point.y();
}

void TAboutBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging)
        return;
    const QPoint point = event->globalPosition().toPoint();
    move(pos() + QPoint(point.x() - dx, point.y() - dy));
    dx = point.x();
    dy = point.y();
}

void TAboutBox::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    // The link takes its own clicks; they do not drag the window.
    if (watched == Label5) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && Label5->rect().contains(mouse->position().toPoint()))
                Label5Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- buttons, menu and link -------------------------------------------------------------------

void TAboutBox::BitBtn1Click()
{
    close();
}

void TAboutBox::BitBtn2Click()
{
    m_menuUnderButton.Show(BitBtn2, PopupMenu1);
}

void TAboutBox::OpenPage(const QString &scheme, const QString &path)
{
    OpenInDesktop(QUrl(scheme + QStringLiteral("://") + WebHost() + path));
}

void TAboutBox::Label5Click()
{
    OpenPage(QStringLiteral("http"), QStringLiteral("/"));
}

void TAboutBox::Credits1Click()
{
    OpenPage(QStringLiteral("https"), QStringLiteral("/blog/credits-and-acknowledgements/"));
}

void TAboutBox::Howtouninstall1Click()
{
    OpenPage(QStringLiteral("http"), QStringLiteral("/blog/how-to-uninstall-orvanta-software/"));
}

void TAboutBox::LicensePrivacyPolicy1Click()
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/license.txt");
    if (QFileInfo::exists(path))
        OpenInDesktop(QUrl::fromLocalFile(path));
    else
        Dialogs::ShowMessage(this, MessageIcon::Error, Translate(QStringLiteral("License")),
                             Translate(QStringLiteral("File not found!")));
}
