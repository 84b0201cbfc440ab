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

std::function<quint32()> &MainWindow::tickCount = MenuUnderButton::tickCount;

// ---- MainWindow: creation -----------------------------------------------------------------------

MainWindow::MainWindow(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , m_arguments(arguments)
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
    finishJobsQuietly();
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
    if (m_runningJobs > 0) {
        // The export's file comes first: the window closes once it is written, if the user
        // wants that, and stays as it is otherwise. Asked once.
        event->ignore();
        if (m_closeWhenWritten || !askCloseWhenWritten())
            return;
        // The export may have ended while the question was open; then the window closes now.
        if (m_runningJobs > 0) {
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

bool MainWindow::askCloseWhenWritten()
{
    const QString question
        = translate(QStringLiteral("A file is still being exported.")) + QStringLiteral("\r\r")
          + translate(QStringLiteral("Close the program when the file is written, or keep the window open?"));
    const QMessageBox::StandardButton answer = Dialogs::showCaptionedDialog(
        this, question, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, appIdentity().appCaption,
        {translate(QStringLiteral("Close When Written")), translate(QStringLiteral("Keep Window Open"))});
    return answer == QMessageBox::Yes;
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
    if (!outcome.warningText.isEmpty())
        Dialogs::showMessage(this, MessageIcon::Warning, outcome.warningCaption, outcome.warningText);
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

void MainWindow::setBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainWindow::disableExportButton()
{
    exportButton->setEnabled(false);
}

void MainWindow::restoreExportControls()
{
    if (m_filesLoaded)
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

void MainWindow::showJobMessage(MessageIcon icon, const QString &caption, const QString &text)
{
    if (m_closing) {
        // The window is gone: the outcome still reaches the user who started the program.
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(Dialogs::displayText(text)));
        return;
    }
    if (m_closeWhenWritten && trayIcon && !isVisible()) {
        // The window was closed: the desktop tells the result.
        const QSystemTrayIcon::MessageIcon kinds[]
            = {QSystemTrayIcon::Information, QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
        trayIcon->showMessage(caption, Dialogs::displayText(text), kinds[int(icon)], notificationMs);
        return;
    }
    Dialogs::showMessage(this, icon, caption, text);
}

void MainWindow::onJobEnded()
{
    --m_runningJobs;
    if (m_closeWhenWritten && m_runningJobs == 0)
        finishClosing();
}

void MainWindow::waitForSnapshots()
{
    if (m_pendingSnapshots > 0) {
        m_snapshotsTaken.acquire(m_pendingSnapshots);
        m_pendingSnapshots = 0;
    }
}

void MainWindow::finishJobsQuietly()
{
    m_closing = true;
    // The jobs' calls onto this thread must still be served while waiting, or they would
    // wait for each other for ever.
    while (m_runningJobs > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
