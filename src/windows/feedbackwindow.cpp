#include "windows/feedbackwindow.h"

#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "online/emailcheck.h"
#include "online/webrequest.h"
#include "i18n/translate.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

constexpr int MemoMaxLength = 10000;
constexpr int AddressMaxLength = 100;
constexpr int FeedbackTimeoutMs = 3000;

const QString LikePhrase = QStringLiteral("I like it!");
const QString DislikePhrase = QStringLiteral("I dislike it!");

/* Removes leading and trailing blanks, tabs, line breaks and other control characters. */
QString TrimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

QLabel *PlainLabel(const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

QFont BoldPixelFont(int pixels)
{
    QFont font = PixelFont(pixels);
    font.setBold(true);
    return font;
}

} // namespace

TFeedbackForm::TFeedbackForm(const FeedbackProgram &program, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_program(program)
{
    setFixedSize(525, 326);
    setFont(PixelFont(13));
    setWindowTitle(m_program.description + u' ' + Translate(QStringLiteral("feedback")));

    Panel4 = AddChoicePanel(QStringLiteral("like"), &Image1);
    Panel5 = AddChoicePanel(QStringLiteral("dislike"), &Image2);
    Panel4->findChild<QLabel *>(QStringLiteral("caption"))->setText(Translate(LikePhrase));
    Panel5->findChild<QLabel *>(QStringLiteral("caption"))->setText(Translate(DislikePhrase));

    Label1 = PlainLabel(PixelFont(16), this);
    Label1->setText(Translate(QStringLiteral("We would really appreciate your feedback.")));
    Label2 = PlainLabel(BoldPixelFont(13), this);
    Label2->setText(Translate(QStringLiteral("What did you like or dislike?")));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setFont(PixelFont(13));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    connect(Memo1->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int charsAdded) { LimitMemoLength(position, charsAdded); });

    Label3 = PlainLabel(PixelFont(13), this);
    Label3->setText(Translate(QStringLiteral("Include my e-mail:")));
    Edit1 = new QLineEdit(this);
    Edit1->setMaxLength(AddressMaxLength);
    Label3->setBuddy(Edit1);

    BitBtn1 = new QPushButton(RoleIcon(QStringLiteral("send")), Translate(QStringLiteral("Send")), this);
    BitBtn1->setFont(BoldPixelFont(13));
    BitBtn1->setFixedSize(180, 34);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &TFeedbackForm::BitBtn1Click);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(8);
    choices->addWidget(Panel4);
    choices->addWidget(Panel5);
    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(Label3);
    addressRow->addWidget(Edit1, 1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(BitBtn1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);
    column->addLayout(choices);
    column->addSpacing(2);
    column->addWidget(Label1);
    column->addWidget(Label2);
    column->addWidget(Memo1, 1);
    column->addLayout(addressRow);
    column->addLayout(buttonRow);

    setTabOrder(Memo1, Edit1);
    setTabOrder(Edit1, BitBtn1);
    Memo1->setFocus();

    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    QRect centred = rect();
    centred.moveCenter(screen->availableGeometry().center());
    move(centred.topLeft());
}

/* A clickable panel with a 32 by 32 picture at its left and its caption beside it. */
QFrame *TFeedbackForm::AddChoicePanel(const QString &role, QLabel **image)
{
    auto *panel = new QFrame(this);
    panel->setFixedHeight(40);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    panel->setCursor(Qt::PointingHandCursor);
    panel->installEventFilter(this);

    *image = new QLabel(panel);
    (*image)->setFixedSize(32, 32);
    (*image)->setScaledContents(true);
    (*image)->setPixmap(RoleIcon(role).pixmap(QSize(16, 16)).scaled(32, 32, Qt::KeepAspectRatio, Qt::FastTransformation));
    auto *caption = PlainLabel(PixelFont(16), panel);
    caption->setObjectName(QStringLiteral("caption"));
    // Clicks on the picture and the caption are clicks on the panel.
    (*image)->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(8);
    row->addWidget(*image);
    row->addWidget(caption, 1);
    SetChosenLook(panel, false);
    return panel;
}

void TFeedbackForm::SetChosenLook(QFrame *panel, bool chosen)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, palette().color(chosen ? QPalette::Highlight : QPalette::Button));
    colours.setColor(QPalette::WindowText, palette().color(chosen ? QPalette::HighlightedText : QPalette::WindowText));
    panel->setPalette(colours);
    panel->setFrameStyle(QFrame::Panel | (chosen ? QFrame::Sunken : QFrame::Raised));
}

bool TFeedbackForm::IsChosen(const QFrame *panel) const
{
    return panel->palette().color(QPalette::Window) != palette().color(QPalette::Button);
}

