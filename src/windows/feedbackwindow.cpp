#include "windows/feedbackwindow.h"

#include "i18n/translate.h"
#include "online/emailcheck.h"
#include "online/webrequest.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

constexpr int kMemoMaxLength = 10000;
constexpr int kAddressMaxLength = 100;
constexpr int kFeedbackTimeoutMs = 3000;

// The panels' captions; without the mnemonic they are also the phrases sent.
const QString kLikeCaption = QStringLiteral("I &like it!");
const QString kDislikeCaption = QStringLiteral("I &dislike it!");

/* Removes leading and trailing blanks, tabs, line breaks and other control characters. */
QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

QLabel *plainLabel(const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

QFont boldPixelFont(int pixels)
{
    QFont font = pixelFont(pixels);
    font.setBold(true);
    return font;
}

/*
 * A choice panel: chosen by a click, or from the keyboard by Space once Tab has reached it.
 * Reached from the keyboard, it shows its focus as a dotted line in its text colour, which
 * stands out on the chosen look's highlight as on the normal look.
 */
class ChoicePanel : public QFrame
{
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QFrame::paintEvent(event);
        if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange))
            return;
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.drawRect(contentsRect().adjusted(1, 1, -2, -2));
    }
};

} // namespace

FeedbackWindow::FeedbackWindow(const FeedbackProgram &program, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_program(program)
{
    setFixedSize(525, 326);
    setFont(pixelFont(13));
    setWindowTitle(m_program.description + u' ' + translate(QStringLiteral("feedback")));

    m_likePanel = addChoicePanel(QStringLiteral("like"), &m_likeImage);
    m_dislikePanel = addChoicePanel(QStringLiteral("dislike"), &m_dislikeImage);
    m_likePanel->findChild<QLabel *>(QStringLiteral("caption"))->setText(translateCaption(kLikeCaption));
    m_dislikePanel->findChild<QLabel *>(QStringLiteral("caption"))->setText(translateCaption(kDislikeCaption));

    m_introLabel = plainLabel(pixelFont(16), this);
    m_introLabel->setText(translate(QStringLiteral("We would really appreciate your feedback.")));
    m_questionLabel = plainLabel(boldPixelFont(13), this);
    m_questionLabel->setText(translate(QStringLiteral("What did you like or dislike?")));

    m_feedbackEdit = new QPlainTextEdit(this);
    m_feedbackEdit->setFont(pixelFont(13));
    m_feedbackEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_feedbackEdit->setTabChangesFocus(true);
    connect(m_feedbackEdit->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int charsAdded) { limitMemoLength(position, charsAdded); });

    m_emailLabel = plainLabel(pixelFont(13), this);
    m_emailLabel->setText(translateCaption(QStringLiteral("Include my &e-mail:")));
    m_emailEdit = new QLineEdit(this);
    m_emailEdit->setMaxLength(kAddressMaxLength);
    m_emailLabel->setBuddy(m_emailEdit);

    m_sendButton = new QPushButton(roleIcon(QStringLiteral("send")), translateCaption(QStringLiteral("&Send")), this);
    m_sendButton->setFont(boldPixelFont(13));
    m_sendButton->setFixedSize(180, 34);
    m_sendButton->setDefault(true);
    connect(m_sendButton, &QPushButton::clicked, this, &FeedbackWindow::onSendClicked);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(8);
    choices->addWidget(m_likePanel);
    choices->addWidget(m_dislikePanel);
    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(m_emailLabel);
    addressRow->addWidget(m_emailEdit, 1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_sendButton);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);
    column->addLayout(choices);
    column->addSpacing(2);
    column->addWidget(m_introLabel);
    column->addWidget(m_questionLabel);
    column->addWidget(m_feedbackEdit, 1);
    column->addLayout(addressRow);
    column->addLayout(buttonRow);

    setTabOrder(m_likePanel, m_dislikePanel);
    setTabOrder(m_dislikePanel, m_feedbackEdit);
    setTabOrder(m_feedbackEdit, m_emailEdit);
    setTabOrder(m_emailEdit, m_sendButton);
    m_feedbackEdit->setFocus();

    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    QRect centred = rect();
    centred.moveCenter(screen->availableGeometry().center());
    move(centred.topLeft());
    nameControls();
}

