/*
 * Every writer of the program replaces its file the same way: CSV, TXT, both workbook kinds,
 * settings.ini and start.sh, each through the real writer onto real files.
 */
#include "core/inistore.h"
#include "core/restartscript.h"
#include "engine/conversionjob.h"
#include "engine/recordingevents.h"
#include "platform/filecalls.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <functional>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

/* One writer: the name it writes (start.sh has only one) and how to make it write a file. */
struct Writer {
    QString fileName;
    QByteArray newStart; // how every file it writes begins
    std::function<bool(const QString &path, QString *error)> write;
};

bool writeExport(const QString &path, QString *error)
{
    RecordingEvents events;
    const bool written
        = writeExportFile(FinishedRows(TextLines::fromStringList({u"\"Ann Lee\",\"555\""_qs}), {}, false, QString()),
                          TextLines::fromStringList({u"Ann Lee"_qs, u"555"_qs, QString()}), path, TextEncoding::Utf8,
                          RowFormat{}, events, {})
          == WriteResult::Written;
    if (!written)
        *error = events.messages.value(0).paragraphs.join(u' ');
    return written;
}

const QList<std::pair<const char *, Writer>> kWriters{
    {"csv", {u"out.csv"_qs, "\xEF\xBB\xBF\"Ann Lee\"", writeExport}},
    {"txt",
     {u"out.txt"_qs,
      "\xEF\xBB\xBF"
      "Ann Lee\r\n",
      writeExport}},
    {"xls", {u"out.xls"_qs, "\xD0\xCF\x11\xE0", writeExport}},
    {"xlsx", {u"out.xlsx"_qs, "PK\x03\x04", writeExport}},
    {"settings.ini",
     {u"settings.ini"_qs, "\xEF\xBB\xBF[Settings]\r\nLanguageFile=German.lang.txt\r\n",
      [](const QString &path, QString *error) {
          IniStore settings;
          settings.setValue(u"Settings"_qs, u"LanguageFile"_qs, u"German.lang.txt"_qs);
          return settings.save(path, error);
      }}},
    {"start.sh",
     {u"start.sh"_qs, "#!/bin/sh\n",
      [](const QString &path, QString *error) {
          return !writeRestartScript(QFileInfo(path).path(), u"/opt/tessaly/tessaly"_qs, error).isEmpty();
      }}},
};

Writer writerNamed(const QString &name)
{
    for (const auto &[rowName, writer] : kWriters) {
        if (name == QLatin1String(rowName))
            return writer;
    }
    qFatal("no writer %s", qPrintable(name));
}

void addWriterColumn(bool withStartScript = true)
{
    QTest::addColumn<QString>("writer");
    for (const auto &[rowName, writer] : kWriters) {
        if (withStartScript || writer.fileName != u"start.sh")
            QTest::newRow(rowName) << QString::fromLatin1(rowName);
    }
}

unsigned modeOf(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? unsigned(status.st_mode & 07777) : 0u;
}

