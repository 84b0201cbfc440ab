#include "windows/languagewindow.h"

#include "core/restartscript.h"
#include "i18n/languagechoice.h"
#include "i18n/translate.h"
#include "platform/detachedstart.h"
#include "platform/webhost.h"
#include "text/textformat.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"

#include <QAbstractItemView>
#include <QCollator>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QUrl>

#include <cstdio>

namespace {

constexpr int kClientWidth = 622;
constexpr int kClientHeight = 227;
constexpr int kButtonPanelHeight = 45;
constexpr int kItemHeight = 18;
constexpr int kImageWidth = 16; // the width of every flag image, and the text's indent
constexpr int kListLeft = 263;  // the list, the translators box and the OK button start here
constexpr int kLabelLeft = 8;
constexpr int kMinimumFontPixels = 9;

const QString kEnglish = QStringLiteral("English");
const QString kLanguageFileSuffix = QStringLiteral(".lang.txt");
const QString kTranslatorsKey = QStringLiteral("INFO:Translated By");

/* Language names and the flag image each one is shown with; any other name has "xx". */
const std::pair<QString, QString> kLanguageFlags[] = {
    {QStringLiteral("English"), QStringLiteral("flag")},
    {QStringLiteral("German"), QStringLiteral("de")},
    {QStringLiteral("French"), QStringLiteral("fr")},
    {QStringLiteral("Turkish"), QStringLiteral("tr")},
    {QStringLiteral("Albanian"), QStringLiteral("al")},
    {QStringLiteral("Arabic"), QStringLiteral("sa")},
    {QStringLiteral("Bulgarian"), QStringLiteral("bg")},
    {QStringLiteral("ChineseSimplified"), QStringLiteral("cn")},
    {QStringLiteral("ChineseTraditional"), QStringLiteral("tw")},
    {QStringLiteral("Czech"), QStringLiteral("cz")},
    {QStringLiteral("Dutch"), QStringLiteral("nl")},
    {QStringLiteral("Finnish"), QStringLiteral("fi")},
    {QStringLiteral("Greek"), QStringLiteral("gr")},
    {QStringLiteral("Hebrew"), QStringLiteral("il")},
    {QStringLiteral("Hungarian"), QStringLiteral("hu")},
    {QStringLiteral("Italian"), QStringLiteral("it")},
    {QStringLiteral("Japanese"), QStringLiteral("jp")},
    {QStringLiteral("Korean"), QStringLiteral("kr")},
    {QStringLiteral("Persian"), QStringLiteral("ir")},
    {QStringLiteral("Polish"), QStringLiteral("pl")},
    {QStringLiteral("PortugueseBrazil"), QStringLiteral("br")},
    {QStringLiteral("PortuguesePortugal"), QStringLiteral("pt")},
    {QStringLiteral("Russian"), QStringLiteral("ru")},
    {QStringLiteral("Slovenian"), QStringLiteral("si")},
    {QStringLiteral("Spanish"), QStringLiteral("es")},
    {QStringLiteral("Swedish"), QStringLiteral("se")},
    {QStringLiteral("Ukrainian"), QStringLiteral("ua")},
};

/* Makes a label's font smaller, when its text is wider than width, until the text fits. */
void fitLabel(QLabel *label, int width)
{
    QFont font = label->font();
    const QString shown = label->buddy() ? withoutMnemonic(label->text()) : label->text();
    while (QFontMetrics(font).horizontalAdvance(shown) > width && font.pixelSize() > kMinimumFontPixels)
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->adjustSize();
}

/* The text of an entry for a listed file name: the part before ".lang.txt", or empty. */
QString entryOfFile(const QString &fileName)
{
    const qsizetype suffix = fileName.indexOf(kLanguageFileSuffix);
    return suffix < 0 ? QString() : fileName.first(suffix);
}

/* The translators named in the language file of entry; empty when it cannot be read. */
QString translatorsOf(const QString &entry)
{
    if (entry == kEnglish)
        return QStringLiteral("Orvanta");
    QStringList lines;
    if (!readLanguageLines(languagesDir() + u'/' + entry + kLanguageFileSuffix, lines))
        return QString();
    return lookupInLines(kTranslatorsKey, lines);
}

/* Draws the list's entries through the window's drawLanguageItem, on the colours of their state. */
class FlagItemDelegate : public QStyledItemDelegate
{
public:
    FlagItemDelegate(LanguageWindow *window, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_window(window)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        painter->save();
        painter->fillRect(option.rect, option.palette.brush(selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        m_window->drawLanguageItem(*painter, index.row(), option.rect);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        return QSize(kImageWidth + option.fontMetrics.horizontalAdvance(text) + 4, kItemHeight);
    }

private:
    LanguageWindow *m_window;
};

/* A drop-down list whose closed box shows the selected entry drawn like the list's entries. */
class FlagComboBox : public QComboBox
{
public:
    FlagComboBox(LanguageWindow *window, QWidget *parent)
        : QComboBox(parent)
        , m_window(window)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText.clear();
        option.currentIcon = QIcon();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        if (currentIndex() < 0)
            return;
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        // The entry sits in the middle of the field; with the focus it is highlighted, as the
        // selected entry of a drop-down list is.
        const QRect item(field.left(), field.top() + (field.height() - kItemHeight) / 2, field.width(), kItemHeight);
        const bool highlighted = hasFocus() && !view()->isVisible();
        if (highlighted)
            painter.fillRect(item, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(highlighted ? QPalette::HighlightedText : QPalette::Text));
        m_window->drawLanguageItem(painter, currentIndex(), item);
    }

private:
    LanguageWindow *m_window;
};

} // namespace

LanguageWindow::ScriptStarter LanguageWindow::startScript
    = [](const QString &program, const QStringList &arguments, const QString &workingFolder) {
          return startDetached(program, arguments, workingFolder);
      };

LanguageWindow::LanguageWindow(LanguageFileSetter setLanguageFile, const QString &dataDir, QWidget *parent)
    : QDialog(parent)
    , m_setLanguageFile(std::move(setLanguageFile))
    , m_dataDir(dataDir.endsWith(u'/') ? dataDir : dataDir + u'/')
{
    initIconResources();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(roleIcon(QStringLiteral("flag")));
    setFont(pixelFont(11));
    setFixedSize(kClientWidth, kClientHeight);
    createControls();
    fillLanguageList();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    nameControls();
}

void LanguageWindow::createControls()
{
    m_languageLabel = new QLabel(this);
    m_translatorsLabel = new QLabel(this);
    for (QLabel *label : {m_languageLabel, m_translatorsLabel}) {
        label->setFont(pixelFont(16));
        label->setTextFormat(Qt::PlainText);
    }

    m_languageCombo = new FlagComboBox(this, this);
    m_languageCombo->setFont(pixelFont(13));
    m_languageCombo->setItemDelegate(new FlagItemDelegate(this, m_languageCombo));
    m_languageCombo->addItem(kEnglish);
    m_languageCombo->setCurrentIndex(0);
    m_languageCombo->setGeometry(kListLeft, 8, 350, std::max(m_languageCombo->sizeHint().height(), kItemHeight + 6));
    m_languageLabel->setBuddy(m_languageCombo); // its Alt letter moves to the list

    m_translatorsText = new QPlainTextEdit(this);
    m_translatorsText->setFont(pixelFont(16));
    m_translatorsText->setReadOnly(true);
    m_translatorsText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_translatorsText->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_translatorsText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette face = m_translatorsText->palette();
    face.setBrush(QPalette::Base, face.brush(QPalette::Button));
    m_translatorsText->setPalette(face);
    m_translatorsText->setPlainText(QStringLiteral("Orvanta"));
    m_translatorsText->setGeometry(kListLeft, 42, 350, 130);

    m_buttonPanel = new QWidget(this);
    m_buttonPanel->setGeometry(0, kClientHeight - kButtonPanelHeight, kClientWidth, kButtonPanelHeight);
    m_bottomLine = new QFrame(this);
    m_bottomLine->setGeometry(0, kClientHeight - kButtonPanelHeight - 1, kClientWidth, 1);
    m_bottomLine->setAutoFillBackground(true);
    QPalette line = m_bottomLine->palette();
    line.setBrush(QPalette::Window, line.brush(QPalette::Mid));
    m_bottomLine->setPalette(line);

    m_contributeLink = new QLabel(m_buttonPanel);
    QFont linkFont = pixelFont(16);
    linkFont.setUnderline(true);
    m_contributeLink->setFont(linkFont);
    m_contributeLink->setTextFormat(Qt::PlainText);
    QPalette blue = m_contributeLink->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    m_contributeLink->setPalette(blue);
    m_contributeLink->setCursor(Qt::PointingHandCursor);
    m_contributeLink->setToolTip(translationPageAddress());
    m_contributeLink->installEventFilter(this);

    m_okButton = new QPushButton(m_buttonPanel);
    m_cancelButton = new QPushButton(m_buttonPanel);
    m_okButton->setGeometry(kListLeft, 6, 165, 33);
    m_cancelButton->setGeometry(448, 6, 165, 33);
    for (QPushButton *button : {m_okButton, m_cancelButton})
        button->setFont(pixelFont(16));
    m_okButton->setDefault(true);

    setTabOrder(m_languageCombo, m_translatorsText);
    setTabOrder(m_translatorsText, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);

    connect(m_okButton, &QPushButton::clicked, this, &LanguageWindow::onOkClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &LanguageWindow::onCancelClicked);
}

void LanguageWindow::fillLanguageList()
{
    setWindowTitle(translate(QStringLiteral("Language")));
    m_languageLabel->setText(translateCaption(QStringLiteral("&User Interface Language:")));
    m_translatorsLabel->setText(translate(QStringLiteral("Translated by:")));
    m_okButton->setText(translateCaption(QStringLiteral("&OK")));
    m_cancelButton->setText(translateCaption(QStringLiteral("&Cancel")));
    m_contributeLink->setText(translate(QStringLiteral("Contribute to Translation")));
    // A long translation gets a smaller font rather than running under the controls beside it.
    for (QLabel *label : {m_languageLabel, m_translatorsLabel, m_contributeLink})
        fitLabel(label, kListLeft - 2 * kLabelLeft);
    m_languageLabel->move(kLabelLeft, 8);
    m_translatorsLabel->move(kLabelLeft, 45);
    m_contributeLink->move(kLabelLeft, (kButtonPanelHeight - m_contributeLink->height()) / 2);

    for (const QString &file : languageFiles())
        addSorted(entryOfFile(file));
    const QString active = languageName();
    for (int i = 0; i < m_languageCombo->count(); ++i) {
        if (m_languageCombo->itemText(i) == active) {
            m_languageCombo->setCurrentIndex(i);
            break;
        }
    }
    onLanguageChanged();
    m_initialLanguage = m_languageCombo->currentText();
    // Connected only now: the selection made above is not a change by the user.
    connect(m_languageCombo, &QComboBox::currentIndexChanged, this, &LanguageWindow::onLanguageChanged);
}

void LanguageWindow::addSorted(const QString &entry)
{
    // Alphabetical without regard to letter case; an entry goes after those equal to it.
    // The selected entry stays selected when entries are inserted before it.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    int at = 0;
    while (at < m_languageCombo->count() && collator.compare(m_languageCombo->itemText(at), entry) <= 0)
        ++at;
    m_languageCombo->insertItem(at, entry);
}

QString LanguageWindow::flagImageName(const QString &entry)
{
    for (const auto &[language, image] : kLanguageFlags) {
        if (entry == language)
            return image;
    }
    return QStringLiteral("xx");
}

const QStringList &LanguageWindow::flagImageNames()
{
    static const QStringList names = {
        QStringLiteral("xx"), QStringLiteral("flag"), QStringLiteral("de"), QStringLiteral("fr"), QStringLiteral("tr"),
        QStringLiteral("al"), QStringLiteral("sa"),   QStringLiteral("bg"), QStringLiteral("cn"), QStringLiteral("tw"),
        QStringLiteral("cz"), QStringLiteral("nl"),   QStringLiteral("fi"), QStringLiteral("gr"), QStringLiteral("il"),
        QStringLiteral("hu"), QStringLiteral("it"),   QStringLiteral("jp"), QStringLiteral("kr"), QStringLiteral("ir"),
        QStringLiteral("pl"), QStringLiteral("br"),   QStringLiteral("pt"), QStringLiteral("ru"), QStringLiteral("si"),
        QStringLiteral("es"), QStringLiteral("se"),   QStringLiteral("ua"), QStringLiteral("us"),
    };
    return names;
}

QPixmap LanguageWindow::flagImage(const QString &name)
{
    const QString key = QStringLiteral("tessaly-flag-") + name;
    QPixmap cell;
    if (QPixmapCache::find(key, &cell))
        return cell;
    initIconResources();
    if (name == QStringLiteral("xx")) {
        // A globe for a language whose country is not known.
        cell = roleIcon(QStringLiteral("world")).pixmap(QSize(kImageWidth, kImageWidth), 1.0);
    } else if (name == QStringLiteral("flag")) {
        // English is spoken in many countries, so it has a plain flag rather than one of them.
        cell = roleIcon(QStringLiteral("flag")).pixmap(QSize(kImageWidth, kImageWidth), 1.0);
    } else {
        const QPixmap flag(QStringLiteral(":/flags/") + name + QStringLiteral(".png"));
        cell = QPixmap(kImageWidth, kImageWidth);
        cell.fill(Qt::transparent);
        QPainter painter(&cell);
        painter.drawPixmap(0, (kImageWidth - flag.height()) / 2, flag);
    }
    QPixmapCache::insert(key, cell);
    return cell;
}

QString LanguageWindow::translationPageAddress()
{
    return QStringLiteral("https://") + webHost() + QStringLiteral("/translation/");
}

// ---- handlers ---------------------------------------------------------------------------------

void LanguageWindow::onLanguageChanged()
{
    const QString names = translatorsOf(m_languageCombo->currentText());
    m_translatorsText->clear();
    if (names.isEmpty())
        return;
    for (const QString &name : names.split(u','))
        m_translatorsText->appendPlainText(trimControlAndBlank(name));
}

void LanguageWindow::drawLanguageItem(QPainter &painter, int index, const QRect &rect)
{
    const QString text = m_languageCombo->itemText(index);
    painter.drawPixmap(rect.topLeft(), flagImage(flagImageName(text)));
    const QRect textRect(rect.left() + kImageWidth, rect.top(), rect.width() - kImageWidth, rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void LanguageWindow::onOkClicked()
{
    const QString entry = m_languageCombo->currentText();
    if (entry == m_initialLanguage) {
        close();
        return;
    }
    const QMessageBox::StandardButton answer = Dialogs::showCaptionedDialog(
        this, translate(QStringLiteral("Restart Application?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, translate(QStringLiteral("Confirmation")),
        {translateCaption(QStringLiteral("&Yes")), translateCaption(QStringLiteral("&No"))});
    if (answer == QMessageBox::Yes)
        restartInLanguage(entry);
}

void LanguageWindow::restartInLanguage(const QString &entry)
{
    // A step that fails is reported and ends the restart there; the program keeps running.
    // When only the script could not be written, the choice is stored already and takes
    // effect at the next start.
    QString error;
    if (!m_setLanguageFile(entry + kLanguageFileSuffix, &error)) {
        Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("ERROR")), error);
        return;
    }
    QCoreApplication::processEvents();
    const QString script = writeRestartScript(m_dataDir, QCoreApplication::applicationFilePath(), &error);
    if (script.isEmpty()) {
        Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("ERROR")), error);
        return;
    }
    QCoreApplication::processEvents();
    // The script runs through the shell, so a data folder that does not allow running
    // programs still restarts. When it cannot be started the program ends all the same, and
    // the stored language takes effect at the next start by hand.
    if (!startScript(QStringLiteral("/bin/sh"), {script}, m_dataDir))
        std::fprintf(stderr, "%s\n", qPrintable(QStringLiteral("Cannot start \"%1\".").arg(script)));
    QCoreApplication::processEvents();
    QCoreApplication::quit();
}

void LanguageWindow::onCancelClicked()
{
    reject();
}

void LanguageWindow::onContributeClicked()
{
    // A failure to open the page is not reported.
    QDesktopServices::openUrl(QUrl(translationPageAddress()));
}

bool LanguageWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_contributeLink && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_contributeLink->rect().contains(mouse->position().toPoint())) {
            onContributeClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LanguageWindow::nameControls()
{
    setObjectNames({
        {m_languageLabel, "languageLabel"},
        {m_languageCombo, "languageCombo"},
        {m_translatorsLabel, "translatorsLabel"},
        {m_translatorsText, "translatorsText"},
        {m_bottomLine, "bottomLine"},
        {m_buttonPanel, "buttonPanel"},
        {m_contributeLink, "contributeLink"},
        {m_okButton, "okButton"},
        {m_cancelButton, "cancelButton"},
    });
}
