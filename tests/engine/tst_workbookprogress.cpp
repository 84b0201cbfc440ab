// The progress of the workbook stage as the writers put real workbooks on disk: it keeps
// moving while the file is written and reaches 100 only when the file is complete.

#include "engine/conversionjob.h"
#include "engine/workbookexport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

/*
 * The bytes of the files in and below folder, and of those this process has open there without
 * a name (the workbook is put together in such files where the file system can).
 */
qint64 BytesBeingWrittenIn(const QString &folder)
{
    qint64 bytes = 0;
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        bytes += files.fileInfo().size();
    }
    const QDir open(u"/proc/self/fd"_qs);
    for (const QString &fd : open.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(open.filePath(fd));
        if (target.startsWith(folder + u'/') && target.endsWith(u" (deleted)"_qs))
            bytes += QFileInfo(open.filePath(fd)).size();
    }
    return bytes;
}

/* A host that notes, with every progress value, what the output folder holds at that moment. */
class WatchingHost final : public ExportEvents
{
public:
    explicit WatchingHost(const QString &target)
        : m_target(target)
    {
    }

    QList<int> values;
    QList<qint64> folderBytes;   // the bytes of all files in and below the target's folder at each value
    qint64 targetSizeAt100 = -1; // the size of the finished file when 100 was shown
    QStringList messages;

    void progressed(ExportStage, int value) override
    {
        values.append(value);
        folderBytes.append(BytesBeingWrittenIn(QFileInfo(m_target).absolutePath()));
        if (value == 100)
            targetSizeAt100 = QFileInfo(m_target).size();
    }
    void messageReady(const ExportMessage &message) override
    {
        messages.append(message.caption + u": "_qs + message.paragraphs.join(u' '));
    }

private:
    QString m_target;
};

/* n rows of fifteen quoted fields, different from row to row as address books are. */
QStringList makeRows(int n)
{
    QStringList rows;
    rows.reserve(n);
    quint32 seed = 12345;
    const auto word = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return QString::number(seed % 1000003u, 36) + QString::number((seed >> 8) % 99991u);
    };
    for (int r = 0; r < n; ++r) {
        QStringList fields;
        for (int c = 0; c < 15; ++c)
            fields.append(u'"' + word() + u' ' + word() + u'"');
        rows.append(fields.join(u','));
    }
    return rows;
}

/* The rows a real reader finds in the workbook. */
int rowsRead(const QString &path)
{
    const QString script
        = path.endsWith(u".xlsx"_qs)
              ? u"import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read('xl/worksheets/sheet1.xml').count(b'<row '))"_qs
              : u"import sys, xlrd; print(xlrd.open_workbook(sys.argv[1]).sheet_by_index(0).nrows)"_qs;
    QProcess reader;
    reader.start(u"/usr/bin/python3"_qs, {u"-c"_qs, script, path});
    if (!reader.waitForFinished(120000) || reader.exitCode() != 0)
        return -1;
    return reader.readAllStandardOutput().trimmed().toInt();
}

} // namespace

class TestWorkbookProgress : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void progressFollowsTheWriting_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rows");
        // Enough rows that packing the .xlsx takes several of the writer's 50 ms reports.
        QTest::newRow("xlsx") << u"progress.xlsx"_qs << 20000;
        QTest::newRow("xls") << u"progress.xls"_qs << 20000;
    }

    void progressFollowsTheWriting()
    {
        QFETCH(QString, name);
        QFETCH(int, rows);
        QDir().mkpath(m_dir.filePath(name + u"-folder"_qs));
        const QString target = m_dir.filePath(name + u"-folder/"_qs + name);
        WatchingHost host(target);
        QString error;
        const FinishedRows finished(TextLines::fromStringList(makeRows(rows)), {}, false, QString());
        QVERIFY2(exportToWorkbook(finished, u',', target, host, {}, &error) == WriteResult::Written, qPrintable(error));
        QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join(u'\n')));

        // 81 to 100, each value once and rising.
        QVERIFY(!host.values.isEmpty());
        QCOMPARE(host.values.constFirst(), 81);
        QCOMPARE(host.values.constLast(), 100);
        for (qsizetype i = 1; i < host.values.size(); ++i)
            QVERIFY2(host.values[i] > host.values[i - 1], qPrintable(QString::number(host.values[i])));
        // The rows handed to the writer take it to 90; the writer's own work shows above that.
        QVERIFY(host.values.contains(90));
        const qsizetype writing = host.values.count() - host.values.indexOf(90) - 2;
        if (name.endsWith(u".xlsx"_qs)) {
            // Packing the sheet into the file: values that came while the file was growing.
            qsizetype whileWritten = 0;
            for (qsizetype i = host.values.indexOf(90) + 1; i + 1 < host.values.size(); ++i)
                whileWritten += host.folderBytes[i] > 0;
            QVERIFY2(whileWritten >= 2, qPrintable(QString::number(whileWritten)));
        } else {
            QCOMPARE(writing, qsizetype(9)); // 91 to 99 over the writer's passes
        }
        // 100 only once the file is whole at its name.
        const qint64 finalSize = QFileInfo(target).size();
        QVERIFY(finalSize > 0);
        QCOMPARE(host.targetSizeAt100, finalSize);
        QCOMPARE(rowsRead(target), rows);
    }
};

QTEST_GUILESS_MAIN(TestWorkbookProgress)
#include "tst_workbookprogress.moc"
