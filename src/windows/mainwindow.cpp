#include "windows/mainwindow.h"

#include "core/startup.h"
#include "i18n/translate.h"
#include "online/updatecheck.h"
#include "online/updatestore.h"
#include "platform/launcherprogress.h"
#include "platform/webhost.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "windows/aboutwindow.h"
#include "windows/feedbackwindow.h"
#include "windows/languagewindow.h"
#include "windows/newversionnotice.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr int kClientWidth = 497;
constexpr int kClientHeight = 308;
constexpr int kMenuBarHeight = 25;
constexpr int kBigButtonIcon = 32;

/* A row of controls side by side from the left, of a fixed height. */
QWidget *makeRow(QWidget *parent, int height, QHBoxLayout *&layout)
{
    auto *row = new QWidget(parent);
    if (height > 0)
        row->setFixedHeight(height);
    layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 0, 0, 0);
    layout->setSpacing(0);
    return row;
}

/* A widget with a margin on each side, as one item of the window's column. */
QWidget *withMargins(QWidget *parent, QWidget *child, int left, int top, int right, int bottom)
{
    auto *box = new QWidget(parent);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    child->setParent(box);
    layout->addWidget(child);
    return box;
}

} // namespace

/* Headers, Sort and the encoding as the controls show them, for the exports' threads to read. */
class OptionsSnapshot
{
public:
    void set(const ExportOptions &options)
    {
        const std::lock_guard lock(m_mutex);
        m_options = options;
    }

    ExportOptions get() const
    {
        const std::lock_guard lock(m_mutex);
        return m_options;
    }

private:
    mutable std::mutex m_mutex;
    ExportOptions m_options;
};

std::function<quint32()> &MainWindow::tickCount = MenuUnderButton::tickCount;

// ---- MainWindow: creation -----------------------------------------------------------------------

