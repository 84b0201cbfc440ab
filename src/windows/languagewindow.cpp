#include "windows/languagewindow.h"

#include "text/textlines.h"
#include "text/textformat.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "platform/detachedstart.h"
#include "platform/webhost.h"
#include "i18n/languagechoice.h"
#include "core/restartscript.h"
#include "i18n/translate.h"

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
#include <QStyledItemDelegate>
#include <QStylePainter>
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
void FitLabel(QLabel *label, int width)
{
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > width && font.pixelSize() > kMinimumFontPixels)
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->adjustSize();
}

/* The text of an entry for a listed file name: the part before ".lang.txt", or empty. */
QString EntryOfFile(const QString &fileName)
{
    const qsizetype suffix = fileName.indexOf(kLanguageFileSuffix);
    return suffix < 0 ? QString() : fileName.first(suffix);
}

/* The translators named in the language file of entry; empty when it cannot be read. */
QString TranslatorsOf(const QString &entry)
{
    if (entry == kEnglish)
        return QStringLiteral("Orvanta");
    TextLines lines;
    if (!ReadTextLines(LanguagesDir() + u'/' + entry + kLanguageFileSuffix, TextEncoding::Utf8, lines, nullptr))
        return QString();
    return LookupInLines(kTranslatorsKey, lines.toStringList());
}

/* Draws the list's entries through the window's ComboBox1DrawItem, on the colours of their state. */
class FlagItemDelegate : public QStyledItemDelegate
{
public:
    FlagItemDelegate(TTranslateForm *form, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_form(form)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        painter->save();
        painter->fillRect(option.rect, option.palette.brush(selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        m_form->ComboBox1DrawItem(*painter, index.row(), option.rect);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        return QSize(kImageWidth + option.fontMetrics.horizontalAdvance(text) + 4, kItemHeight);
    }

private:
    TTranslateForm *m_form;
};

/* A drop-down list whose closed box shows the selected entry drawn like the list's entries. */
class FlagComboBox : public QComboBox
{
public:
    FlagComboBox(TTranslateForm *form, QWidget *parent)
        : QComboBox(parent)
        , m_form(form)
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
        m_form->ComboBox1DrawItem(painter, currentIndex(), item);
    }

private:
    TTranslateForm *m_form;
};

} // namespace

TTranslateForm::ScriptStarter TTranslateForm::StartScript =
    [](const QString &program, const QStringList &arguments, const QString &workingFolder) {
        return StartDetached(program, arguments, workingFolder);
    };

