#include "windows/aboutwindow.h"

#include "i18n/translate.h"
#include "platform/webhost.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"

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
static void registerAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace {

constexpr int kTickInterval = 50; // milliseconds between two steps of the animation
const QSize logoSize(344, 105);   // the logo's size at 96 dots per inch
// The baseline of a character inside its 12-pixel cell: the letters of the alphabet have no
// descenders, so this leaves one pixel below them and room above.
constexpr int kGlyphBaseline = 10;

QColor toQColor(const RainColor &color)
{
    return QColor(color.red, color.green, color.blue);
}

QRect cellRect(int column, int row)
{
    return QRect(column * RainAnimation::kCharWidth, row * RainAnimation::kCharHeight, RainAnimation::kCharWidth,
                 RainAnimation::kCharHeight);
}

/* Black window, white text, dark buttons (the captions are white). */
QPalette aboutPalette()
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

QLabel *plainLabel(QWidget *parent, const QRect &geometry)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    return label;
}

QPushButton *whiteButton(QWidget *parent, const QRect &geometry)
{
    auto *button = new QPushButton(parent);
    button->setGeometry(geometry);
    button->setFont(pixelFont(16));
    return button;
}

} // namespace

std::function<void(const QUrl &)> AboutWindow::openInDesktop = [](const QUrl &url) {
    // The desktop's failures to open a page or a file are not reported.
    QDesktopServices::openUrl(url);
};

AboutWindow::AboutWindow(const QString &description, const QString &version, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    registerAboutResources();
    setFixedSize(446, 374);
    setPalette(aboutPalette());
    setAutoFillBackground(false);
    // paintEvent fills every repainted area from the canvas.
    setAttribute(Qt::WA_OpaquePaintEvent);
    createControls(description, version);
    startRain();
    translateCaptions(description);
    loadLogoForScreen();
    centreOnScreen();
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::createControls(const QString &description, const QString &version)
{
    contentPanel = new QWidget(this);
    contentPanel->setGeometry(48, 42, 350, 291);
    contentPanel->setAutoFillBackground(true);

    logoImage = plainLabel(contentPanel, QRect(QPoint(3, 3), logoSize));
    logoImage->setScaledContents(true);

    separatorLine = new QFrame(contentPanel);
    separatorLine->setGeometry(9, 122, 34, 34);
    separatorLine->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    iconImage = plainLabel(contentPanel, QRect(10, 123, 32, 32));
    iconImage->setAlignment(Qt::AlignCenter);
    iconImage->setPixmap(roleIcon(QStringLiteral("tessaly")).pixmap(QSize(32, 32)));

    versionLabel = plainLabel(contentPanel, QRect(49, 122, 290, 40));
    versionLabel->setWordWrap(true);
    versionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    versionLabel->setFont(pixelFont(16));
    versionLabel->setText(description + u' ' + version);

    okButton = whiteButton(contentPanel, QRect(49, 224, 122, 33));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &AboutWindow::onOkClicked);
    infoButton = whiteButton(contentPanel, QRect(177, 224, 122, 33));
    infoButton->setIcon(roleIcon(QStringLiteral("arrow")));
    infoButton->setLayoutDirection(Qt::RightToLeft); // the arrow at the right of the caption
    connect(infoButton, &QPushButton::clicked, this, &AboutWindow::onInfoClicked);
    setTabOrder(okButton, infoButton);

    // The link: bottom of the panel, text centred, lime and underlined.
    QFont linkFont = pixelFont(11, QStringLiteral("MS Sans Serif"));
    linkFont.setUnderline(true);
    const int linkHeight = QFontMetrics(linkFont).height() + 2;
    webLinkLabel
        = plainLabel(contentPanel, QRect(0, contentPanel->height() - linkHeight, contentPanel->width(), linkHeight));
    webLinkLabel->setFont(linkFont);
    webLinkLabel->setAlignment(Qt::AlignCenter);
    QPalette linkPalette = webLinkLabel->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0x00, 0xff, 0x00));
    webLinkLabel->setPalette(linkPalette);
    webLinkLabel->setCursor(Qt::PointingHandCursor);
    webLinkLabel->setText(webHost());
    webLinkLabel->setToolTip(QStringLiteral("http://") + webHost() + u'/');
    webLinkLabel->installEventFilter(this);

    infoMenu = new QMenu(this);
    creditsAction = infoMenu->addAction(QString());
    uninstallAction = infoMenu->addAction(QString());
    licenseAction = infoMenu->addAction(QString());
    connect(creditsAction, &QAction::triggered, this, &AboutWindow::openCredits);
    connect(uninstallAction, &QAction::triggered, this, &AboutWindow::openUninstallHelp);
    connect(licenseAction, &QAction::triggered, this, &AboutWindow::openLicense);

    rainTimer = new QTimer(this);
    rainTimer->setInterval(kTickInterval);
    connect(rainTimer, &QTimer::timeout, this, &AboutWindow::onRainTimer);
}

void AboutWindow::translateCaptions(const QString &description)
{
    setWindowTitle(formatText(translate(QStringLiteral("About %s")), description));
    okButton->setText(translate(QStringLiteral("OK")));
    infoButton->setText(translate(QStringLiteral("Info")));
    creditsAction->setText(translate(QStringLiteral("Acknowledgements...")));
    uninstallAction->setText(translate(QStringLiteral("How to uninstall...")));
    licenseAction->setText(translate(QStringLiteral("License...")));
}