MainWindow::MainWindow(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , m_arguments(arguments)
    , m_options(std::make_shared<OptionsSnapshot>())
{
    initIconResources();
    setWindowTitle(appIdentity().appCaption); // never translated
    setWindowIcon(roleIcon(QStringLiteral("tessaly")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(pixelFont(11));
    setAcceptDrops(true);

    createControls();
    createMenus();
    createExportMenu();
    createTrayIcon();

    m_quitTimer = new QTimer(this);
    m_quitTimer->setSingleShot(true);
    connect(m_quitTimer, &QTimer::timeout, this, &MainWindow::quitAfterExports);

    updateCheckTimer = new QTimer(this);
    updateCheckTimer->setInterval(1000);
    connect(updateCheckTimer, &QTimer::timeout, this, &MainWindow::onUpdateCheckTimer);
    updateCheckTimer->start();

    translateCaptions();
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow()
{
    stopExportsQuietly();
    delete trayIcon;
}

void MainWindow::createControls()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    loadButton = new GlyphButton;
    loadButton->setFixedHeight(50);
    loadButton->setFont(pixelFont(19));
    loadButton->setIcon(roleIcon(QStringLiteral("folder48")));
    loadButton->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    loadButton->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(withMargins(central, loadButton, 3, 3, 3, 3));

    QHBoxLayout *row = nullptr;
    encodingPanel = makeRow(central, 40, row);
    encodingLabel = new QLabel(encodingPanel);
    encodingLabel->setFont(pixelFont(16));
    encodingLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    encodingLabel->setContentsMargins(0, 0, 5, 0);
    encodingLabel->setTextFormat(Qt::PlainText);
    ansiRadio = new QRadioButton(QStringLiteral("ANSI"), encodingPanel);
    utf8Radio = new QRadioButton(QStringLiteral("UTF-8"), encodingPanel);
    utf16Radio = new QRadioButton(QStringLiteral("UTF-16"), encodingPanel);
    const std::pair<QRadioButton *, int> radios[] = {{ansiRadio, 73}, {utf8Radio, 82}, {utf16Radio, 82}};
    row->addWidget(encodingLabel);
    for (const auto &[radio, width] : radios) {
        radio->setFont(pixelFont(19));
        // The designed width, or wider where this desktop's font needs it.
        radio->setFixedWidth(std::max(width, radio->sizeHint().width()));
        row->addWidget(radio);
    }
    row->addStretch();
    // One group: Tab stops at the checked button only and the arrow keys move the choice, so
    // tabbing into the row never lands on an unchecked encoding that Space would choose.
    encodingGroup = new QButtonGroup(this);
    for (const auto &[radio, width] : radios)
        encodingGroup->addButton(radio);
    connect(encodingGroup, &QButtonGroup::buttonToggled, this, &MainWindow::updateEncodingTabStop);
    utf8Radio->setChecked(true);
    column->addWidget(encodingPanel);

    optionsPanel = makeRow(central, 0, row);
    optionsLabel = new QLabel(optionsPanel);
    optionsLabel->setFont(pixelFont(16));
    optionsLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    optionsLabel->setContentsMargins(0, 0, 5, 0);
    optionsLabel->setTextFormat(Qt::PlainText);
    sortCheck = new QCheckBox(optionsPanel);
    headersCheck = new QCheckBox(optionsPanel);
    for (QCheckBox *box : {sortCheck, headersCheck}) {
        box->setFont(pixelFont(19));
        box->setChecked(true);
    }
    row->addWidget(optionsLabel);
    row->addWidget(sortCheck);
    row->addWidget(headersCheck);
    row->addStretch();
    column->addWidget(optionsPanel, 1);

    exportButton = new GlyphButton;
    exportButton->setFixedHeight(50);
    exportButton->setFont(pixelFont(19));
    QIcon saveIcon(QStringLiteral(":/icons/save48.svg"));
    saveIcon.addFile(QStringLiteral(":/icons/saveblack48.svg"), QSize(), QIcon::Disabled);
    exportButton->setIcon(saveIcon);
    exportButton->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    column->addWidget(withMargins(central, exportButton, 3, 3, 3, 3));

    buttonPanel = makeRow(central, 56, row);
    row->setContentsMargins(3, 3, 3, 3);
    row->setSpacing(3);
    feedbackButton = new QPushButton(buttonPanel);
    aboutButton = new QPushButton(buttonPanel);
    feedbackButton->setFixedSize(244 - 3, 50);
    aboutButton->setFixedHeight(50);
    feedbackButton->setIcon(roleIcon(QStringLiteral("feedback")));
    aboutButton->setIcon(roleIcon(QStringLiteral("about")));
    for (QPushButton *button : {feedbackButton, aboutButton}) {
        button->setFont(pixelFont(16));
        button->setIconSize(QSize(24, 24));
    }
    row->addWidget(feedbackButton);
    row->addWidget(aboutButton, 1);
    column->addWidget(buttonPanel);

    progressBar = new QProgressBar;
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressBar->setFixedHeight(17);
    column->addWidget(withMargins(central, progressBar, 4, 0, 4, 3));

    setCentralWidget(central);
    disableExportControls();

    // An export reads the options on its own thread when it reaches its writing stage.
    m_options->set(readExportOptions());
    const auto keepOptions = [this] { m_options->set(readExportOptions()); };
    connect(headersCheck, &QCheckBox::toggled, this, keepOptions);
    connect(sortCheck, &QCheckBox::toggled, this, keepOptions);
    connect(encodingGroup, &QButtonGroup::buttonToggled, this, keepOptions);

    connect(loadButton, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(exportButton, &QPushButton::clicked, this, &MainWindow::onExportClicked);
    connect(feedbackButton, &QPushButton::clicked, this, &MainWindow::openFeedbackWindow);
    connect(aboutButton, &QPushButton::clicked, this, &MainWindow::openAboutWindow);
}

void MainWindow::updateEncodingTabStop()
{
    for (QAbstractButton *radio : encodingGroup->buttons())
        radio->setFocusPolicy(radio->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void MainWindow::createMenus()
{
    mainMenuBar = new QMenuBar(this);
    mainMenuBar->setFixedHeight(kMenuBarHeight);
    mainMenuBar->setFont(pixelFont(12, QStringLiteral("Segoe UI")));
    setMenuBar(mainMenuBar);

    const auto action = [this](QMenu *menu, const QString &role) {
        QAction *item = menu->addAction(QString());
        if (!role.isEmpty())
            item->setIcon(roleIcon(role));
        return item;
    };

    fileMenu = mainMenuBar->addMenu(QString());
    clearAction = action(fileMenu, QStringLiteral("page_white"));
    loadAction = action(fileMenu, QStringLiteral("folder48"));
    exportAction = action(fileMenu, QStringLiteral("save48"));
    stopExportAction = action(fileMenu, QStringLiteral("stop"));
    stopExportAction->setShortcut(QKeySequence(Qt::Key_Escape));
    stopExportAction->setEnabled(false);
    fileMenu->addSeparator();
    exitAction = action(fileMenu, QStringLiteral("exit"));
    loadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    helpMenu = mainMenuBar->addMenu(QString());
    helpAction = action(helpMenu, QStringLiteral("help"));
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    helpAction->setShortcutContext(Qt::ApplicationShortcut);
    helpMenu->addSeparator();
    updateNotificationsAction = action(helpMenu, QString());
    updateNotificationsAction->setCheckable(true);
    updateNotificationsAction->setChecked(true);
    updateNotificationsAction->setEnabled(false);
    helpMenu->addSeparator();
    languageAction = action(helpMenu, QStringLiteral("flag"));
    feedbackAction = action(helpMenu, QStringLiteral("feedback"));
    aboutAction = action(helpMenu, QStringLiteral("about"));

    loadMenu = new QMenu(this);
    loadMenuClearAction = action(loadMenu, QStringLiteral("page_white"));

    for (QMenu *menu : {fileMenu, helpMenu, loadMenu})
        menu->setFont(pixelFont(12, QStringLiteral("Segoe UI")));

    connect(clearAction, &QAction::triggered, this, &MainWindow::clearLoaded);
    connect(loadMenuClearAction, &QAction::triggered, this, &MainWindow::clearLoaded);
    connect(loadAction, &QAction::triggered, loadButton, &QPushButton::click);
    connect(exportAction, &QAction::triggered, this, &MainWindow::onExportTriggered);
    connect(stopExportAction, &QAction::triggered, this, &MainWindow::stopExports);
    // Through the window's closing, which asks first while an export runs.
    connect(exitAction, &QAction::triggered, this, &QWidget::close, Qt::QueuedConnection);
    connect(helpAction, &QAction::triggered, this, &MainWindow::openHelp);
    connect(updateNotificationsAction, &QAction::triggered, this, &MainWindow::onUpdateNotificationsTriggered);
    connect(languageAction, &QAction::triggered, this, &MainWindow::openLanguageWindow);
    connect(feedbackAction, &QAction::triggered, feedbackButton, &QPushButton::click);
    connect(aboutAction, &QAction::triggered, aboutButton, &QPushButton::click);
    connect(loadButton, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { loadMenu->exec(loadButton->mapToGlobal(at)); });
}

void MainWindow::createTrayIcon()
{
    trayMenu = new QMenu(this);
    trayMenu->setFont(pixelFont(12, QStringLiteral("Segoe UI")));
    trayHelpAction = trayMenu->addAction(roleIcon(QStringLiteral("help")), QString());
    trayHelpAction->setShortcut(QKeySequence(Qt::Key_F1));
    trayHelpAction->setShortcutContext(Qt::WidgetShortcut); // F1 itself is the Help menu's
    trayMenu->addSeparator();
    trayLanguageAction = trayMenu->addAction(roleIcon(QStringLiteral("flag")), QString());
    trayFeedbackAction = trayMenu->addAction(roleIcon(QStringLiteral("feedback")), QString());
    trayAboutAction = trayMenu->addAction(roleIcon(QStringLiteral("about")), QString());
    trayMenu->addSeparator();
    trayExitAction = trayMenu->addAction(roleIcon(QStringLiteral("exit")), QString());

    connect(trayHelpAction, &QAction::triggered, this, &MainWindow::openHelp);
    connect(trayLanguageAction, &QAction::triggered, this, &MainWindow::openLanguageWindow);
    connect(trayFeedbackAction, &QAction::triggered, feedbackButton, &QPushButton::click);
    connect(trayAboutAction, &QAction::triggered, aboutButton, &QPushButton::click);
    connect(trayExitAction, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    // Where the desktop has no notification area the program simply runs without the icon.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayIcon = new QSystemTrayIcon(roleIcon(QStringLiteral("tessaly")));
    trayIcon->setToolTip(appIdentity().appCaption);
    trayIcon->setContextMenu(trayMenu);
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            onTrayIconClicked();
    });
    // A click on the result's notification ends the wait for the program's end.
    connect(trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_quitTimer->isActive())
            quitAfterExports();
    });
    trayIcon->show();
}

void MainWindow::translateCaptions()
{
    // 1. Menu bar
    fileMenu->setTitle(translate(QStringLiteral("File")));
    clearAction->setText(translate(QStringLiteral("Clear")));
    loadAction->setText(translate(QStringLiteral("Load vCards from VCF file...")));
    exportAction->setText(translate(QStringLiteral("Export to File...")));
    stopExportAction->setText(translate(QStringLiteral("Stop Export")));
    exitAction->setText(translate(QStringLiteral("Exit")));
    helpMenu->setTitle(translate(QStringLiteral("Help")));
    helpAction->setText(translate(QStringLiteral("Online Help")));
    updateNotificationsAction->setText(translate(QStringLiteral("Update Notifications")));
    languageAction->setText(translate(QStringLiteral("Language...")));
    feedbackAction->setText(translate(QStringLiteral("Send Feedback...")));
    aboutAction->setText(translate(QStringLiteral("About")));
    // 2. Tray menu
    trayHelpAction->setText(translate(QStringLiteral("Online Help")));
    trayLanguageAction->setText(translate(QStringLiteral("Language...")));
    trayFeedbackAction->setText(translate(QStringLiteral("Send Feedback...")));
    trayAboutAction->setText(translate(QStringLiteral("About")));
    trayExitAction->setText(translate(QStringLiteral("Exit")));
    // 3. Options and buttons
    sortCheck->setText(translate(QStringLiteral("Sort")));
    headersCheck->setText(translate(QStringLiteral("Headers")));
    m_loadCaption = translate(QStringLiteral("Load vCards from VCF file..."));
    loadButton->setText(m_loadCaption);
    exportButton->setText(translate(QStringLiteral("Export to File...")));
    feedbackButton->setText(translate(QStringLiteral("Send Feedback...")));
    aboutButton->setText(translate(QStringLiteral("About...")));
    // 4. Export menu
    xlsAction->setText(translate(QStringLiteral("Excel File (XLS)...")));
    csvMenu->setTitle(translate(QStringLiteral("Comma-Separated Values File (CSV)...")));
    txtAction->setText(translate(QStringLiteral("Text File (TXT)...")));
    // 5. and 6. File types of the open and save dialogs
    m_openFilter = Dialogs::nameFilter(translate(QStringLiteral("VCF Files (*.vcf)")), QStringLiteral("*.vcf"));
    m_saveFilters = {
        Dialogs::nameFilter(translate(QStringLiteral("Excel File (*.xls)")), QStringLiteral("*.xls")),
        Dialogs::nameFilter(translate(QStringLiteral("Excel 2007 File (*.xlsx)")), QStringLiteral("*.xlsx")),
        Dialogs::nameFilter(translate(QStringLiteral("CSV File (*.csv)")), QStringLiteral("*.csv")),
        Dialogs::nameFilter(translate(QStringLiteral("Text File (*.txt)")), QStringLiteral("*.txt")),
    };
    // 7. Load button menu
    loadMenuClearAction->setText(translate(QStringLiteral("Clear")));
    // 8. Hint
    headersCheck->setToolTip(translate(QStringLiteral("This is required for importing in Gmail and Outlook.")));
    // 9. Export submenu
    defaultCsvAction->setText(translate(QStringLiteral("Default CSV Format")));
    excelCsvAction->setText(translate(QStringLiteral("Excel CSV Format")));
    googleCsvAction->setText(translate(QStringLiteral("Google CSV Format")));
    outlookCsvAction->setText(translate(QStringLiteral("Outlook CSV Format")));
    yahooCsvAction->setText(translate(QStringLiteral("Yahoo CSV Format")));
    // 10. Labels
    encodingLabel->setText(translate(QStringLiteral("Encoding:")));
    optionsLabel->setText(translate(QStringLiteral("Options:")));
    // 11. Both labels take the wider one's width, so the radio buttons and the check boxes
    // start at the same place.
    const int width1 = encodingLabel->sizeHint().width();
    const int width2 = optionsLabel->sizeHint().width();
    if (width2 < width1) {
        encodingLabel->setFixedWidth(width1);
        optionsLabel->setFixedWidth(width1);
    } else {
        encodingLabel->setFixedWidth(width2);
        optionsLabel->setFixedWidth(width2);
    }
    // 12.
    fitCheckBoxToCaption(headersCheck);
    fitCheckBoxToCaption(sortCheck);
}

int MainWindow::scaleDimension(int X) const
{
    // Qt lays windows out in device-independent pixels, so the window's own dots per inch
    // are the screen's logical ones scaled by the device pixel ratio.
    const QScreen *screen = this->screen();
    if (!screen)
        return X;
    const double screenDpi = screen->logicalDotsPerInch();
    const double windowDpi = screenDpi * devicePixelRatioF() / screen->devicePixelRatio();
    return windowDpi > 0 ? qRound(X * screenDpi / windowDpi) : X;
}

void MainWindow::fitCheckBoxToCaption(QCheckBox *checkBox)
{
    const int textWidth = checkBox->fontMetrics().horizontalAdvance(checkBox->text());
    // Where this desktop's check box indicator needs more room than the designed 30 pixels,
    // the style's own size wins, so the caption is never cut.
    checkBox->setFixedWidth(std::max(textWidth + scaleDimension(30), checkBox->sizeHint().width()));
}

// ---- start, close, drop ------------------------------------------------------------------------

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        onFirstShow();
    }
}

void MainWindow::onFirstShow()
{
    // All arguments joined with blanks name one file, so an unquoted path with blanks loads.
    if (m_arguments.isEmpty())
        return;
    const QString path = m_arguments.join(u' ').trimmed();
    if (QFileInfo(path).isFile())
        loadFile(path);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_runs.empty()) {
        // The export's file comes first: the window closes once it is written, if the user
        // wants that, stays as it is, or the export stops and the window closes now. Asked once.
        event->ignore();
        if (m_closeWhenWritten)
            return;
        const CloseAnswer answer = askCloseDuringExport();
        if (answer == CloseAnswer::KeepOpen)
            return;
        if (answer == CloseAnswer::StopExport)
            stopExportsQuietly();
        // The export may have ended while the question was open; then the window closes now.
        if (!m_runs.empty()) {
            m_closeWhenWritten = true;
            // With a tray the window goes now and the tray icon tells how far the export is;
            // without one the window is all the user has, so it stays until the file is written.
            if (trayIcon) {
                hide();
                setProgress(progressBar->value());
            }
            return;
        }
    }
    QMainWindow::closeEvent(event);
    // The tray icon would otherwise keep the program alive with no window.
    qApp->quit();
}