QString TFeedbackForm::PanelCaption(const QFrame *panel) const
{
    return panel->findChild<QLabel *>(QStringLiteral("caption"))->text();
}

void TFeedbackForm::Image1Click()
{
    if (!IsChosen(Panel4))
        SetChosenLook(Panel4, true);
    if (IsChosen(Panel5))
        SetChosenLook(Panel5, false);
}

void TFeedbackForm::Image2Click()
{
    if (!IsChosen(Panel5))
        SetChosenLook(Panel5, true);
    if (IsChosen(Panel4))
        SetChosenLook(Panel4, false);
}

bool TFeedbackForm::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == Panel4 || watched == Panel5) && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const auto *panel = static_cast<QFrame *>(watched);
        if (mouse->button() == Qt::LeftButton && panel->rect().contains(mouse->position().toPoint())) {
            if (panel == Panel4)
                Image1Click();
            else
                Image2Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

/* Keeps the comment within its maximum length by cutting what was just typed or pasted. */
void TFeedbackForm::LimitMemoLength(int position, int charsAdded)
{
    const int length = Memo1->document()->characterCount() - 1; // without the closing paragraph mark
    const int excess = length - MemoMaxLength;
    if (excess <= 0 || charsAdded <= 0)
        return;
    const int cut = qMin(excess, charsAdded);
    QTextCursor cursor(Memo1->document());
    cursor.setPosition(position + charsAdded - cut);
    cursor.setPosition(position + charsAdded, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

/* The English phrase of a panel, with its translated caption in brackets when that differs. */
QString TFeedbackForm::PanelPhrase(const QString &english, const QFrame *panel) const
{
    const QString caption = PanelCaption(panel);
    return caption == english ? english : english + QStringLiteral(" (") + caption + u')';
}

QString TFeedbackForm::FeedbackText() const
{
    QString text;
    if (IsChosen(Panel4))
        text = PanelPhrase(LikePhrase, Panel4) + u'\r';
    else if (IsChosen(Panel5))
        text = PanelPhrase(DislikePhrase, Panel5) + u'\r';
    QString comment = Memo1->toPlainText();
    comment.replace(u'\n', QStringLiteral("\r\n"));
    return text + TrimBlanks(comment);
}

QStringList TFeedbackForm::RequestFields(const QString &feedback, const QString &address) const
{
    QStringList fields{QStringLiteral("cmd=feedback"), QStringLiteral("appname=") + m_program.caption,
                       QStringLiteral("version=") + m_program.version, QStringLiteral("feedback=") + feedback};
    if (!address.isEmpty())
        fields.append(QStringLiteral("email=") + address);
    return fields;
}

bool TFeedbackForm::IsDelivered(const QString &reply)
{
    return TrimBlanks(SplitReplyLines(reply).join(QStringLiteral("\r\n"))) == QStringLiteral("OK");
}

/* Posts the fields over HTTPS and, when that fails for any reason, once more over plain HTTP. */
bool TFeedbackForm::Send(const QStringList &fields) const
{
    PostResult reply = HttpPostForm(QStringLiteral("https://") + FeedbackEndpoint(), fields, FeedbackTimeoutMs);
    if (!reply.ok)
        reply = HttpPostForm(QStringLiteral("http://") + FeedbackEndpoint(), fields, FeedbackTimeoutMs);
    return reply.ok && IsDelivered(reply.body);
}

void TFeedbackForm::BitBtn1Click()
{
    if (m_sending)
        return;
    const QString feedback = FeedbackText();
    if (feedback.isEmpty()) {
        Dialogs::Beep();
        return;
    }
    const QString address = TrimBlanks(Edit1->text());
    if (!address.isEmpty() && !IsValidEmail(address)) {
        Dialogs::ShowMessage(this, MessageIcon::Error, Translate(QStringLiteral("Failure")),
                             Translate(QStringLiteral("Invalid e-mail address!")));
        return;
    }

    m_sending = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool delivered = Send(RequestFields(feedback, address));
    QGuiApplication::restoreOverrideCursor();
    m_sending = false;

    if (delivered) {
        Dialogs::ShowMessage(this, MessageIcon::Information, Translate(QStringLiteral("Success")),
                             Translate(QStringLiteral("Your feedback is received.")) + QStringLiteral("\r\r")
                                 + Translate(QStringLiteral("Thank you!")));
        accept();
        return;
    }
    Dialogs::ShowMessage(this, MessageIcon::Error, Translate(QStringLiteral("Failure")),
                         Translate(QStringLiteral("Something went wrong. Your feedback could not be delivered."))
                             + QStringLiteral("\r\r") + Translate(QStringLiteral("Please try again later.")));
}
