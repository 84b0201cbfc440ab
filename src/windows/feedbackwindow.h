#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

/** The program's identity texts as the feedback window shows and sends them. */
struct FeedbackProgram {
    QString description; // AppDescription: the window caption begins with it
    QString caption;     // AppCaption: sent as "appname"
    QString version;     // AppVersion: sent as "version"
};

/*
 * The feedback window: the user says whether they like the program (at most one of two
 * choice panels), writes a comment, may add an e-mail address, and sends it all to the
 * maker's feedback script. Shown modally; sending blocks the window (two attempts of at most
 * 3 s each), and the outcome is told in a message box. After a failed send everything the
 * user entered stays; a delivered one closes the window.
 */
class TFeedbackForm : public QDialog
{
    Q_OBJECT

public:
    explicit TFeedbackForm(const FeedbackProgram &program, QWidget *parent = nullptr);

    /** Whether a choice panel (Panel4 or Panel5) is in the chosen look: its background is not the button face. */
    bool IsChosen(const QFrame *panel) const;
    /** The text a choice panel shows. */
    QString PanelCaption(const QFrame *panel) const;

    /**
     * The text sent as "feedback": the chosen panel's phrase (English, then the translated
     * caption in brackets when it differs) and a CR, then the comment with its lines joined by
     * CR LF, trimmed. Empty when nothing is chosen and the comment is blank.
     */
    QString FeedbackText() const;

    /** The request items, in order: cmd, appname, version, feedback and, when given, email. */
    QStringList RequestFields(const QString &feedback, const QString &address) const;

    /** Whether a reply of the feedback script means the feedback arrived: its text, trimmed, is exactly "OK". */
    static bool IsDelivered(const QString &reply);

    QFrame *Panel4 = nullptr; // "I like it!"
    QLabel *Image1 = nullptr;
    QFrame *Panel5 = nullptr; // "I dislike it!"
    QLabel *Image2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QPushButton *BitBtn1 = nullptr; // Send, the default button

    /** Puts Panel4 into the chosen look and Panel5 into the normal look. */
    void Image1Click();
    /** Puts Panel5 into the chosen look and Panel4 into the normal look. */
    void Image2Click();
    /** Checks and sends the feedback and reports the outcome (see the class comment). */
    void BitBtn1Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QFrame *AddChoicePanel(const QString &role, QLabel **image);
    void SetChosenLook(QFrame *panel, bool chosen);
    void LimitMemoLength(int position, int charsAdded);
    QString PanelPhrase(const QString &english, const QFrame *panel) const;
    bool Send(const QStringList &fields) const;

    FeedbackProgram m_program;
    bool m_sending = false;
};