MainWindow::CloseAnswer MainWindow::askCloseDuringExport()
{
    const QString question
        = translate(QStringLiteral("A file is still being exported.")) + QStringLiteral("\r\r")
          + translate(QStringLiteral("Close the program when the file is written, or keep the window open?"));
    const QMessageBox::StandardButton answer = Dialogs::showCaptionedDialog(
        this, question, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort,
        appIdentity().appCaption,
        {translate(QStringLiteral("Close When Written")), translate(QStringLiteral("Keep Window Open")),
         translate(QStringLiteral("Stop Export"))});
    if (answer == QMessageBox::Yes)
        return CloseAnswer::CloseWhenWritten;
    return answer == QMessageBox::Abort ? CloseAnswer::StopExport : CloseAnswer::KeepOpen;
}

/* The last export the user waited for has ended: the program ends, after its notification. */
void MainWindow::finishClosing()
{
    if (trayIcon && !isVisible()) {
        trayIcon->setToolTip(appIdentity().appCaption);
        m_quitTimer->start(notificationMs);
        return;
    }
    quitAfterExports();
}

void MainWindow::quitAfterExports()
{
    m_closeWhenWritten = false;
    if (trayIcon)
        trayIcon->hide();
    close(); // hidden or not, the window's closing ends the program
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    loadDroppedFiles(paths);
}