TTranslateForm::TTranslateForm(LanguageFileSetter setLanguageFile, const QString &dataDir, QWidget *parent)
    : QDialog(parent)
    , m_setLanguageFile(std::move(setLanguageFile))
    , m_dataDir(dataDir.endsWith(u'/') ? dataDir : dataDir + u'/')
{
    InitIconResources();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(RoleIcon(QStringLiteral("flag")));
    setFont(PixelFont(11));
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    FormCreate();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TTranslateForm::CreateControls()
{
    Label1 = new QLabel(this);
    Label2 = new QLabel(this);
    for (QLabel *label : {Label1, Label2}) {
        label->setFont(PixelFont(16));
        label->setTextFormat(Qt::PlainText);
    }

    ComboBox1 = new FlagComboBox(this, this);
    ComboBox1->setFont(PixelFont(13));
    ComboBox1->setItemDelegate(new FlagItemDelegate(this, ComboBox1));
    ComboBox1->addItem(kEnglish);
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(kListLeft, 8, 350, std::max(ComboBox1->sizeHint().height(), kItemHeight + 6));

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setFont(PixelFont(16));
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette face = RichEdit1->palette();
    face.setBrush(QPalette::Base, face.brush(QPalette::Button));
    RichEdit1->setPalette(face);
    RichEdit1->setPlainText(QStringLiteral("Orvanta"));
    RichEdit1->setGeometry(kListLeft, 42, 350, 130);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(0, kClientHeight - kButtonPanelHeight, kClientWidth, kButtonPanelHeight);
    Panel2 = new QFrame(this);
    Panel2->setGeometry(0, kClientHeight - kButtonPanelHeight - 1, kClientWidth, 1);
    Panel2->setAutoFillBackground(true);
    QPalette line = Panel2->palette();
    line.setBrush(QPalette::Window, line.brush(QPalette::Mid));
    Panel2->setPalette(line);

    Label3 = new QLabel(Panel1);
    QFont linkFont = PixelFont(16);
    linkFont.setUnderline(true);
    Label3->setFont(linkFont);
    Label3->setTextFormat(Qt::PlainText);
    QPalette blue = Label3->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label3->setPalette(blue);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setToolTip(TranslationPageAddress());
    Label3->installEventFilter(this);

    BitBtn1 = new QPushButton(Panel1);
    BitBtn2 = new QPushButton(Panel1);
    BitBtn1->setGeometry(kListLeft, 6, 165, 33);
    BitBtn2->setGeometry(448, 6, 165, 33);
    for (QPushButton *button : {BitBtn1, BitBtn2})
        button->setFont(PixelFont(16));
    BitBtn1->setDefault(true);

    setTabOrder(ComboBox1, RichEdit1);
    setTabOrder(RichEdit1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this, &TTranslateForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TTranslateForm::BitBtn2Click);
}

void TTranslateForm::FormCreate()
{
    setWindowTitle(Translate(QStringLiteral("Language")));
    Label1->setText(Translate(QStringLiteral("User Interface Language:")));
    Label2->setText(Translate(QStringLiteral("Translated by:")));
    BitBtn1->setText(Translate(QStringLiteral("OK")));
    BitBtn2->setText(Translate(QStringLiteral("Cancel")));
    Label3->setText(Translate(QStringLiteral("Contribute to Translation")));
    // A long translation gets a smaller font rather than running under the controls beside it.
    for (QLabel *label : {Label1, Label2, Label3})
        FitLabel(label, kListLeft - 2 * kLabelLeft);
    Label1->move(kLabelLeft, 8);
    Label2->move(kLabelLeft, 45);
    Label3->move(kLabelLeft, (kButtonPanelHeight - Label3->height()) / 2);

    for (const QString &file : LanguageFiles())
        AddSorted(EntryOfFile(file));
    const QString active = LanguageName();
    for (int i = 0; i < ComboBox1->count(); ++i) {
        if (ComboBox1->itemText(i) == active) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    }
    ComboBox1Change();
    m_initialLanguage = ComboBox1->currentText();
    // Connected only now: the selection made above is not a change by the user.
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TTranslateForm::ComboBox1Change);
}

void TTranslateForm::AddSorted(const QString &entry)
{
    // Alphabetical without regard to letter case; an entry goes after those equal to it.
    // The selected entry stays selected when entries are inserted before it.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    int at = 0;
    while (at < ComboBox1->count() && collator.compare(ComboBox1->itemText(at), entry) <= 0)
        ++at;
    ComboBox1->insertItem(at, entry);
}

QString TTranslateForm::FlagImageName(const QString &entry)
{
    for (const auto &[language, image] : kLanguageFlags) {
        if (entry == language)
            return image;
    }
    return QStringLiteral("xx");
}

const QStringList &TTranslateForm::FlagImageNames()
{
    static const QStringList names = {
        QStringLiteral("xx"), QStringLiteral("flag"), QStringLiteral("de"), QStringLiteral("fr"),
        QStringLiteral("tr"), QStringLiteral("al"),   QStringLiteral("sa"), QStringLiteral("bg"),
        QStringLiteral("cn"), QStringLiteral("tw"),   QStringLiteral("cz"), QStringLiteral("nl"),
        QStringLiteral("fi"), QStringLiteral("gr"),   QStringLiteral("il"), QStringLiteral("hu"),
        QStringLiteral("it"), QStringLiteral("jp"),   QStringLiteral("kr"), QStringLiteral("ir"),
        QStringLiteral("pl"), QStringLiteral("br"),   QStringLiteral("pt"), QStringLiteral("ru"),
        QStringLiteral("si"), QStringLiteral("es"),   QStringLiteral("se"), QStringLiteral("ua"),
        QStringLiteral("us"),
    };
    return names;
}

