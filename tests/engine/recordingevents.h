#pragma once

#include "engine/conversionjob.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/* Records what an export reports, and answers its one question with options. */
class RecordingEvents final : public ExportEvents
{
public:
    ExportOptions options;
    QList<int> progress;
    QList<ExportMessage> messages;
    QStringList events; // "progress N", "writing N", "options" and "message CAPTION", in order
    /** Called with each report before it is recorded (a test may stop the export there). */
    std::function<void(ExportStage stage, int percent)> onProgress;

    /** A request for path, whose options come from this object. */
    ExportRequest request(ExportType fileType, const QString &path, RowFormat format = {})
    {
        ExportRequest request;
        request.fileType = fileType;
        request.exportFileName = path;
        request.format = format;
        request.readOptions = [this] {
            events.append(QStringLiteral("options"));
            return options;
        };
        return request;
    }

    /** The same with a CSV flavour. */
    ExportRequest flavoredRequest(ExportType fileType, CsvFlavor flavor, const QString &path)
    {
        ExportRequest flavored = request(fileType, path);
        flavored.flavor = flavor;
        return flavored;
    }

    void progressed(ExportStage stage, int percent) override
    {
        if (onProgress)
            onProgress(stage, percent);
        progress.append(percent);
        const QString kind = stage == ExportStage::Writing ? QStringLiteral("writing") : QStringLiteral("progress");
        events.append(kind + u' ' + QString::number(percent));
    }

    void messageReady(const ExportMessage &message) override
    {
        messages.append(message);
        events.append(QStringLiteral("message ") + message.caption);
    }
};
