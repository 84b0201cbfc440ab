#pragma once

#include "engine/previewtable.h"
#include "windows/previewrun.h"

#include <QWidget>

class PreviewModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QTableView;

/**
 * The caption of a CSV preset's menu entry, with its Alt letter, in the current language. With
 * All fields the Yahoo caption adds that it keeps its fifteen columns.
 */
QString csvPresetCaption(CsvPreset preset, ColumnModel columns = ColumnModel::Fifteen);

/**
 * The Preview window: the table that a CSV export writes from the loaded files, in a layout
 * chosen in the window (the presets of the export menu; the main window's controls stay as
 * they are), with the fifteen columns or All fields, ordered as the main window's Sort says,
 * with a line of counts. Nothing is written. All fields is the main window's option: the
 * window follows it (setColumnModel) and tells when the user changes it here.
 *
 * The rows of the first cards show at once, then the whole table replaces them once a run on
 * a thread of its own has built it (see PreviewRun); a change of layout or Sort starts the
 * table again. Closing the window stops that work and waits for its thread, moments at most.
 *
 * Controls have object names for their roles ("presetCombo", "allFieldsCheck", "previewTable",
 * "countsLabel", "previewProgress"), by which tests find them.
 */
class PreviewWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewWindow(QWidget *parent = nullptr);
    ~PreviewWindow() override;

    /**
     * Shows the table of lines (a copy that shares their text, kept for later changes of layout
     * and Sort): rows with the given delimiter and quote mark, sorted when sort is set.
     */
    void showTable(const TextLines &lines, RowFormat format, bool sort);
    /** Follows the main window's Sort: the table is built again in the new order. */
    void setSort(bool sort);
    /** Follows the main window's All fields: the check box shows it, and a table shown is built again. */
    void setColumnModel(ColumnModel columns);
    /** All fields while its check box is checked, else the fifteen columns. */
    ColumnModel columnModel() const;
    /** For tests: observer is called on each later run's own thread with its reports (see PreviewRun). */
    void setRunObserver(PreviewRun::Observer observer) { m_runObserver = std::move(observer); }
    /** Whether a run is building a table. */
    bool isBuilding() const { return m_run != nullptr; }

Q_SIGNALS:
    /** The first cards' rows are shown; the whole table follows. */
    void firstRowsShown();
    /** The whole table is shown. */
    void tableShown();
    /** The user checked or cleared All fields in this window (not sent for setColumnModel). */
    void columnModelChosen(ColumnModel columns);

protected:
    /** Asks the work to stop at once; the window's deletion, which follows, waits for it. */
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void translateCaptions();
    /** The layouts' names for a column model: with All fields the Yahoo one says it keeps fifteen. */
    void setPresetCaptions(ColumnModel columns);
    void startRun();
    void stopRun();
    void onFirstRowsReady(const SharedPreviewTable &table);
    void onFinished(const SharedPreviewTable &table);
    void onOutOfMemory();
    void showRows(const SharedPreviewTable &table);
    /** Fits each column to its header and first rows, up to a width that leaves room for others. */
    void fitColumns();
    QString countsText(const PreviewTable &table) const;

    QLabel *m_presetLabel = nullptr;
    QComboBox *m_presetCombo = nullptr;
    QCheckBox *m_allFieldsCheck = nullptr;
    QTableView *m_tableView = nullptr;
    QLabel *m_countsLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    PreviewModel *m_model = nullptr;

    TextLines m_lines;
    RowFormat m_format;
    bool m_sort = true;
    PreviewRun *m_run = nullptr; // while a table is being built
    PreviewRun::Observer m_runObserver;
};
