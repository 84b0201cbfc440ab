#include "windows/previewwindow.h"

#include "i18n/translate.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"
#include "windows/previewmodel.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTableView>
#include <QVBoxLayout>

// How the table arrives: a run on its own thread first builds the rows of the first cards,
// which takes moments however large the address book is, and the window shows them at once;
// then it builds the whole table with the export's own steps, and the window swaps it in. The
// whole table is never shown in pieces: an export sorts all rows before it writes any, so the
// first rows of a sorted file are known only at the end. Until then the counts line says that
// it is still counting and, when Sort is on, that the rows shown are in the file's order.

namespace {

/* The most pixels a column takes when it is fitted to its contents; the user may widen it. */
constexpr int kWidestFittedColumn = 320;
/* How many of the first rows a column is fitted to. */
constexpr int kRowsMeasured = 50;

/* The presets in the order of the export menu, with the menu's icons. */
struct PresetEntry {
    CsvPreset preset;
    const char *icon;
};
constexpr PresetEntry kPresetEntries[] = {
    {CsvPreset::Default, "table"},   {CsvPreset::Excel, "excel48"}, {CsvPreset::Google, "gmail"},
    {CsvPreset::Outlook, "outlook"}, {CsvPreset::Yahoo, "yahoo"},
};

} // namespace

QString csvPresetCaption(CsvPreset preset, ColumnModel columns)
{
    switch (preset) {
    case CsvPreset::Default:
        break;
    case CsvPreset::Excel:
        return translateCaption(QStringLiteral("&Excel CSV Format"));
    case CsvPreset::Google:
        return translateCaption(QStringLiteral("&Google CSV Format"));
    case CsvPreset::Outlook:
        return translateCaption(QStringLiteral("&Outlook CSV Format"));
    case CsvPreset::Yahoo: {
        // Yahoo's importer gets the fifteen columns whatever the model; with All fields on, the
        // entry says so.
        QString caption = translateCaption(QStringLiteral("&Yahoo CSV Format"));
        if (columns == ColumnModel::AllFields)
            return caption + u' ' + translate(QStringLiteral("(15 columns)"));
        return caption;
    }
    }
    return translateCaption(QStringLiteral("&Default CSV Format"));
}

PreviewWindow::PreviewWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    // Closing ends the work and lets go of the copy of the loaded lines.
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    setObjectNames({
        {m_presetLabel, "presetLabel"},
        {m_presetCombo, "presetCombo"},
        {m_allFieldsCheck, "allFieldsCheck"},
        {m_tableView, "previewTable"},
        {m_countsLabel, "countsLabel"},
        {m_progressBar, "previewProgress"},
    });
    translateCaptions();
    resize(760, 460);
}

PreviewWindow::~PreviewWindow()
{
    stopRun();
}

void PreviewWindow::closeEvent(QCloseEvent *event)
{
    if (m_run)
        m_run->stop();
    QWidget::closeEvent(event);
}

void PreviewWindow::createControls()
{
    auto *column = new QVBoxLayout(this);

    auto *presetRow = new QHBoxLayout;
    m_presetLabel = new QLabel(this);
    m_presetLabel->setTextFormat(Qt::PlainText);
    m_presetCombo = new QComboBox(this);
    // Its size hint follows the names, which All fields changes (see translateCaptions).
    m_presetCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const PresetEntry &entry : kPresetEntries)
        m_presetCombo->addItem(roleIcon(QLatin1String(entry.icon)), QString(), int(entry.preset));
    m_presetLabel->setBuddy(m_presetCombo);
    m_allFieldsCheck = new QCheckBox(this);
    presetRow->addWidget(m_presetLabel);
    presetRow->addWidget(m_presetCombo);
    presetRow->addWidget(m_allFieldsCheck);
    presetRow->addStretch();
    column->addLayout(presetRow);

    m_model = new PreviewModel(this);
    m_tableView = new QTableView(this);
    m_tableView->setModel(m_model);
    m_tableView->setWordWrap(false);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->setSelectionMode(QAbstractItemView::ContiguousSelection);
    // Rows of one height: the view places a million of them without asking for their sizes.
    m_tableView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tableView->verticalHeader()->setDefaultSectionSize(m_tableView->fontMetrics().height() + 6);
    column->addWidget(m_tableView, 1);

    auto *statusRow = new QHBoxLayout;
    m_countsLabel = new QLabel(this);
    m_countsLabel->setTextFormat(Qt::PlainText);
    m_countsLabel->setWordWrap(true);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedWidth(160);
    m_progressBar->hide();
    statusRow->addWidget(m_countsLabel, 1);
    statusRow->addWidget(m_progressBar);
    column->addLayout(statusRow);

    auto *closeAction = new QAction(this);
    closeAction->setShortcut(QKeySequence::Cancel);
    addAction(closeAction);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    connect(m_presetCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_lines.isEmpty())
            startRun();
    });
    connect(m_allFieldsCheck, &QCheckBox::toggled, this, [this] {
        setPresetCaptions(columnModel());
        if (!m_lines.isEmpty())
            startRun();
    });
    // Only the user's own change goes back to the main window, which keeps the option.
    connect(m_allFieldsCheck, &QCheckBox::clicked, this, [this] { Q_EMIT columnModelChosen(columnModel()); });
}

void PreviewWindow::translateCaptions()
{
    setWindowTitle(translate(QStringLiteral("Preview")));
    m_presetLabel->setText(translateCaption(QStringLiteral("&Layout:")));
    m_allFieldsCheck->setText(translateCaption(QStringLiteral("&All fields")));
    // The layouts' names with All fields on are the longest: the combo keeps their width, so
    // that the check box beside it stays in place when the option changes.
    setPresetCaptions(ColumnModel::AllFields);
    m_presetCombo->setMinimumWidth(m_presetCombo->sizeHint().width());
    setPresetCaptions(columnModel());
}