void MainWindow::loadDroppedFiles(const QStringList &paths)
{
    // Paths are taken whole, however long; folders are not searched.
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            continue;
        if (path.toLower().endsWith(QStringLiteral(".vcf")))
            loadFile(path);
    }
}

// ---- loading and clearing ------------------------------------------------------------------------

void MainWindow::updateLoadButtonCaption()
{
    loadButton->setText(m_loadCaption + QStringLiteral(" [") + QString::number(loadedCards().loadedFileCount) + u']');
}

void MainWindow::loadFile(const QString &inputfile)
{
    if (!QFileInfo::exists(inputfile))
        return;
    // A running export reads its own snapshot of the loaded lines, so loading goes on here.
    waitForSnapshots();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const LoadOutcome outcome = appendVcfFile(inputfile, selectedEncoding(), loadedCards());
    if (outcome.kind == LoadOutcome::Missing) { // vanished since the test above
        QApplication::restoreOverrideCursor();
        return;
    }
    if (!outcome.warningParagraphs.isEmpty())
        Dialogs::showMessage(this, MessageIcon::Warning, outcome.warningCaption,
                             outcome.warningParagraphs.join(QStringLiteral("\r\r")));
    updateLoadButtonCaption();
    QApplication::restoreOverrideCursor();
    m_filesLoaded = true;
    enableExportControls();
}

