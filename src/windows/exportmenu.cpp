// The export menu of the main window: its entries, their presets and the start of a job.

#include "core/startup.h"
#include "windows/mainwindow.h"
#include "widgets/dialogs.h"
#include "windows/exportthread.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMenu>
#include <QRadioButton>

namespace {

QIcon MenuIcon(const QString &role)
{
    return QIcon(QStringLiteral(":/icons/16/") + role + QStringLiteral(".png"));
}

QFont MenuFont()
{
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    return font;
}

} // namespace

void TAppForm::CreateExportMenu()
{
    PopupMenu2 = new QMenu(this);
    CommaseparatedvaluesCSV1 = PopupMenu2->addMenu(MenuIcon(QStringLiteral("csv")), QString());
    DefaultFormat1 = CommaseparatedvaluesCSV1->addAction(MenuIcon(QStringLiteral("table")), QString());
    ExcelCSVFormat1 = CommaseparatedvaluesCSV1->addAction(MenuIcon(QStringLiteral("excel48")), QString());
    GoogleCSVFormat1 = CommaseparatedvaluesCSV1->addAction(MenuIcon(QStringLiteral("gmail")), QString());
    OutlookCSVFormat1 = CommaseparatedvaluesCSV1->addAction(MenuIcon(QStringLiteral("outlook")), QString());
    YahooCSVFormat1 = CommaseparatedvaluesCSV1->addAction(MenuIcon(QStringLiteral("yahoo")), QString());
    ExcelXLS1 = PopupMenu2->addAction(MenuIcon(QStringLiteral("xls")), QString());
    extTXT1 = PopupMenu2->addAction(MenuIcon(QStringLiteral("txt")), QString());
    PopupMenu2->setFont(MenuFont());
    CommaseparatedvaluesCSV1->setFont(MenuFont());

    // Queued, so that the menu has closed (and its nested event loop ended) before the save
    // dialog opens.
    const auto entry = [this](QAction *action, void (TAppForm::*handler)()) {
        connect(action, &QAction::triggered, this, handler, Qt::QueuedConnection);
    };
    entry(DefaultFormat1, &TAppForm::DefaultFormat1Click);
    entry(ExcelCSVFormat1, &TAppForm::ExcelCSVFormat1Click);
    entry(GoogleCSVFormat1, &TAppForm::GoogleCSVFormat1Click);
    entry(OutlookCSVFormat1, &TAppForm::OutlookCSVFormat1Click);
    entry(YahooCSVFormat1, &TAppForm::YahooCSVFormat1Click);
    entry(ExcelXLS1, &TAppForm::ExcelXLS1Click);
    entry(extTXT1, &TAppForm::extTXT1Click);
}

// Each entry applies its presets in the order encoding, Headers, flavour, then asks for the
// path; the presets stay applied when the save dialog is cancelled.

void TAppForm::DefaultFormat1Click()
{
    m_exportFlavor.clear();
    Donustur(QStringLiteral("CSV"));
}

void TAppForm::ExcelCSVFormat1Click()
{
    RadioButton3->setChecked(true);
    m_exportFlavor.clear();
    Donustur(QStringLiteral("CSV"));
}

void TAppForm::GoogleCSVFormat1Click()
{
    if (RadioButton3->isChecked())
        RadioButton2->setChecked(true);
    CheckBox1->setChecked(true);
    m_exportFlavor = QStringLiteral("google");
    Donustur(QStringLiteral("CSV"));
}

void TAppForm::OutlookCSVFormat1Click()
{
    RadioButton1->setChecked(true);
    CheckBox1->setChecked(true);
    m_exportFlavor = QStringLiteral("outlook");
    Donustur(QStringLiteral("CSV"));
}

void TAppForm::YahooCSVFormat1Click()
{
    if (RadioButton3->isChecked())
        RadioButton2->setChecked(true);
    CheckBox1->setChecked(true);
    m_exportFlavor = QStringLiteral("yahoo");
    Donustur(QStringLiteral("CSV"));
}

void TAppForm::ExcelXLS1Click()
{
    Donustur(QStringLiteral("XLS"));
}

void TAppForm::extTXT1Click()
{
    Donustur(QStringLiteral("TXT"));
}

void TAppForm::Donustur(const QString &Filetype)
{
    if (Filetype == QLatin1String("XLS"))
        m_saveFilterIndex = 1;
    else if (Filetype == QLatin1String("CSV"))
        m_saveFilterIndex = 3;
    else if (Filetype == QLatin1String("TXT"))
        m_saveFilterIndex = 4;

    Dialogs::SaveRequest dialog;
    dialog.nameFilters = m_saveFilters;
    dialog.filterIndex = m_saveFilterIndex;
    dialog.initialPath = m_lastSavePath;
    dialog.defaultSuffix = QStringLiteral("xls");
    const std::optional<Dialogs::SaveAnswer> answer = Dialogs::GetSaveFileName(this, dialog);
    if (!answer || answer->fileName.isEmpty())
        return;
    m_lastSavePath = answer->fileName;
    m_saveFilterIndex = answer->filterIndex;

    // The job gets its own copy of the request and takes a snapshot of the loaded lines on
    // its own thread; Ekle and ClearNow wait for that (WaitForSnapshots), so neither a later
    // export nor loading or "Clear" changes what it reads.
    ExportRequest request;
    request.ExportFileType = Filetype;
    request.ExportFlavor = m_exportFlavor;
    request.ExportFileName = answer->fileName;
    RowFormat format;
    format.delimiter = ListSeparatorChar();
    format.quoteMark = QuoteMark().isEmpty() ? QChar(u'"') : QuoteMark().at(0);

    auto *job = new TVCardConvertor(this, request, &Loaded().LoadedLines, &m_snapshotsTaken, format);
    ++m_runningJobs;
    ++m_pendingSnapshots;
    connect(job, &QThread::finished, this, &TAppForm::JobEnded);
    job->start();
}