void AboutWindow::centreOnScreen()
{
    const QScreen *target = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect frame(QPoint(), size());
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

// ---- the animation ----------------------------------------------------------------------------

void AboutWindow::startRain()
{
    m_alphabet = QStringLiteral("orv");
    m_rain = RainAnimation(m_alphabet);
    m_rainFont = pixelFont(11);
    const QFontMetrics metrics(m_rainFont);
    m_glyphs.clear();
    for (const QChar character : std::as_const(m_alphabet)) {
        QStaticText glyph{QString(character)};
        glyph.prepare(QTransform(), m_rainFont);
        m_glyphs.append(glyph);
    }
    m_glyphTop = kGlyphBaseline - metrics.ascent();
    // The window has no frame yet: its outer size is its client size.
    m_bitmapWidth = frameGeometry().width();
    m_bitmapHeight = frameGeometry().height();
    resetRain();
    rainTimer->start();
}

void AboutWindow::resetRain()
{
    const qreal ratio = devicePixelRatioF();
    m_canvas = QImage(size() * ratio, QImage::Format_RGB32);
    m_canvas.fill(Qt::black);
    m_rain.reset(m_bitmapWidth, m_bitmapHeight);
    update();
}

void AboutWindow::onRainTimer()
{
    QPainter painter(&m_canvas);
    painter.scale(devicePixelRatioF(), devicePixelRatioF());
    painter.setFont(m_rainFont);
    QRegion changed;
    m_rain.tick([&](const DropDrawing &drawing) { drawDrop(painter, drawing, changed); });
    painter.end();
    // The panel covers its part of the window, so nothing there needs repainting.
    update(changed.subtracted(QRegion(contentPanel->geometry())));
}

void AboutWindow::drawDrop(QPainter &painter, const DropDrawing &drawing, QRegion &changed)
{
    const QRect erase = cellRect(drawing.column, drawing.eraseRow);
    painter.fillRect(erase, Qt::black);
    changed += erase;
    const QRect head = cellRect(drawing.column, drawing.headRow);
    if (drawing.hasTrail) {
        const QRect trail = cellRect(drawing.column, drawing.trailRow);
        drawCharacter(painter, drawing.character, drawing.trail, trail);
        changed += trail.united(head);
    } else {
        changed += head;
    }
    drawCharacter(painter, drawing.character, drawing.head, head);
}

void AboutWindow::drawCharacter(QPainter &painter, QChar character, const RainColor &color, const QRect &cell)
{
    // Text with an opaque black background: the character replaces its whole cell.
    painter.fillRect(cell, Qt::black);
    const qsizetype index = m_alphabet.indexOf(character);
    if (index < 0)
        return;
    const QStaticText &glyph = m_glyphs.at(index);
    painter.setPen(toQColor(color));
    const int left = (RainAnimation::kCharWidth - qRound(glyph.size().width())) / 2;
    painter.drawStaticText(cell.topLeft() + QPoint(left, m_glyphTop), glyph);
}

void AboutWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    for (const QRect &area : event->region()) {
        const QRectF source(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio);
        painter.drawImage(QRectF(area), m_canvas, source);
    }
}

void AboutWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    resetRain();
}

void AboutWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_watchingScreen && windowHandle()) {
        // On another monitor the logo is loaded again at its dots per inch, and the canvas
        // is made again at its pixel ratio.
        m_watchingScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] {
            loadLogoForScreen();
            resetRain();
        });
    }
    rainTimer->start();
}

void AboutWindow::hideEvent(QHideEvent *event)
{
    rainTimer->stop();
    QDialog::hideEvent(event);
}

void AboutWindow::loadLogoForScreen()
{
    logoImage->clear();
    const qreal ratio = devicePixelRatioF();
    QImageReader reader(QStringLiteral(":/about/logo.svg"));
    reader.setScaledSize(logoSize * ratio);
    QPixmap logo = QPixmap::fromImage(reader.read());
    logo.setDevicePixelRatio(ratio);
    logoImage->setPixmap(logo);
}

// ---- dragging ---------------------------------------------------------------------------------

void AboutWindow::mousePressEvent(QMouseEvent *event)
{
    // The panel, the images and the name label pass their presses on to the window.
    if (event->button() == Qt::RightButton)
        return;
    m_dragging = true;
    const QPoint point = event->globalPosition().toPoint();
    m_dragX = point.x();
    m_dragY = point.y();
}

void AboutWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPoint point = event->globalPosition().toPoint();
    move(pos() + QPoint(point.x() - m_dragX, point.y() - m_dragY));
    m_dragX = point.x();
    m_dragY = point.y();
}

void AboutWindow::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The link takes its own clicks; they do not drag the window.
    if (watched == webLinkLabel) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && webLinkLabel->rect().contains(mouse->position().toPoint()))
                onWebLinkClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- buttons, menu and link -------------------------------------------------------------------

void AboutWindow::onOkClicked()
{
    close();
}

void AboutWindow::onInfoClicked()
{
    m_menuUnderButton.show(infoButton, infoMenu);
}

void AboutWindow::openPage(const QString &scheme, const QString &path)
{
    openInDesktop(QUrl(scheme + QStringLiteral("://") + webHost() + path));
}

void AboutWindow::onWebLinkClicked()
{
    openPage(QStringLiteral("http"), QStringLiteral("/"));
}

void AboutWindow::openCredits()
{
    openPage(QStringLiteral("https"), QStringLiteral("/blog/credits-and-acknowledgements/"));
}

void AboutWindow::openUninstallHelp()
{
    openPage(QStringLiteral("http"), QStringLiteral("/blog/how-to-uninstall-orvanta-software/"));
}

void AboutWindow::openLicense()
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/license.txt");
    if (QFileInfo::exists(path))
        openInDesktop(QUrl::fromLocalFile(path));
    else
        Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("License")),
                             translate(QStringLiteral("File not found!")));
}