QPixmap TTranslateForm::FlagImage(const QString &name)
{
    const QString key = QStringLiteral("tessaly-flag-") + name;
    QPixmap cell;
    if (QPixmapCache::find(key, &cell))
        return cell;
    InitIconResources();
    if (name == QStringLiteral("xx")) {
        // A globe for a language whose country is not known.
        cell = RoleIcon(QStringLiteral("world")).pixmap(QSize(kImageWidth, kImageWidth), 1.0);
    } else if (name == QStringLiteral("flag")) {
        // English is spoken in many countries, so it has a plain flag rather than one of them.
        cell = RoleIcon(QStringLiteral("flag")).pixmap(QSize(kImageWidth, kImageWidth), 1.0);
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

QString TTranslateForm::TranslationPageAddress()
{
    return QStringLiteral("https://") + WebHost() + QStringLiteral("/translation/");
}

// ---- handlers ---------------------------------------------------------------------------------

void TTranslateForm::ComboBox1Change()
{
    const QString names = TranslatorsOf(ComboBox1->currentText());
    RichEdit1->clear();
    if (names.isEmpty())
        return;
    for (const QString &name : names.split(u','))
        RichEdit1->appendPlainText(TrimControlAndBlank(name));
}

void TTranslateForm::ComboBox1DrawItem(QPainter &painter, int index, const QRect &rect)
{
    const QString text = ComboBox1->itemText(index);
    painter.drawPixmap(rect.topLeft(), FlagImage(FlagImageName(text)));
    const QRect textRect(rect.left() + kImageWidth, rect.top(), rect.width() - kImageWidth, rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void TTranslateForm::BitBtn1Click()
{
    const QString entry = ComboBox1->currentText();
    if (entry == m_initialLanguage) {
        close();
        return;
    }
    const QMessageBox::StandardButton answer = Dialogs::ShowCaptionedDialog(
        this, Translate(QStringLiteral("Restart Application?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, Translate(QStringLiteral("Confirmation")),
        {Translate(QStringLiteral("Yes")), Translate(QStringLiteral("No"))});
    if (answer == QMessageBox::Yes)
        Restart(entry);
}

void TTranslateForm::Restart(const QString &entry)
{
    // A step that fails is reported and ends the restart there; the program keeps running.
    // When only the script could not be written, the choice is stored already and takes
    // effect at the next start.
    QString error;
    if (!m_setLanguageFile(entry + kLanguageFileSuffix, &error)) {
        Dialogs::ShowMessage(this, MessageIcon::Error, Translate(QStringLiteral("ERROR")), error);
        return;
    }
    QCoreApplication::processEvents();
    const QString script = WriteRestartScript(m_dataDir, QCoreApplication::applicationFilePath(), &error);
    if (script.isEmpty()) {
        Dialogs::ShowMessage(this, MessageIcon::Error, Translate(QStringLiteral("ERROR")), error);
        return;
    }
    QCoreApplication::processEvents();
    // The script runs through the shell, so a data folder that does not allow running
    // programs still restarts. When it cannot be started the program ends all the same, and
    // the stored language takes effect at the next start by hand.
    if (!StartScript(QStringLiteral("/bin/sh"), {script}, m_dataDir))
        std::fprintf(stderr, "%s\n", qPrintable(QStringLiteral("Cannot start \"%1\".").arg(script)));
    QCoreApplication::processEvents();
    QCoreApplication::quit();
}

void TTranslateForm::BitBtn2Click()
{
    reject();
}

void TTranslateForm::Label3Click()
{
    // A failure to open the page is not reported.
    QDesktopServices::openUrl(QUrl(TranslationPageAddress()));
}

bool TTranslateForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && Label3->rect().contains(mouse->position().toPoint())) {
            Label3Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
