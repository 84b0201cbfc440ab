// The export menu of the main window: its entries, their presets and the start of a job.

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMenu>
#include <QRadioButton>

namespace {

QIcon menuIcon(const QString &role)
{
    return QIcon(QStringLiteral(":/icons/16/") + role + QStringLiteral(".png"));
}

QFont menuFont()
{
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    return font;
}

} // namespace

void MainWindow::createExportMenu()
{
    exportMenu = new QMenu(this);
    csvMenu = exportMenu->addMenu(menuIcon(QStringLiteral("csv")), QString());
    defaultCsvAction = csvMenu->addAction(menuIcon(QStringLiteral("table")), QString());
    excelCsvAction = csvMenu->addAction(menuIcon(QStringLiteral("excel48")), QString());
    googleCsvAction = csvMenu->addAction(menuIcon(QStringLiteral("gmail")), QString());
    outlookCsvAction = csvMenu->addAction(menuIcon(QStringLiteral("outlook")), QString());
    yahooCsvAction = csvMenu->addAction(menuIcon(QStringLiteral("yahoo")), QString());
    xlsAction = exportMenu->addAction(menuIcon(QStringLiteral("xls")), QString());
    txtAction = exportMenu->addAction(menuIcon(QStringLiteral("txt")), QString());
    exportMenu->addSeparator();
    exportMenu->addAction(stopExportAction);
    exportMenu->setFont(menuFont());
    csvMenu->setFont(menuFont());

    // Queued, so that the menu has closed (and its nested event loop ended) before the save
    // dialog opens.
    const auto entry = [this](QAction *action, void (MainWindow::*handler)()) {
        connect(action, &QAction::triggered, this, handler, Qt::QueuedConnection);
    };
    entry(defaultCsvAction, &MainWindow::exportDefaultCsv);
    entry(excelCsvAction, &MainWindow::exportExcelCsv);
    entry(googleCsvAction, &MainWindow::exportGoogleCsv);
    entry(outlookCsvAction, &MainWindow::exportOutlookCsv);
    entry(yahooCsvAction, &MainWindow::exportYahooCsv);
    entry(xlsAction, &MainWindow::exportXls);
    entry(txtAction, &MainWindow::exportTxt);
}

// Each entry applies its presets in the order encoding, Headers, flavour, then asks for the
// path; the presets stay applied when the save dialog is cancelled.

void MainWindow::exportCsv(CsvPreset preset)
{
    ExportOptions options = readExportOptions();
    const TextEncoding before = options.encoding;
    m_exportFlavor = applyCsvPreset(preset, options);
    if (options.encoding != before)
        encodingRadio(options.encoding)->setChecked(true);
    headersCheck->setChecked(options.headers);
    startExport(ExportType::Csv);
}

void MainWindow::exportXls()
{
    startExport(ExportType::Xls);
}

void MainWindow::exportTxt()
{
    startExport(ExportType::Txt);
}

void MainWindow::startExport(ExportType fileType)
{
    // The save dialog's file types: .xls, .xlsx, .csv, .txt.
    switch (fileType) {
    case ExportType::Xls:
        m_saveFilterIndex = 1;
        break;
    case ExportType::Csv:
        m_saveFilterIndex = 3;
        break;
    case ExportType::Txt:
        m_saveFilterIndex = 4;
        break;
    }

    Dialogs::SaveRequest dialog;
    dialog.nameFilters = m_saveFilters;
    dialog.filterIndex = m_saveFilterIndex;
    // The last folder and name, with the extension of the type asked for now.
    dialog.initialPath = Dialogs::nameForType(m_lastSavePath, m_saveFilters, m_saveFilterIndex);
    dialog.defaultSuffix = QStringLiteral("xls");
    const std::optional<Dialogs::SaveAnswer> answer = Dialogs::getSaveFileName(this, dialog);
    if (!answer || answer->fileName.isEmpty())
        return;
    m_lastSavePath = answer->fileName;
    m_saveFilterIndex = answer->filterIndex;

    // The job gets its own copy of the request and takes a snapshot of the loaded lines on
    // its own thread; loadFile and clearLoaded wait for that (waitForSnapshots), so neither a later
    // export nor loading or "Clear" changes what it reads.
    ExportRequest request;
    request.fileType = fileType;
    request.flavor = m_exportFlavor;
    request.exportFileName = answer->fileName;
    request.format.delimiter = listSeparatorChar();
    request.format.quoteMark = QuoteMark().isEmpty() ? QChar(u'"') : QuoteMark().at(0);
    startRun(request);
}
