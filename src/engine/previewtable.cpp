#include "engine/previewtable.h"

#include "engine/cardscanner.h"

PreviewTable buildPreviewTable(TextLines lines, const PreviewRequest &request, ExportEvents &events,
                               const std::stop_token &stop, qsizetype firstCards)
{
    PreviewTable preview;
    preview.format = request.format;
    preview.complete = true;
    if (firstCards > 0) {
        const qsizetype firstLines = linesOfFirstCards(lines, firstCards);
        preview.complete = firstLines == lines.size();
        lines.truncate(firstLines);
    }

    // The options matter only for the flavour: the preview shows text, not its encoding, and
    // the header row apart from the rows.
    ExportOptions presetOptions;
    const CsvFlavor flavor = applyCsvPreset(request.preset, presetOptions, request.columns);
    TableLayout layout{ExportType::Csv, flavor, request.format, false, request.columns};
    layout.format = exportRowFormat(layout);
    preview.format = layout.format;
    BuiltTable built = buildTable(lines, layout, events, stop);
    preview.columnNames = !built.table.columnNames.isEmpty()
                              ? built.table.columnNames
                              : columnNames(built.table.presence, ExportType::Csv, flavor);
    preview.counts = built.counts;
    const bool sort = request.sort && preview.complete;
    preview.rows = finishRows(std::move(built.table.rows), false, sort, QString(), stop);
    events.progressed(ExportStage::Done, 100);
    return preview;
}
