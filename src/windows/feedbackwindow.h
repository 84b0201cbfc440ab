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
    QString description; // appDescription: the window caption begins with it
    QString caption;     // appCaption: sent as "appname"
    QString version;     // appVersion: sent as "version"
};

/*
 * The feedback window: the user says whether they like the program (at most one of two
 * choice panels), writes a comment, may add an e-mail address, and sends it all to the
 * maker's feedback script over HTTPS only. Shown modally; sending blocks the window (one
 * request, bounded by 3 s time-outs), and the outcome is told in a message box. After a
 * failed send everything the user entered stays; a delivered one closes the window. Tab
 * reaches the two choice panels before the comment, and Space chooses the focused one; the
 * Alt letter of a panel's caption chooses it at once.
 */
class FeedbackWindow : public QDialog
{
    Q_OBJECT

public:
    explicit FeedbackWindow(const FeedbackProgram &program, QWidget *parent = nullptr);

    /** Whether a choice panel (likePanel or dislikePanel) is in the chosen look: its background is not the button face. */
    bool isChosen(const QFrame *panel) const;
    /** The text a choice panel shows, without its mnemonic. */
    QString panelCaption(const QFrame *panel) const;

    /**
     * The text sent as "feedback": the chosen panel's phrase (English, then the translated
     * caption in brackets when it differs) and a CR, then the comment with its lines joined by
     * CR LF, trimmed. Empty when nothing is chosen and the comment is blank.
     */
    QString feedbackText() const;

    /** The request items, in order: cmd, appname, version, feedback and, when given, email. */
    QStringList requestFields(const QString &feedback, const QString &address) const;

    /** Whether a reply of the feedback script means the feedback arrived: its text, trimmed, is exactly "OK". */
    static bool isDelivered(const QString &reply);

    /** Puts likePanel into the chosen look and dislikePanel into the normal look. */
    void onLikeClicked();
    /** Puts dislikePanel into the chosen look and likePanel into the normal look. */
    void onDislikeClicked();
    /** Checks and sends the feedback and reports the outcome (see the class comment). */
    void onSendClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void nameControls();
    QFrame *addChoicePanel(const QString &role, QLabel **image);
    void setChosenLook(QFrame *panel, bool chosen);
    void limitMemoLength(int position, int charsAdded);
    QString panelPhrase(const QString &english, const QFrame *panel) const;
    bool sendFields(const QStringList &fields) const;

    FeedbackProgram m_program;
    bool m_sending = false;

    // ---- controls ------------------------------------------------------------------------
    QFrame *m_likePanel = nullptr; // "I like it!"
    QLabel *m_likeImage = nullptr;
    QFrame *m_dislikePanel = nullptr; // "I dislike it!"
    QLabel *m_dislikeImage = nullptr;
    QLabel *m_introLabel = nullptr;
    QLabel *m_questionLabel = nullptr;
    QPlainTextEdit *m_feedbackEdit = nullptr;
    QLabel *m_emailLabel = nullptr;
    QLineEdit *m_emailEdit = nullptr;
    QPushButton *m_sendButton = nullptr; // Send, the default button
};
