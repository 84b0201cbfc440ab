#include "widgets/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "testfiles.h"

/* The real open dialog, driven by typing into it as a person would. */
class TestOpenDialog : public QObject
{
    Q_OBJECT

private:
    /* Opens the dialog in folder, types text into its name field and presses Enter. */
    QStringList typeAndEnter(const QString &folder, const QString &text)
    {
        bool typed = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->setDirectory(folder);
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name)
                return;
            name->setText(text);
            QTest::keyClick(name, Qt::Key_Return);
            typed = true;
        });
        // Whatever stays open after that (the dialog, a warning over it) is closed, so that a
        // dialog that refuses the name fails the test instead of hanging it.
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        closer.start(1000);
        const QStringList chosen = Dialogs::getOpenFileNames(nullptr, QStringLiteral("VCF Files (*.vcf)"));
        closer.stop();
        [&] { QVERIFY(typed); }();
        return chosen;
    }

private slots:
    void typedNamesComeBackAsTyped()
    {
        QTemporaryDir dir;
        writeTestFile(dir.filePath(u"there.vcf"_qs), "BEGIN:VCARD\r\nEND:VCARD\r\n");
        QCOMPARE(typeAndEnter(dir.path(), u"there.vcf"_qs), QStringList{dir.filePath(u"there.vcf"_qs)});
        // A name that names no file is handed back too (the window then loads nothing), instead
        // of the dialog staying open with a warning.
        QCOMPARE(typeAndEnter(dir.path(), u"missing.vcf"_qs), QStringList{dir.filePath(u"missing.vcf"_qs)});
    }
};

QTEST_MAIN(TestOpenDialog)
#include "tst_opendialog.moc"
