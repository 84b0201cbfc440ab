#include "windows/aboutwindow.h"

#include "i18n/translate.h"
#include "platform/webhost.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"

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
    nameControls();
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::createControls(const QString &description, const QString &version)
{
    m_contentPanel = new QWidget(this);
    m_contentPanel->setGeometry(48, 42, 350, 291);
    m_contentPanel->setAutoFillBackground(true);

    m_logoImage = plainLabel(m_contentPanel, QRect(QPoint(3, 3), logoSize));
    m_logoImage->setScaledContents(true);

    m_separatorLine = new QFrame(m_contentPanel);
    m_separatorLine->setGeometry(9, 122, 34, 34);
    m_separatorLine->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_iconImage = plainLabel(m_contentPanel, QRect(10, 123, 32, 32));
    m_iconImage->setAlignment(Qt::AlignCenter);
    m_iconImage->setPixmap(roleIcon(QStringLiteral("tessaly")).pixmap(QSize(32, 32)));

    m_versionLabel = plainLabel(m_contentPanel, QRect(49, 122, 290, 40));
    m_versionLabel->setWordWrap(true);
    m_versionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_versionLabel->setFont(pixelFont(16));
    m_versionLabel->setText(description + u' ' + version);

    m_okButton = whiteButton(m_contentPanel, QRect(49, 224, 122, 33));
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &AboutWindow::onOkClicked);
    m_infoButton = whiteButton(m_contentPanel, QRect(177, 224, 122, 33));
    m_infoButton->setIcon(roleIcon(QStringLiteral("arrow")));
    m_infoButton->setLayoutDirection(Qt::RightToLeft); // the arrow at the right of the caption
    connect(m_infoButton, &QPushButton::clicked, this, &AboutWindow::onInfoClicked);
    setTabOrder(m_okButton, m_infoButton);

    // The link: bottom of the panel, text centred, lime and underlined.
    QFont linkFont = pixelFont(11, QStringLiteral("MS Sans Serif"));
    linkFont.setUnderline(true);
    const int linkHeight = QFontMetrics(linkFont).height() + 2;
    m_webLinkLabel = plainLabel(m_contentPanel,
                                QRect(0, m_contentPanel->height() - linkHeight, m_contentPanel->width(), linkHeight));
    m_webLinkLabel->setFont(linkFont);
    m_webLinkLabel->setAlignment(Qt::AlignCenter);
    QPalette linkPalette = m_webLinkLabel->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0x00, 0xff, 0x00));
    m_webLinkLabel->setPalette(linkPalette);
    m_webLinkLabel->setCursor(Qt::PointingHandCursor);
    m_webLinkLabel->setText(webHost());
    m_webLinkLabel->setToolTip(QStringLiteral("http://") + webHost() + u'/');
    m_webLinkLabel->installEventFilter(this);

    m_infoMenu = new QMenu(this);
    m_creditsAction = m_infoMenu->addAction(QString());
    m_uninstallAction = m_infoMenu->addAction(QString());
    m_licenseAction = m_infoMenu->addAction(QString());
    connect(m_creditsAction, &QAction::triggered, this, &AboutWindow::openCredits);
    connect(m_uninstallAction, &QAction::triggered, this, &AboutWindow::openUninstallHelp);
    connect(m_licenseAction, &QAction::triggered, this, &AboutWindow::openLicense);

    m_rainTimer = new QTimer(this);
    m_rainTimer->setInterval(kTickInterval);
    connect(m_rainTimer, &QTimer::timeout, this, &AboutWindow::onRainTimer);
}

void AboutWindow::translateCaptions(const QString &description)
{
    setWindowTitle(formatText(translate(QStringLiteral("About %s")), description));
    m_okButton->setText(translateCaption(QStringLiteral("&OK")));
    m_infoButton->setText(translateCaption(QStringLiteral("&Info")));
    m_creditsAction->setText(translateCaption(QStringLiteral("&Acknowledgements...")));
    m_uninstallAction->setText(translateCaption(QStringLiteral("&How to uninstall...")));
    m_licenseAction->setText(translateCaption(QStringLiteral("&License...")));
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
    m_rainTimer->start();
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
    update(changed.subtracted(QRegion(m_contentPanel->geometry())));
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
    m_rainTimer->start();
}

void AboutWindow::hideEvent(QHideEvent *event)
{
    m_rainTimer->stop();
    QDialog::hideEvent(event);
}

void AboutWindow::loadLogoForScreen()
{
    m_logoImage->clear();
    const qreal ratio = devicePixelRatioF();
    QImageReader reader(QStringLiteral(":/about/logo.svg"));
    reader.setScaledSize(logoSize * ratio);
    QPixmap logo = QPixmap::fromImage(reader.read());
    logo.setDevicePixelRatio(ratio);
    m_logoImage->setPixmap(logo);
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
    if (watched == m_webLinkLabel) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && m_webLinkLabel->rect().contains(mouse->position().toPoint()))
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
    m_menuUnderButton.show(m_infoButton, m_infoMenu);
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

void AboutWindow::nameControls()
{
    setObjectNames({
        {m_contentPanel, "contentPanel"},
        {m_logoImage, "logoImage"},
        {m_separatorLine, "separatorLine"},
        {m_iconImage, "iconImage"},
        {m_versionLabel, "versionLabel"},
        {m_okButton, "okButton"},
        {m_infoButton, "infoButton"},
        {m_webLinkLabel, "webLinkLabel"},
        {m_infoMenu, "infoMenu"},
        {m_creditsAction, "creditsAction"},
        {m_uninstallAction, "uninstallAction"},
        {m_licenseAction, "licenseAction"},
        {m_rainTimer, "rainTimer"},
    });
}