void MainWindow::onLoadClicked()
{
    const QStringList files = Dialogs::getOpenFileNames(this, m_openFilter);
    for (const QString &file : files)
        loadFile(file);
}

QRadioButton *MainWindow::encodingRadio(TextEncoding encoding) const
{
    switch (encoding) {
    case TextEncoding::Ansi:
        return ansiRadio;
    case TextEncoding::Utf8:
        return utf8Radio;
    case TextEncoding::Utf16:
        break;
    }
    return utf16Radio;
}

TextEncoding MainWindow::selectedEncoding() const
{
    if (ansiRadio->isChecked())
        return TextEncoding::Ansi;
    if (utf8Radio->isChecked())
        return TextEncoding::Utf8;
    if (utf16Radio->isChecked())
        return TextEncoding::Utf16;
    return TextEncoding::Utf8;
}

void MainWindow::enableExportControls()
{
    for (QWidget *control : std::initializer_list<QWidget *>{exportButton, ansiRadio, utf8Radio, utf16Radio,
                                                             headersCheck, sortCheck, encodingLabel, optionsLabel})
        control->setEnabled(true);
    Q_EMIT exportControlsEnabled();
}

void MainWindow::disableExportControls()
{
    for (QWidget *control : std::initializer_list<QWidget *>{exportButton, ansiRadio, utf8Radio, utf16Radio,
                                                             headersCheck, sortCheck, encodingLabel, optionsLabel})
        control->setEnabled(false);
}

