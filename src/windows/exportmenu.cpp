// The export menu of the main window: its entries, their presets and the start of a job.

#include "core/startup.h"
#include "i18n/translate.h"
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
    m_exportMenu = new QMenu(this);
    m_csvMenu = m_exportMenu->addMenu(menuIcon(QStringLiteral("csv")), QString());
    m_defaultCsvAction = m_csvMenu->addAction(menuIcon(QStringLiteral("table")), QString());
    m_excelCsvAction = m_csvMenu->addAction(menuIcon(QStringLiteral("excel48")), QString());
    m_googleCsvAction = m_csvMenu->addAction(menuIcon(QStringLiteral("gmail")), QString());
    m_outlookCsvAction = m_csvMenu->addAction(menuIcon(QStringLiteral("outlook")), QString());
    m_yahooCsvAction = m_csvMenu->addAction(menuIcon(QStringLiteral("yahoo")), QString());
    m_xlsAction = m_exportMenu->addAction(menuIcon(QStringLiteral("xls")), QString());
    m_txtAction = m_exportMenu->addAction(menuIcon(QStringLiteral("txt")), QString());
    m_exportMenu->addSeparator();
    // An option rather than a command: no icon, so the menu shows its check mark.
    m_allFieldsAction = m_exportMenu->addAction(QString());
    m_allFieldsAction->setCheckable(true);
    m_allFieldsAction->setChecked(storedColumnModel() == ColumnModel::AllFields);
    m_exportMenu->addSeparator();
    m_exportMenu->addAction(m_previewAction);
    m_exportMenu->addAction(m_stopExportAction);
    m_exportMenu->setFont(menuFont());
    m_csvMenu->setFont(menuFont());

    // Queued, so that the menu has closed (and its nested event loop ended) before the save
    // dialog opens.
    const auto entry = [this](QAction *action, void (MainWindow::*handler)()) {
        connect(action, &QAction::triggered, this, handler, Qt::QueuedConnection);
    };
    entry(m_defaultCsvAction, &MainWindow::exportDefaultCsv);
    entry(m_excelCsvAction, &MainWindow::exportExcelCsv);
    entry(m_googleCsvAction, &MainWindow::exportGoogleCsv);
    entry(m_outlookCsvAction, &MainWindow::exportOutlookCsv);
    entry(m_yahooCsvAction, &MainWindow::exportYahooCsv);
    entry(m_xlsAction, &MainWindow::exportXls);
    entry(m_txtAction, &MainWindow::exportTxt);
    // The entry has toggled its check mark already; the rest follows once the menu has closed.
    connect(
        m_allFieldsAction, &QAction::triggered, this, [this](bool checked) { setAllFields(checked); },
        Qt::QueuedConnection);
}

ColumnModel MainWindow::columnModel() const
{
    return m_allFieldsAction->isChecked() ? ColumnModel::AllFields : ColumnModel::Fifteen;
}

void MainWindow::setAllFields(bool on)
{
    m_allFieldsAction->setChecked(on);
    m_yahooCsvAction->setText(csvPresetCaption(CsvPreset::Yahoo, columnModel()));
    if (m_previewWindow)
        m_previewWindow->setColumnModel(columnModel());
    QString error;
    if (!setStoredColumnModel(columnModel(), &error))
        Dialogs::showMessage(this, MessageIcon::Error, translate(QStringLiteral("ERROR")), error);
}

// Each entry applies its presets in the order encoding, Headers, flavour, then asks for the
// path; the presets stay applied when the save dialog is cancelled.

void MainWindow::exportCsv(CsvPreset preset)
{
    ExportOptions options = readExportOptions();
    const TextEncoding before = options.encoding;
    m_exportFlavor = applyCsvPreset(preset, options, columnModel());
    if (options.encoding != before)
        encodingRadio(options.encoding)->setChecked(true);
    m_headersCheck->setChecked(options.headers);
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
    request.columns = columnModel();
    request.exportFileName = answer->fileName;
    request.format.delimiter = listSeparatorChar();
    request.format.quoteMark = quoteMark();
    startRun(request);
}

void MainWindow::openPreview()
{
    if (!m_filesLoaded) {
        Dialogs::beep();
        return;
    }
    if (!m_previewWindow) {
        m_previewWindow = new PreviewWindow(this);
        connect(m_previewWindow, &PreviewWindow::columnModelChosen, this,
                [this](ColumnModel columns) { setAllFields(columns == ColumnModel::AllFields); });
    }
    m_previewWindow->setColumnModel(columnModel());
    // The window keeps a copy of the loaded lines that shares their text, so loading more or
    // "Clear" later changes nothing it shows.
    m_previewWindow->showTable(loadedCards().loadedLines, {listSeparatorChar(), quoteMark()}, m_sortCheck->isChecked());
    m_previewWindow->show();
    m_previewWindow->raise();
    m_previewWindow->activateWindow();
}
