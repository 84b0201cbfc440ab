#include "core/restartscript.h"

#include "text/devicewrite.h"
#include "text/outputfile.h"

#include <QFile>

QByteArray shellQuoted(const QByteArray &text)
{
    QByteArray quoted = text;
    quoted.replace('\'', QByteArrayLiteral("'\\''"));
    return '\'' + quoted + '\'';
}

QByteArray restartScriptText(const QString &programFile)
{
    return QByteArrayLiteral("#!/bin/sh\n"
                             "# This file was created automatically to restart the program.\n"
                             "# It is safe to delete this file.\n"
                             "sleep 1\n"
                             "exec ")
           + shellQuoted(QFile::encodeName(programFile)) + '\n';
}

QString writeRestartScript(const QString &dataDir, const QString &programFile, QString *error)
{
    const QString folder = dataDir.endsWith(u'/') ? dataDir : dataDir + u'/';
    QString path = folder + QString::fromUtf16(kRestartScriptName);
    OutputFile file(path);
    if (file.open())
        writeAllBytes(file.device(), restartScriptText(programFile)); // a failed write fails commit()
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return QString();
    }
    // The script is started through /bin/sh, so a file system that refuses the execute bit
    // does not stop the restart; the bit only lets a person run it by hand.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    return path;
}
