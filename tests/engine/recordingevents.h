#pragma once

#include "engine/conversionjob.h"

#include <QList>
#include <QString>

/* A host that answers like a window left alone and records what the job showed. */
class RecordingHost final : public ConversionHost
{
public:
    struct Message {
        MessageIcon icon;
        QString caption;
        QString text;
    };

    ExportOptions options;
    QList<int> progress;
    QList<Message> messages;
    QStringList events; // progress, busy, button and message calls in order

    void setProgress(int value) override
    {
        progress.append(value);
        events.append(QStringLiteral("progress %1").arg(value));
    }
    void setBusy(bool busy) override { events.append(busy ? QStringLiteral("busy") : QStringLiteral("idle")); }
    void disableExportButton() override { events.append(QStringLiteral("disable")); }
    void enableExportControls() override { events.append(QStringLiteral("enable")); }
    ExportOptions readExportOptions() override
    {
        events.append(QStringLiteral("options"));
        return options;
    }
    void showMessage(MessageIcon icon, const QString &caption, const QString &text) override
    {
        messages.append({icon, caption, text});
        events.append(QStringLiteral("message ") + caption);
    }
};