void MainWindow::clearLoaded()
{
    waitForSnapshots();
    loadedCards().clearLoaded();
    loadButton->setText(m_loadCaption);
    m_filesLoaded = false;
    disableExportControls();
    progressBar->setValue(0);
    setLauncherProgress(0);
}

// ---- what a job asks of the window ------------------------------------------------------------

void MainWindow::setProgress(int value)
{
    progressBar->setValue(value);
    setLauncherProgress(value);
    if (m_closeWhenWritten && trayIcon && !isVisible())
        trayIcon->setToolTip(appIdentity().appCaption + u'\n'
                             + formatText(translate(QStringLiteral("Exporting: %s%")), QString::number(value)));
    Q_EMIT progressShown(value);
}

void MainWindow::restoreExportControls()
{
    // Not while another export still builds its rows: the button stays off until it writes.
    if (m_filesLoaded && m_writing.size() == m_runs.size())
        enableExportControls();
}

ExportOptions MainWindow::readExportOptions() const
{
    ExportOptions options;
    options.headers = headersCheck->isChecked();
    options.sort = sortCheck->isChecked();
    options.encoding = selectedEncoding();
    return options;
}

void MainWindow::startRun(const ExportRequest &request)
{
    ExportRequest ownRequest = request;
    ownRequest.readOptions = [options = m_options] { return options->get(); };
    auto *run
        = new ExportRun(std::move(ownRequest), &loadedCards().loadedLines, &m_snapshotsTaken, m_exportObserver, this);
    m_runs.push_back(run);
    ++m_pendingSnapshots;
    // The run is the context: what it reported and the window has not taken yet goes with it.
    connect(run, &ExportRun::progressed, run,
            [this, run](ExportStage stage, int percent) { onRunProgress(run, stage, percent); });
    connect(run, &ExportRun::messageReady, run, [this](const ExportMessage &message) { onRunMessage(message); });
    connect(run, &ExportRun::finished, run, [this, run] { onRunFinished(run); });
    exportButton->setEnabled(false);
    stopExportAction->setEnabled(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    run->start();
}

void MainWindow::onRunProgress(ExportRun *run, ExportStage stage, int percent)
{
    setProgress(percent);
    if (stage == ExportStage::Writing && std::find(m_writing.begin(), m_writing.end(), run) == m_writing.end()) {
        // The rows are finished: another export may start while this one writes.
        m_writing.push_back(run);
        restoreExportControls();
    }
}

void MainWindow::onRunMessage(const ExportMessage &message)
{
    // One box at a time, in the order of the messages; a box's own event loop may bring more.
    m_pendingMessages.append(message);
    if (m_showingMessages)
        return;
    m_showingMessages = true;
    while (!m_pendingMessages.isEmpty())
        showJobMessage(m_pendingMessages.takeFirst());
    m_showingMessages = false;
    settleWhenIdle();
}

void MainWindow::onRunFinished(ExportRun *run)
{
    // An export that ended before its writing stage (no data, no memory, stopped) gives the
    // controls back now; one that wrote gave them back when it began to write.
    const bool gaveControlsBack = std::erase(m_writing, run) > 0;
    std::erase(m_runs, run);
    run->deleteLater();
    QApplication::restoreOverrideCursor();
    stopExportAction->setEnabled(!m_runs.empty());
    if (!gaveControlsBack)
        restoreExportControls();
    settleWhenIdle();
}

/* Once no export runs and its last message was closed: the progress goes, the window may close. */
void MainWindow::settleWhenIdle()
{
    if (!m_runs.empty() || m_showingMessages)
        return;
    setProgress(0);
    if (m_closeWhenWritten)
        finishClosing();
}

void MainWindow::showJobMessage(const ExportMessage &message)
{
    QString text = message.paragraphs.join(QStringLiteral("\r\r"));
    if (!message.encodingNote.isEmpty())
        text += QStringLiteral("\r\r") + message.encodingNote;
    if (m_closing) {
        // The window is gone: the outcome still reaches the user who started the program.
        std::fprintf(stderr, "%s: %s\n", qPrintable(message.caption), qPrintable(Dialogs::displayText(text)));
        return;
    }
    if (m_closeWhenWritten && trayIcon && !isVisible()) {
        // The window was closed: the desktop tells the result.
        const QSystemTrayIcon::MessageIcon kinds[]
            = {QSystemTrayIcon::Information, QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
        trayIcon->showMessage(message.caption, Dialogs::displayText(text), kinds[int(message.icon)], notificationMs);
        return;
    }
    Dialogs::showMessage(this, message.icon, message.caption, text);
}

void MainWindow::waitForSnapshots()
{
    if (m_pendingSnapshots > 0) {
        m_snapshotsTaken.acquire(m_pendingSnapshots);
        m_pendingSnapshots = 0;
    }
}

void MainWindow::stopExports()
{
    for (ExportRun *run : m_runs)
        run->stop();
}

void MainWindow::stopExportsQuietly()
{
    m_closing = true;
    stopExports();
    const std::vector<ExportRun *> runs = m_runs;
    for (ExportRun *run : runs) {
        run->waitForEnd();
        // Its last reports, the "stopped" message among them, go to standard error now.
        QCoreApplication::sendPostedEvents(run, QEvent::MetaCall);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainWindow::endOnTerminationSignal()
{
    stopExportsQuietly();
    m_closeWhenWritten = false;
    m_quitTimer->stop();
    close(); // no export runs now: no question, and the program ends
}

// ---- menus under buttons, help, timer, tray -----------------------------------------------------

void MainWindow::showMenuUnderButton(QPushButton *button, QMenu *menu)
{
    m_menuUnderButton.show(button, menu);
}

void MainWindow::onExportClicked()
{
    showMenuUnderButton(exportButton, exportMenu);
}

void MainWindow::onExportTriggered()
{
    if (!exportButton->isEnabled()) {
        Dialogs::beep();
        return;
    }
    // At the mouse when it is over the window (the File menu's entry); from the keyboard with
    // the mouse elsewhere, under the export button.
    const QPoint mouse = QCursor::pos();
    if (frameGeometry().contains(mouse))
        exportMenu->exec(mouse);
    else
        exportMenu->exec(exportButton->mapToGlobal(QPoint(0, exportButton->height())));
}

QString MainWindow::helpAddress() const
{
    QString page = appIdentity().appDescription.toLower();
    page.replace(u' ', u'-');
    return QStringLiteral("http://") + webHost() + QStringLiteral("/help/") + page + u'/';
}

void MainWindow::openHelp()
{
    // A failure to open the page is not reported.
    QDesktopServices::openUrl(QUrl(helpAddress()));
}

void MainWindow::onUpdateNotificationsTriggered()
{
    // The action has toggled its check mark already; the stored value counts from the next start.
    writeShowUpdate(updateNotificationsAction->isChecked());
}

void MainWindow::openLanguageWindow()
{
    // Made for each opening; a confirmed change ends the program instead of closing it.
    LanguageWindow form(setLanguageFile, dataDir(), this);
    form.exec();
}

void MainWindow::openFeedbackWindow()
{
    // Made for each opening and discarded when it closes.
    const AppIdentity &identity = appIdentity();
    FeedbackWindow form({identity.appDescription, identity.appCaption, identity.appVersion}, this);
    form.exec();
}

void MainWindow::openAboutWindow()
{
    // Made for each opening and discarded when it closes.
    AboutWindow aboutBox(appIdentity().appDescription, appIdentity().appVersion, this);
    aboutBox.exec();
}

void MainWindow::onTrayIconClicked()
{
    // The user wants the window back: the program no longer ends with the export.
    if (m_closeWhenWritten || m_quitTimer->isActive()) {
        m_closeWhenWritten = false;
        m_quitTimer->stop();
        trayIcon->setToolTip(appIdentity().appCaption);
    }
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::onUpdateCheckTimer()
{
    // The first tick starts the update check; later ticks watch it and apply its results.
    if (!m_checkerStarted) {
        m_checkerStarted = true;
        startUpdateCheck();
        return;
    }
    if (!m_check->checkDone())
        return;
    updateCheckTimer->stop();
    updateNotificationsAction->setEnabled(true);
    if (m_check->showUpdate() == 0)
        updateNotificationsAction->setChecked(false);
    if (m_check->showNewVersion())
        showNewVersionNotice();
}

void MainWindow::startUpdateCheck()
{
    CheckerInputs inputs;
    inputs.appCaption = appIdentity().appCaption;
    inputs.appVersion = appIdentity().appVersion;
    // Runs on the checker's thread: the box is shown on the window's thread and the check
    // waits until the user has closed it.
    inputs.showImportant = [this](const QString &message) {
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                Dialogs::showMessage(this, MessageIcon::Warning, translate(QStringLiteral("IMPORTANT")), message);
            },
            Qt::BlockingQueuedConnection);
    };
    m_check = UpdateCheck::launch(std::move(inputs));
}

void MainWindow::showNewVersionNotice()
{
    // The notice shows itself, closes itself and is deleted when it closes.
    new NewVersionNotice(appIdentity().appDescription, m_check->currentVersion(), m_check->currentUrl(), this);
}