/* The script is made executable for everyone after it is written; every other file keeps its mode. */
unsigned expectedMode(const Writer &writer, unsigned kept)
{
    return writer.fileName == u"start.sh" ? 0755u : kept;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

/* Write and sync calls that fail with one error number, as a failing or full disk would. */
class FailingCalls final : public FileCalls
{
public:
    enum Step { Write, Sync, SetMode };
    FailingCalls(Step step, int error)
        : m_step(step)
        , m_error(error)
    {
    }

    qint64 write(int fd, const char *data, qint64 size) override
    {
        if (m_step != Write)
            return FileCalls::write(fd, data, size);
        errno = m_error;
        return -1;
    }

    int sync(int fd) override
    {
        if (m_step != Sync)
            return FileCalls::sync(fd);
        errno = m_error;
        return -1;
    }

    int setMode(int fd, unsigned mode) override
    {
        if (m_step != SetMode)
            return FileCalls::setMode(fd, mode);
        errno = m_error;
        return -1;
    }

private:
    Step m_step;
    int m_error;
};

/* The unprivileged user "nobody" as this process's effective user while it lives, when run as root. */
class AsNobody
{
public:
    AsNobody()
        : m_switched(geteuid() == 0)
    {
        if (m_switched && (setegid(65534) != 0 || seteuid(65534) != 0))
            qFatal("cannot become nobody");
    }
    ~AsNobody()
    {
        if (m_switched && (seteuid(0) != 0 || setegid(0) != 0))
            qFatal("cannot become root again");
    }

private:
    bool m_switched;
};

/* fs.protected_symlinks switched on while it lives, as root; active() says whether that worked. */
class ProtectedSymlinks
{
public:
    ProtectedSymlinks()
    {
        if (geteuid() != 0)
            return;
        m_before = readTestFile(kSetting).trimmed();
        QFile switchOn(kSetting);
        m_active = switchOn.open(QIODevice::WriteOnly) && switchOn.write("1\n") == 2 && switchOn.flush();
    }
    ~ProtectedSymlinks()
    {
        if (m_active)
            writeTestFile(kSetting, m_before + '\n');
    }
    bool active() const { return m_active; }

private:
    static inline const QString kSetting = QStringLiteral("/proc/sys/fs/protected_symlinks");
    QByteArray m_before;
    bool m_active = false;
};

/*
 * A process of the user "nobody" that keeps exchanging, under one name in a shared folder, a
 * file of its own and a link of its own to target (renameat2 RENAME_EXCHANGE), and puts both
 * back whenever the name is gone. Stopped and reaped when the object goes.
 */
class LinkSwapper
{
public:
    LinkSwapper(const QString &name, const QString &spare, const QString &target)
    {
        const QByteArray nameBytes = QFile::encodeName(name);
        const QByteArray spareBytes = QFile::encodeName(spare);
        const QByteArray targetBytes = QFile::encodeName(target);
        m_pid = ::fork();
        if (m_pid != 0)
            return;
        // Only system calls from here on: the parent has threads whose locks a child cannot take.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        for (;;) {
            if (::renameat2(AT_FDCWD, nameBytes.constData(), AT_FDCWD, spareBytes.constData(), RENAME_EXCHANGE) == 0)
                continue;
            ::unlink(spareBytes.constData());
            if (::symlink(targetBytes.constData(), spareBytes.constData()) != 0)
                continue;
            const int fd = ::open(nameBytes.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    ~LinkSwapper()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

/*
 * A sticky world-writable folder "shared" in dir, as /tmp is, in a folder that others may enter:
 * the place where another user plants links. Empty when it cannot be made.
 */
QString makeStickyFolder(const QTemporaryDir &dir)
{
    QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
    const QString shared = dir.filePath(QStringLiteral("shared"));
    if (!QDir().mkdir(shared) || ::chmod(QFile::encodeName(shared).constData(), 01777) != 0)
        return {};
    return shared;
}

} // namespace

class TestOutputFiles : public QObject
{
    Q_OBJECT

private:
    unsigned m_umask = 0;

private slots:
    void initTestCase()
    {
        // Read while this test is the only thread; the program never sets the mask at all.
        m_umask = unsigned(::umask(0));
        ::umask(mode_t(m_umask));
    }

    void cleanup() { setFileCalls(nullptr); }

    void symbolicLinksAreFollowed_data() { addWriterColumn(); }

    void symbolicLinksAreFollowed()
    {
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(u"real"_qs));
        QDir().mkpath(dir.filePath(u"links"_qs));
        const QString real = writeTestFile(dir.filePath(u"real/target"_qs), "old");
        QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const QString link = dir.filePath(u"links/"_qs + w.fileName);
        QVERIFY(QFile::link(u"../real/target"_qs, link));

        QString error;
        QVERIFY2(w.write(link, &error), qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY2(readTestFile(real).startsWith(w.newStart), readTestFile(real).left(40).constData());
        QCOMPARE(modeOf(real), expectedMode(w, 0640));
        QCOMPARE(filesIn(dir.filePath(u"real"_qs)), QStringList{u"target"_qs});
        QCOMPARE(filesIn(dir.filePath(u"links"_qs)), QStringList{w.fileName});

        // A link to a file that does not exist yet creates that file.
        QVERIFY(QFile::remove(real));
        QVERIFY2(w.write(link, &error), qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(readTestFile(real).startsWith(w.newStart));
        QCOMPARE(modeOf(real), expectedMode(w, 0666 & ~m_umask));
        QCOMPARE(filesIn(dir.filePath(u"real"_qs)), QStringList{u"target"_qs});
    }

    void linksPlantedByAnotherUserAreRefused_data() { addWriterColumn(); }

    void linksPlantedByAnotherUserAreRefused()
    {
        // With fs.protected_symlinks on, the kernel follows no link in a sticky world-writable
        // folder that belongs neither to the follower nor to the folder's owner: the program
        // follows none either, so another user cannot steer its output onto a file of root's.
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        if (geteuid() != 0)
            QSKIP("planting a link as another user and setting fs.protected_symlinks need root");
        ProtectedSymlinks protectedLinks;
        if (!protectedLinks.active())
            QSKIP("fs.protected_symlinks cannot be set here");

        QTemporaryDir dir;
        const QString shared = makeStickyFolder(dir);
        QVERIFY(!shared.isEmpty());
        const QString secret = writeTestFile(dir.filePath(u"secret"_qs), "secret");
        const QString link = shared + u'/' + w.fileName;
        {
            AsNobody nobody;
            QVERIFY(QFile::link(secret, link));
        }
        QString error;
        QVERIFY(!w.write(link, &error));
        QCOMPARE(error, u"Cannot create file \""_qs + link + u"\". Permission denied"_qs);
        QCOMPARE(readTestFile(secret), QByteArray("secret"));
        QCOMPARE(filesIn(shared), QStringList{w.fileName});

        // The folder's owner may place links there, and they are followed.
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(secret, link));
        QVERIFY2(w.write(link, &error), qPrintable(error));
        QVERIFY(readTestFile(secret).startsWith(w.newStart));
    }

    void aLinkSwappedInDuringTheExportIsNotFollowed()
    {
        // Another user keeps exchanging a file of its own and a link of its own to a file of
        // root's under the name root exports to: whichever the look-up meets, the file written
        // is in the folder it found, and the file of root's is never replaced.
        if (geteuid() != 0)
            QSKIP("planting links as another user and setting fs.protected_symlinks need root");
        ProtectedSymlinks protectedLinks;
        if (!protectedLinks.active())
            QSKIP("fs.protected_symlinks cannot be set here");
        QTemporaryDir dir;
        const QString shared = makeStickyFolder(dir);
        QVERIFY(!shared.isEmpty());
        const QString secret = writeTestFile(dir.filePath(u"secret"_qs), "secret");
        QCOMPARE(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
        const QString name = shared + u"/out.csv"_qs;

        const int rounds = 300;
        int replaced = 0;
        int written = 0;
        {
            LinkSwapper swapper(name, shared + u"/spare"_qs, secret);
            QVERIFY(swapper.started());
            const QByteArray nameBytes = QFile::encodeName(name);
            for (int round = 0; round < rounds; ++round) {
                // Each round starts once the other user's pair is in place again.
                struct stat entry;
                for (int wait = 0; wait < 1000 && ::lstat(nameBytes.constData(), &entry) != 0; ++wait)
                    QThread::usleep(100);
                QString error;
                if (writeExport(name, &error))
                    ++written;
                if (readTestFile(secret) != "secret") {
                    ++replaced;
                    writeTestFile(secret, "secret");
                }
                // The name is root's now, which the other user cannot move: it goes, and the
                // other user puts its pair back.
                QFile::remove(name);
            }
        }
        qInfo("%d rounds, %d exports written, the file of root's replaced %d times", rounds, written, replaced);
        QCOMPARE(replaced, 0);
        QVERIFY(written > 0);
        const QStringList left = filesIn(shared).filter(u".tessaly-"_qs);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    }

    void anotherUsersFileKeepsItsOwner_data() { addWriterColumn(); }

    void anotherUsersFileKeepsItsOwner()
    {
        // Root replaces a file of nobody's: the new file is nobody's again, with its group and
        // mode. A second name of the old file (a hard link) keeps the old content.
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        if (geteuid() != 0)
            QSKIP("replacing another user's file needs root");
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(w.fileName), "old");
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(name.constData(), 0640), 0);
        const QString second = dir.filePath(u"second-name"_qs);
        QCOMPARE(::link(name.constData(), QFile::encodeName(second).constData()), 0);
        QString error;
        QVERIFY2(w.write(path, &error), qPrintable(error));
        struct stat status;
        QCOMPARE(::stat(name.constData(), &status), 0);
        QCOMPARE(status.st_uid, uid_t(65534));
        QCOMPARE(status.st_gid, gid_t(65534));
        QCOMPARE(unsigned(status.st_mode & 07777), expectedMode(w, 0640));
        QVERIFY(readTestFile(path).startsWith(w.newStart));
        QCOMPARE(readTestFile(second), QByteArray("old"));
    }

    void writableFileInAClosedFolderIsWrittenInPlace_data() { addWriterColumn(false); }

    void writableFileInAClosedFolderIsWrittenInPlace()
    {
        // The folder takes no new file, the file itself may be written (as the shell would):
        // the same file gets the new content, and nothing else appears in the folder.
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
        const QString folder = dir.filePath(u"closed"_qs);
        QVERIFY(QDir().mkdir(folder));
        const QString path = writeTestFile(folder + u'/' + w.fileName, "old content that is longer than the new");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
        struct stat before, after;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
        QString error;
        bool written = false;
        {
            AsNobody nobody;
            written = w.write(path, &error);
        }
        QVERIFY2(written, qPrintable(error));
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        const QByteArray content = readTestFile(path);
        QVERIFY2(content.startsWith(w.newStart), content.left(40).constData());
        QVERIFY(!content.contains("longer than the new"));
        QCOMPARE(filesIn(folder), QStringList{w.fileName});
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    }

    void aFullFileSystemKeepsTheFileWrittenInPlace()
    {
        // A file written in place (its folder takes no new file) on a file system of 2 MB that
        // cannot hold the new export: the export fails for want of room and the file keeps its
        // old content whole. An export that fits replaces it.
        if (geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
        const QString volume = dir.filePath(u"small"_qs);
        QVERIFY(QDir().mkdir(volume));
        if (QProcess::execute(u"mount"_qs,
                              {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"size=2m,mode=0755"_qs, u"tmpfs"_qs, volume})
            != 0)
            QSKIP("this machine cannot mount a small tmpfs");
        const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_qs, {volume}); });
        const QString path = volume + u"/out.csv"_qs;
        const QByteArray old = QByteArray("old line\r\n").repeated(130000); // 1.3 MB of 2
        writeTestFile(path, old);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
        QCOMPARE(::chmod(QFile::encodeName(volume).constData(), 0555), 0);

        auto exportRows = [&](int count, QString *error) {
            QStringList rows;
            for (int row = 0; row < count; ++row)
                rows.append(QStringLiteral("\"Contact %1\",\"%2\"").arg(row, 6, 10, QLatin1Char('0')).arg(row));
            RecordingEvents events;
            AsNobody nobody;
            const bool written = writeExportFile(FinishedRows(TextLines::fromStringList(rows), {}, false, QString()),
                                                 TextLines::fromStringList({u"x"_qs}), path, TextEncoding::Utf8,
                                                 RowFormat{}, events, {})
                                 == WriteResult::Written;
            if (!written)
                *error = events.messages.value(0).paragraphs.join(u' ');
            return written;
        };
        QString error;
        QVERIFY(!exportRows(100000, &error)); // about 2.3 MB
        QVERIFY2(error.contains(u"No space left on device"_qs), qPrintable(error));
        QCOMPARE(readTestFile(path), old);
        QVERIFY(exportRows(20000, &error)); // about 0.5 MB
        QVERIFY(readTestFile(path).startsWith("\xEF\xBB\xBF\"Contact 000000\""));
        QCOMPARE(filesIn(volume), QStringList{u"out.csv"_qs});
    }

    void aMissingTemporaryFolderIsNamed()
    {
        // A workbook for a device is put together in the system's temporary folder first: when
        // TMPDIR names a folder that is not there, the message says so, not the output's name.
        QTemporaryDir dir;
        const QString link = dir.filePath(u"out.xlsx"_qs);
        QVERIFY(QFile::link(u"/dev/null"_qs, link));
        const QString missing = dir.filePath(u"missing"_qs);
        const QByteArray before = qgetenv("TMPDIR");
        const bool hadBefore = qEnvironmentVariableIsSet("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(missing));
        const auto restore = qScopeGuard([&] { hadBefore ? qputenv("TMPDIR", before) : qunsetenv("TMPDIR"); });
        QString error;
        QVERIFY(!writeExport(link, &error));
        QCOMPARE(error, u"Cannot create file \""_qs + link + u"\". No such file or directory (temporary folder \""_qs
                            + missing + u"\")"_qs);
    }

    void readOnlyFilesAreRefused_data() { addWriterColumn(); }

    void readOnlyFilesAreRefused()
    {
        // The folder lets anyone rename over the file; the file's own permissions must still count.
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7777));
        const QString path = writeTestFile(dir.filePath(w.fileName), "old");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        QString error;
        bool written = false;
        {
            AsNobody nobody;
            written = w.write(path, &error);
        }
        QVERIFY(!written);
        QCOMPARE(error, u"Cannot create file \""_qs + path + u"\". Permission denied"_qs);
        QCOMPARE(readTestFile(path), QByteArray("old"));
        QCOMPARE(filesIn(dir.path()), QStringList{w.fileName});
    }

    void failedWriteOrSyncKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        for (const auto &[rowName, writer] : kWriters) {
            const QString name = QString::fromLatin1(rowName);
            QTest::addRow("%s, sync fails", rowName)
                << name << int(FailingCalls::Sync) << EIO << u"Input/output error"_qs;
            QTest::addRow("%s, disk full", rowName)
                << name << int(FailingCalls::Write) << ENOSPC << u"No space left on device"_qs;
        }
    }

    void failedWriteOrSyncKeepsTheOldFile()
    {
        QFETCH(QString, writer);
        QFETCH(int, step);
        QFETCH(int, error);
        QFETCH(QString, reason);
        const Writer w = writerNamed(writer);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(w.fileName), "old");
        FailingCalls calls(FailingCalls::Step(step), error);
        setFileCalls(&calls);
        QString message;
        QVERIFY(!w.write(path, &message));
        setFileCalls(nullptr);
        QCOMPARE(message, u"Cannot create file \""_qs + path + u"\". "_qs + reason);
        QCOMPARE(readTestFile(path), QByteArray("old"));
        QCOMPARE(filesIn(dir.path()), QStringList{w.fileName});
    }

    void volumesWithoutPermissionsAreWritten_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("written");
        for (const auto &[rowName, writer] : kWriters) {
            if (writer.fileName == u"start.sh")
                continue; // it sets its own mode afterwards
            const QString name = QString::fromLatin1(rowName);
            QTest::addRow("%s, ENOSYS", rowName) << name << ENOSYS << true;
            QTest::addRow("%s, EPERM", rowName) << name << EPERM << true;
            QTest::addRow("%s, EOPNOTSUPP", rowName) << name << EOPNOTSUPP << true;
            QTest::addRow("%s, EIO", rowName) << name << EIO << false;
        }
    }

    void volumesWithoutPermissionsAreWritten()
    {
        // FAT and exFAT refuse any change of permissions, as some network shares do: the file
        // keeps the volume's own and is written, as cp writes it. Any other failure still
        // keeps the old file. Either way nothing else is left in the folder.
        QFETCH(QString, writer);
        QFETCH(int, error);
        QFETCH(bool, written);
        const Writer w = writerNamed(writer);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(w.fileName), "old");
        FailingCalls calls(FailingCalls::SetMode, error);
        setFileCalls(&calls);
        QString message;
        const bool result = w.write(path, &message);
        setFileCalls(nullptr);
        QCOMPARE(result, written);
        if (written)
            QVERIFY2(readTestFile(path).startsWith(w.newStart), qPrintable(message));
        else
            QCOMPARE(readTestFile(path), QByteArray("old"));
        QCOMPARE(filesIn(dir.path()), QStringList{w.fileName});
    }

    void aFatVolumeThroughFuseIsWritten_data()
    {
        QTest::addColumn<QString>("writer");
        for (const auto &[rowName, writer] : kWriters) {
            // The workbook library's own temporary files lose their names while open, which
            // this FUSE file system does not carry through.
            if (QLatin1String(rowName) != QLatin1String("xlsx"))
                QTest::newRow(rowName) << QString::fromLatin1(rowName);
        }
    }

    void aFatVolumeThroughFuseIsWritten()
    {
        // A real FAT volume refuses every change of permissions: new files and replacements are
        // written all the same, with the volume's own permissions, and nothing else is left.
        QFETCH(QString, writer);
        const Writer w = writerNamed(writer);
        if (geteuid() != 0 || !QFile::exists(u"/dev/fuse"_qs))
            QSKIP("mounting a FUSE volume needs root and /dev/fuse");
        QTemporaryDir dir;
        const QString image = dir.filePath(u"fat.img"_qs);
        const QString volume = dir.filePath(u"fat"_qs);
        QVERIFY(QDir().mkdir(volume));
        QFile imageFile(image);
        QVERIFY(imageFile.open(QIODevice::WriteOnly) && imageFile.resize(16 << 20));
        imageFile.close();
        QProcess tool;
        tool.start(u"mkfs.vfat"_qs, {image});
        if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        tool.start(u"fusefat"_qs, {u"-o"_qs, u"rw+"_qs, image, volume});
        if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
            QSKIP("fusefat cannot mount a FAT volume here");
        const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_qs, {volume}); });

        const QString path = volume + u'/' + w.fileName;
        QString error;
        QVERIFY2(w.write(path, &error), qPrintable(error)); // a new file
        QVERIFY2(w.write(path, &error), qPrintable(error)); // and one replaced
        QVERIFY(readTestFile(path).startsWith(w.newStart));
        QCOMPARE(filesIn(volume), QStringList{w.fileName});
    }

    void longNamesAreReplaced_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("length");
        for (const auto &[rowName, writer] : kWriters) {
            if (writer.fileName == u"start.sh")
                continue; // it has one name
            for (const int length : {249, 255})
                QTest::addRow("%s, %d bytes", rowName, length) << QString::fromLatin1(rowName) << length;
        }
    }

    void longNamesAreReplaced()
    {
        // A temporary name made from the target's would pass the file system's 255 bytes.
        QFETCH(QString, writer);
        QFETCH(int, length);
        const Writer w = writerNamed(writer);
        const QString extension = w.fileName.sliced(w.fileName.lastIndexOf(u'.'));
        const QString name = QString(length - extension.size(), u'n') + extension;
        QCOMPARE(QFile::encodeName(name).size(), length);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(name), "old");
        QString error;
        QVERIFY2(w.write(path, &error), qPrintable(error));
        QVERIFY(readTestFile(path).startsWith(w.newStart));
        QCOMPARE(filesIn(dir.path()), QStringList{name});
    }

    void newFilesGetTheUmaskOnEveryThread()
    {
        // Two threads export at once, again and again: every new file gets 0666 less the mask
        // the process started with, and the mask is the same afterwards.
        QTemporaryDir dir;
        const QStringList kinds{u"csv"_qs, u"txt"_qs, u"xls"_qs, u"xlsx"_qs, u"settings.ini"_qs};
        const int perThread = 1000;
        auto run = [&](int thread, QStringList *wrong) {
            for (int n = 0; n < perThread; ++n) {
                const Writer w = writerNamed(kinds.at(n % kinds.size()));
                const QString path = dir.filePath(QStringLiteral("%1-%2-%3").arg(thread).arg(n).arg(w.fileName));
                QString error;
                if (!w.write(path, &error))
                    wrong->append(error);
                else if (modeOf(path) != (0666 & ~m_umask))
                    wrong->append(QStringLiteral("%1: %2").arg(path).arg(modeOf(path), 4, 8, QLatin1Char('0')));
            }
        };
        QStringList wrongFirst, wrongSecond;
        QThread *first = QThread::create(run, 1, &wrongFirst);
        QThread *second = QThread::create(run, 2, &wrongSecond);
        first->start();
        second->start();
        QVERIFY(first->wait(120000) && second->wait(120000));
        delete first;
        delete second;
        QVERIFY2(wrongFirst.isEmpty(), qPrintable(wrongFirst.join(u'\n')));
        QVERIFY2(wrongSecond.isEmpty(), qPrintable(wrongSecond.join(u'\n')));
        QCOMPARE(filesIn(dir.path()).size(), 2 * perThread);
        const mode_t now = ::umask(0);
        ::umask(now);
        QCOMPARE(unsigned(now), m_umask);
    }
};

QTEST_GUILESS_MAIN(TestOutputFiles)
#include "tst_outputfiles.moc"