void PreviewWindow::setPresetCaptions(ColumnModel columns)
{
    for (int i = 0; i < m_presetCombo->count(); ++i) {
        const auto preset = CsvPreset(m_presetCombo->itemData(i).toInt());
        m_presetCombo->setItemText(i, withoutMnemonic(csvPresetCaption(preset, columns)));
    }
}

void PreviewWindow::showTable(const TextLines &lines, RowFormat format, bool sort)
{
    m_lines = lines;
    m_format = format;
    m_sort = sort;
    startRun();
}

void PreviewWindow::setSort(bool sort)
{
    if (sort == m_sort)
        return;
    m_sort = sort;
    if (!m_lines.isEmpty())
        startRun();
}

void PreviewWindow::setColumnModel(ColumnModel columns)
{
    // A change rebuilds the table through the check box's toggled signal.
    m_allFieldsCheck->setChecked(columns == ColumnModel::AllFields);
}

ColumnModel PreviewWindow::columnModel() const
{
    return m_allFieldsCheck->isChecked() ? ColumnModel::AllFields : ColumnModel::Fifteen;
}

void PreviewWindow::startRun()
{
    stopRun();
    PreviewRequest request;
    request.preset = CsvPreset(m_presetCombo->currentData().toInt());
    request.columns = columnModel();
    request.format = m_format;
    request.sort = m_sort;
    m_run = new PreviewRun(m_lines, request, m_runObserver, this);
    // The run is the context: what it reported and the window has not taken yet goes with it.
    connect(m_run, &PreviewRun::firstRowsReady, m_run,
            [this](const SharedPreviewTable &table) { onFirstRowsReady(table); });
    connect(m_run, &PreviewRun::progressed, m_run, [this](int percent) { m_progressBar->setValue(percent); });
    connect(m_run, &PreviewRun::finished, m_run, [this](const SharedPreviewTable &table) { onFinished(table); });
    connect(m_run, &PreviewRun::outOfMemory, m_run, [this] { onOutOfMemory(); });
    m_countsLabel->setText(translate(QStringLiteral("Reading the loaded files...")));
    m_progressBar->setValue(0);
    m_progressBar->show();
    m_run->start();
}

void PreviewWindow::stopRun()
{
    delete m_run; // stops the run and waits for its thread
    m_run = nullptr;
}

void PreviewWindow::onFirstRowsReady(const SharedPreviewTable &table)
{
    showRows(table);
    Q_EMIT firstRowsShown();
}

void PreviewWindow::onFinished(const SharedPreviewTable &table)
{
    m_run->deleteLater(); // its thread ends moments after this report
    m_run = nullptr;
    m_progressBar->hide();
    showRows(table);
    Q_EMIT tableShown();
}

void PreviewWindow::onOutOfMemory()
{
    m_run->deleteLater();
    m_run = nullptr;
    m_progressBar->hide();
    m_countsLabel->setText(translate(QStringLiteral("Not enough memory to preview the whole table.")));
}

void PreviewWindow::showRows(const SharedPreviewTable &table)
{
    // The whole table after its first rows keeps the columns' widths (the user's too); a
    // table of other columns is fitted to its header and first rows.
    QHeaderView *header = m_tableView->horizontalHeader();
    const bool sameColumns = m_model->table() && m_model->table()->columnNames == table->columnNames;
    QList<int> widths;
    for (int section = 0; sameColumns && section < header->count(); ++section)
        widths.append(header->sectionSize(section));
    m_model->setTable(table);
    m_countsLabel->setText(countsText(*table));
    if (sameColumns) {
        for (int section = 0; section < widths.size(); ++section)
            header->resizeSection(section, widths.at(section));
        return;
    }
    fitColumns();
}

void PreviewWindow::fitColumns()
{
    // Measured here rather than by the view's own fitting, which right after a reset of the
    // model measures every row: a few hundred milliseconds of the window's thread at the first
    // rows of a large book, and more at its whole table.
    const int grid = m_tableView->showGrid() ? 1 : 0;
    const int rows = std::min(m_model->rowCount(), kRowsMeasured);
    QHeaderView *header = m_tableView->horizontalHeader();
    for (int column = 0; column < m_model->columnCount(); ++column) {
        int width = header->sectionSizeHint(column);
        for (int row = 0; row < rows && width < kWidestFittedColumn; ++row)
            width = std::max(width, m_tableView->sizeHintForIndex(m_model->index(row, column)).width() + grid);
        header->resizeSection(column, std::min(width, kWidestFittedColumn));
    }
}

QString PreviewWindow::countsText(const PreviewTable &table) const
{
    // Grouped as the user's locale groups digits: a million contacts reads at a glance.
    const QLocale locale;
    const QString contacts = locale.toString(table.counts.contacts);
    const QString rows = locale.toString(table.counts.rows);
    const QString columns = locale.toString(table.counts.columns);
    if (table.complete)
        return translate(QStringLiteral("%1 contacts read, %2 rows after duplicates were dropped, %3 columns"))
            .arg(contacts, rows, columns);
    QString text = translate(QStringLiteral("Still counting: the first %1 contacts give %2 rows in %3 columns."))
                       .arg(contacts, rows, columns);
    if (m_sort)
        text += u' ' + translate(QStringLiteral("They are shown in file order until all rows are sorted."));
    return text;
}