/* A clickable panel with a 32 by 32 picture at its left and its caption beside it. */
QFrame *FeedbackWindow::addChoicePanel(const QString &role, QLabel **image)
{
    auto *panel = new ChoicePanel(this);
    panel->setFocusPolicy(Qt::StrongFocus);
    panel->setFixedHeight(40);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    panel->setCursor(Qt::PointingHandCursor);
    panel->installEventFilter(this);

    *image = new QLabel(panel);
    (*image)->setFixedSize(32, 32);
    (*image)->setScaledContents(true);
    (*image)->setPixmap(
        roleIcon(role).pixmap(QSize(16, 16)).scaled(32, 32, Qt::KeepAspectRatio, Qt::FastTransformation));
    auto *caption = plainLabel(pixelFont(16), panel);
    caption->setObjectName(QStringLiteral("caption"));
    // The caption's Alt letter moves the focus to the panel; eventFilter chooses it as well.
    caption->setBuddy(panel);
    caption->installEventFilter(this);
    // Clicks on the picture and the caption are clicks on the panel.
    (*image)->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(8);
    row->addWidget(*image);
    row->addWidget(caption, 1);
    setChosenLook(panel, false);
    return panel;
}

void FeedbackWindow::setChosenLook(QFrame *panel, bool chosen)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, palette().color(chosen ? QPalette::Highlight : QPalette::Button));
    colours.setColor(QPalette::WindowText, palette().color(chosen ? QPalette::HighlightedText : QPalette::WindowText));
    panel->setPalette(colours);
    panel->setFrameStyle(QFrame::Panel | (chosen ? QFrame::Sunken : QFrame::Raised));
}

bool FeedbackWindow::isChosen(const QFrame *panel) const
{
    return panel->palette().color(QPalette::Window) != palette().color(QPalette::Button);
}

QString FeedbackWindow::panelCaption(const QFrame *panel) const
{
    return withoutMnemonic(panel->findChild<QLabel *>(QStringLiteral("caption"))->text());
}

void FeedbackWindow::onLikeClicked()
{
    if (!isChosen(m_likePanel))
        setChosenLook(m_likePanel, true);
    if (isChosen(m_dislikePanel))
        setChosenLook(m_dislikePanel, false);
}

void FeedbackWindow::onDislikeClicked()
{
    if (!isChosen(m_dislikePanel))
        setChosenLook(m_dislikePanel, true);
    if (isChosen(m_likePanel))
        setChosenLook(m_likePanel, false);
}

bool FeedbackWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Shortcut && watched->parent() == m_likePanel)
        onLikeClicked();
    if (event->type() == QEvent::Shortcut && watched->parent() == m_dislikePanel)
        onDislikeClicked();
    if ((watched == m_likePanel || watched == m_dislikePanel) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Select) {
            if (watched == m_likePanel)
                onLikeClicked();
            else
                onDislikeClicked();
            return true;
        }
    }
    if ((watched == m_likePanel || watched == m_dislikePanel) && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const auto *panel = static_cast<QFrame *>(watched);
        if (mouse->button() == Qt::LeftButton && panel->rect().contains(mouse->position().toPoint())) {
            if (panel == m_likePanel)
                onLikeClicked();
            else
                onDislikeClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

/* Keeps the comment within its maximum length by cutting what was just typed or pasted. */
void FeedbackWindow::limitMemoLength(int position, int charsAdded)
{
    const int length = m_feedbackEdit->document()->characterCount() - 1; // without the closing paragraph mark
    const int excess = length - kMemoMaxLength;
    if (excess <= 0 || charsAdded <= 0)
        return;
    const int cut = qMin(excess, charsAdded);
    QTextCursor cursor(m_feedbackEdit->document());
    cursor.setPosition(position + charsAdded - cut);
    cursor.setPosition(position + charsAdded, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

/* The English phrase of a panel, with its translated caption in brackets when that differs. */
QString FeedbackWindow::panelPhrase(const QString &english, const QFrame *panel) const
{
    const QString caption = panelCaption(panel);
    return caption == english ? english : english + QStringLiteral(" (") + caption + u')';
}

QString FeedbackWindow::feedbackText() const
{
    QString text;
    if (isChosen(m_likePanel))
        text = panelPhrase(withoutMnemonic(kLikeCaption), m_likePanel) + u'\r';
    else if (isChosen(m_dislikePanel))
        text = panelPhrase(withoutMnemonic(kDislikeCaption), m_dislikePanel) + u'\r';
    QString comment = m_feedbackEdit->toPlainText();
    comment.replace(u'\n', QStringLiteral("\r\n"));
    return text + trimBlanks(comment);
}

QStringList FeedbackWindow::requestFields(const QString &feedback, const QString &address) const
{
    QStringList fields{QStringLiteral("cmd=feedback"), QStringLiteral("appname=") + m_program.caption,
                       QStringLiteral("version=") + m_program.version, QStringLiteral("feedback=") + feedback};
    if (!address.isEmpty())
        fields.append(QStringLiteral("email=") + address);
    return fields;
}

bool FeedbackWindow::isDelivered(const QString &reply)
{
    return trimBlanks(splitReplyLines(reply).join(QStringLiteral("\r\n"))) == QStringLiteral("OK");
}

/* Posts the fields over HTTPS only; any failure of that request means not delivered. */
bool FeedbackWindow::sendFields(const QStringList &fields) const
{
    const PostResult reply = postToEndpoint(feedbackEndpoint(), fields, kFeedbackTimeoutMs);
    return reply.ok && isDelivered(reply.body);
}

void FeedbackWindow::onSendClicked()
{
    if (m_sending)
        return;
    const QString feedback = feedbackText();
    if (feedback.isEmpty()) {
        // Say why nothing was sent, and put the caret where the message belongs.
        Dialogs::beep();
        Dialogs::showMessage(this, MessageIcon::Warning, translate(QStringLiteral("Warning")),
                             translate(QStringLiteral("Write your message in the text box, then click Send again.")));
        m_feedbackEdit->setFocus();
        return;
    }
    const QString address = trimBlanks(m_emailEdit->text());
    if (!address.isEmpty() && !isValidEmail(address)) {
        Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("Failure")),
                             translate(QStringLiteral("Invalid e-mail address!")));
        return;
    }

    m_sending = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool delivered = sendFields(requestFields(feedback, address));
    QGuiApplication::restoreOverrideCursor();
    m_sending = false;

    if (delivered) {
        Dialogs::showMessage(this, MessageIcon::Information, translate(QStringLiteral("Success")),
                             translate(QStringLiteral("Your feedback is received.")) + QStringLiteral("\r\r")
                                 + translate(QStringLiteral("Thank you!")));
        accept();
        return;
    }
    Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("Failure")),
                         translate(QStringLiteral("Something went wrong. Your feedback could not be delivered."))
                             + QStringLiteral("\r\r") + translate(QStringLiteral("Please try again later.")));
}

void FeedbackWindow::nameControls()
{
    setObjectNames({
        {m_likePanel, "likePanel"},
        {m_likeImage, "likeImage"},
        {m_dislikePanel, "dislikePanel"},
        {m_dislikeImage, "dislikeImage"},
        {m_introLabel, "introLabel"},
        {m_questionLabel, "questionLabel"},
        {m_feedbackEdit, "feedbackEdit"},
        {m_emailLabel, "emailLabel"},
        {m_emailEdit, "emailEdit"},
        {m_sendButton, "sendButton"},
    });
}
