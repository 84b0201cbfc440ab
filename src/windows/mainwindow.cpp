#include "windows/mainwindow.h"

#include "core/startup.h"
#include "i18n/translate.h"
#include "online/updatecheck.h"
#include "online/updatestore.h"
#include "platform/launcherprogress.h"
#include "platform/webhost.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "widgets/objectnames.h"
#include "windows/aboutwindow.h"
#include "windows/feedbackwindow.h"
#include "windows/languagewindow.h"
#include "windows/newversionnotice.h"
#include "windows/updatecheckrun.h"

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
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
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

/* The caption at the left of a row of options. */
QLabel *makeRowLabel(QWidget *row)
{
    auto *label = new QLabel(row);
    label->setFont(pixelFont(16));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setContentsMargins(0, 0, 5, 0);
    label->setTextFormat(Qt::PlainText);
    return label;
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

    // The window shows at once; the check starts a second later and reports when it is done.
    m_updateCheckTimer = new QTimer(this);
    m_updateCheckTimer->setSingleShot(true);
    m_updateCheckTimer->setInterval(1000);
    connect(m_updateCheckTimer, &QTimer::timeout, this, &MainWindow::startUpdateCheck);
    m_updateCheckTimer->start();

    nameControls();
    translateCaptions();
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow()
{
    stopExportsQuietly();
    delete m_updateCheck; // stops its web request and waits for its thread
    delete m_trayIcon;
}

void MainWindow::createControls()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_loadButton = new GlyphButton;
    m_loadButton->setFixedHeight(50);
    m_loadButton->setFont(pixelFont(19));
    m_loadButton->setIcon(roleIcon(QStringLiteral("folder48")));
    m_loadButton->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    m_loadButton->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(withMargins(central, m_loadButton, 3, 3, 3, 3));

    QHBoxLayout *row = nullptr;
    m_encodingPanel = makeRow(central, 40, row);
    m_encodingLabel = makeRowLabel(m_encodingPanel);
    // Names of encodings, never translated; their Alt letters (N, 8, 6) are kept free of the
    // window's other captions in every shipped language.
    m_ansiRadio = new QRadioButton(QStringLiteral("A&NSI"), m_encodingPanel);
    m_utf8Radio = new QRadioButton(QStringLiteral("UTF-&8"), m_encodingPanel);
    m_utf16Radio = new QRadioButton(QStringLiteral("UTF-1&6"), m_encodingPanel);
    const std::pair<QRadioButton *, int> radios[] = {{m_ansiRadio, 73}, {m_utf8Radio, 82}, {m_utf16Radio, 82}};
    row->addWidget(m_encodingLabel);
    for (const auto &[radio, width] : radios) {
        radio->setFont(pixelFont(19));
        // The designed width, or wider where this desktop's font needs it.
        radio->setFixedWidth(std::max(width, radio->sizeHint().width()));
        row->addWidget(radio);
    }
    row->addStretch();
    // One group: Tab stops at the checked button only and the arrow keys move the choice, so
    // tabbing into the row never lands on an unchecked encoding that Space would choose.
    m_encodingGroup = new QButtonGroup(this);
    for (const auto &[radio, width] : radios)
        m_encodingGroup->addButton(radio);
    connect(m_encodingGroup, &QButtonGroup::buttonToggled, this, &MainWindow::updateEncodingTabStop);
    m_utf8Radio->setChecked(true);
    column->addWidget(m_encodingPanel);

    m_optionsPanel = makeRow(central, 0, row);
    m_optionsLabel = makeRowLabel(m_optionsPanel);
    m_sortCheck = new QCheckBox(m_optionsPanel);
    m_headersCheck = new QCheckBox(m_optionsPanel);
    for (QCheckBox *box : {m_sortCheck, m_headersCheck}) {
        box->setFont(pixelFont(19));
        box->setChecked(true);
    }
    row->addWidget(m_optionsLabel);
    row->addWidget(m_sortCheck);
    row->addWidget(m_headersCheck);
    row->addStretch();
    column->addWidget(m_optionsPanel, 1);

    m_exportButton = new GlyphButton;
    m_exportButton->setFixedHeight(50);
    m_exportButton->setFont(pixelFont(19));
    QIcon saveIcon(QStringLiteral(":/icons/save48.svg"));
    saveIcon.addFile(QStringLiteral(":/icons/saveblack48.svg"), QSize(), QIcon::Disabled);
    m_exportButton->setIcon(saveIcon);
    m_exportButton->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    column->addWidget(withMargins(central, m_exportButton, 3, 3, 3, 3));

    m_buttonPanel = makeRow(central, 56, row);
    row->setContentsMargins(3, 3, 3, 3);
    row->setSpacing(3);
    m_feedbackButton = new QPushButton(m_buttonPanel);
    m_aboutButton = new QPushButton(m_buttonPanel);
    m_feedbackButton->setFixedSize(244 - 3, 50);
    m_aboutButton->setFixedHeight(50);
    m_feedbackButton->setIcon(roleIcon(QStringLiteral("feedback")));
    m_aboutButton->setIcon(roleIcon(QStringLiteral("about")));
    for (QPushButton *button : {m_feedbackButton, m_aboutButton}) {
        button->setFont(pixelFont(16));
        button->setIconSize(QSize(24, 24));
    }
    row->addWidget(m_feedbackButton);
    row->addWidget(m_aboutButton, 1);
    column->addWidget(m_buttonPanel);

    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(17);
    column->addWidget(withMargins(central, m_progressBar, 4, 0, 4, 3));

    setCentralWidget(central);
    disableExportControls();

    // An export reads the options on its own thread when it reaches its writing stage.
    m_options->set(readExportOptions());
    const auto keepOptions = [this] { m_options->set(readExportOptions()); };
    connect(m_headersCheck, &QCheckBox::toggled, this, keepOptions);
    connect(m_sortCheck, &QCheckBox::toggled, this, keepOptions);
    connect(m_sortCheck, &QCheckBox::toggled, this, [this](bool sort) {
        if (m_previewWindow)
            m_previewWindow->setSort(sort);
    });
    connect(m_encodingGroup, &QButtonGroup::buttonToggled, this, keepOptions);

    connect(m_loadButton, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(m_exportButton, &QPushButton::clicked, this, &MainWindow::onExportClicked);
    connect(m_feedbackButton, &QPushButton::clicked, this, &MainWindow::openFeedbackWindow);
    connect(m_aboutButton, &QPushButton::clicked, this, &MainWindow::openAboutWindow);
}

void MainWindow::nameControls()
{
    setObjectNames({
        {m_mainMenuBar, "mainMenuBar"},
        {m_loadButton, "loadButton"},
        {m_encodingPanel, "encodingPanel"},
        {m_encodingLabel, "encodingLabel"},
        {m_ansiRadio, "ansiRadio"},
        {m_utf8Radio, "utf8Radio"},
        {m_utf16Radio, "utf16Radio"},
        {m_encodingGroup, "encodingGroup"},
        {m_optionsPanel, "optionsPanel"},
        {m_optionsLabel, "optionsLabel"},
        {m_sortCheck, "sortCheck"},
        {m_headersCheck, "headersCheck"},
        {m_exportButton, "exportButton"},
        {m_buttonPanel, "buttonPanel"},
        {m_feedbackButton, "feedbackButton"},
        {m_aboutButton, "aboutButton"},
        {m_progressBar, "progressBar"},
        {m_fileMenu, "fileMenu"},
        {m_helpMenu, "helpMenu"},
        {m_clearAction, "clearAction"},
        {m_loadAction, "loadAction"},
        {m_exportAction, "exportAction"},
        {m_previewAction, "previewAction"},
        {m_stopExportAction, "stopExportAction"},
        {m_exitAction, "exitAction"},
        {m_helpAction, "helpAction"},
        {m_updateNotificationsAction, "updateNotificationsAction"},
        {m_languageAction, "languageAction"},
        {m_feedbackAction, "feedbackAction"},
        {m_aboutAction, "aboutAction"},
        {m_trayIcon, "trayIcon"},
        {m_trayMenu, "trayMenu"},
        {m_trayHelpAction, "trayHelpAction"},
        {m_trayLanguageAction, "trayLanguageAction"},
        {m_trayFeedbackAction, "trayFeedbackAction"},
        {m_trayAboutAction, "trayAboutAction"},
        {m_trayExitAction, "trayExitAction"},
        {m_loadMenu, "loadMenu"},
        {m_loadMenuClearAction, "loadMenuClearAction"},
        {m_exportMenu, "exportMenu"},
        {m_csvMenu, "csvMenu"},
        {m_defaultCsvAction, "defaultCsvAction"},
        {m_excelCsvAction, "excelCsvAction"},
        {m_googleCsvAction, "googleCsvAction"},
        {m_outlookCsvAction, "outlookCsvAction"},
        {m_yahooCsvAction, "yahooCsvAction"},
        {m_xlsAction, "xlsAction"},
        {m_txtAction, "txtAction"},
        {m_allFieldsAction, "allFieldsAction"},
        {m_updateCheckTimer, "updateCheckTimer"},
    });
}

void MainWindow::updateEncodingTabStop()
{
    for (QAbstractButton *radio : m_encodingGroup->buttons())
        radio->setFocusPolicy(radio->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void MainWindow::createMenus()
{
    m_mainMenuBar = new QMenuBar(this);
    m_mainMenuBar->setFixedHeight(kMenuBarHeight);
    m_mainMenuBar->setFont(pixelFont(12, QStringLiteral("Segoe UI")));
    setMenuBar(m_mainMenuBar);

    const auto action = [](QMenu *menu, const QString &role) {
        QAction *item = menu->addAction(QString());
        if (!role.isEmpty())
            item->setIcon(roleIcon(role));
        return item;
    };

    m_fileMenu = m_mainMenuBar->addMenu(QString());
    m_clearAction = action(m_fileMenu, QStringLiteral("page_white"));
    m_loadAction = action(m_fileMenu, QStringLiteral("folder48"));
    m_exportAction = action(m_fileMenu, QStringLiteral("save48"));
    m_previewAction = action(m_fileMenu, QStringLiteral("table"));
    m_previewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_previewAction->setEnabled(false);
    m_stopExportAction = action(m_fileMenu, QStringLiteral("stop"));
    m_stopExportAction->setShortcut(QKeySequence(Qt::Key_Escape));
    m_stopExportAction->setEnabled(false);
    m_fileMenu->addSeparator();
    m_exitAction = action(m_fileMenu, QStringLiteral("exit"));
    m_loadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_helpMenu = m_mainMenuBar->addMenu(QString());
    m_helpAction = action(m_helpMenu, QStringLiteral("help"));
    m_helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_helpAction->setShortcutContext(Qt::ApplicationShortcut);
    m_helpMenu->addSeparator();
    m_updateNotificationsAction = action(m_helpMenu, QString());
    m_updateNotificationsAction->setCheckable(true);
    m_updateNotificationsAction->setChecked(true);
    m_updateNotificationsAction->setEnabled(false);
    m_helpMenu->addSeparator();
    m_languageAction = action(m_helpMenu, QStringLiteral("flag"));
    m_feedbackAction = action(m_helpMenu, QStringLiteral("feedback"));
    m_aboutAction = action(m_helpMenu, QStringLiteral("about"));

    m_loadMenu = new QMenu(this);
    m_loadMenuClearAction = action(m_loadMenu, QStringLiteral("page_white"));

    for (QMenu *menu : {m_fileMenu, m_helpMenu, m_loadMenu})
        menu->setFont(pixelFont(12, QStringLiteral("Segoe UI")));

    connect(m_clearAction, &QAction::triggered, this, &MainWindow::clearLoaded);
    connect(m_loadMenuClearAction, &QAction::triggered, this, &MainWindow::clearLoaded);
    connect(m_loadAction, &QAction::triggered, m_loadButton, &QPushButton::click);
    connect(m_exportAction, &QAction::triggered, this, &MainWindow::onExportTriggered);
    // Queued, so that the export menu has closed before the window opens.
    connect(m_previewAction, &QAction::triggered, this, &MainWindow::openPreview, Qt::QueuedConnection);
    connect(m_stopExportAction, &QAction::triggered, this, &MainWindow::stopExports);
    // Through the window's closing, which asks first while an export runs.
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close, Qt::QueuedConnection);
    connect(m_helpAction, &QAction::triggered, this, &MainWindow::openHelp);
    connect(m_updateNotificationsAction, &QAction::triggered, this, &MainWindow::onUpdateNotificationsTriggered);
    connect(m_languageAction, &QAction::triggered, this, &MainWindow::openLanguageWindow);
    connect(m_feedbackAction, &QAction::triggered, m_feedbackButton, &QPushButton::click);
    connect(m_aboutAction, &QAction::triggered, m_aboutButton, &QPushButton::click);
    connect(m_loadButton, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { m_loadMenu->exec(m_loadButton->mapToGlobal(at)); });

    // How the export entry was chosen decides where the export menu opens.
    m_fileMenu->installEventFilter(this);
    connect(m_fileMenu, &QMenu::aboutToShow, this, [this] { m_exportChosenWithMouse = false; });
    // F10 opens the menu bar's first menu, as on most desktops; Alt and the titles' letters are
    // the menu bar's own.
    auto *menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, &MainWindow::openFirstMenu);
}

void MainWindow::createTrayIcon()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->setFont(pixelFont(12, QStringLiteral("Segoe UI")));
    m_trayHelpAction = m_trayMenu->addAction(roleIcon(QStringLiteral("help")), QString());
    m_trayHelpAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_trayHelpAction->setShortcutContext(Qt::WidgetShortcut); // F1 itself is the Help menu's
    m_trayMenu->addSeparator();
    m_trayLanguageAction = m_trayMenu->addAction(roleIcon(QStringLiteral("flag")), QString());
    m_trayFeedbackAction = m_trayMenu->addAction(roleIcon(QStringLiteral("feedback")), QString());
    m_trayAboutAction = m_trayMenu->addAction(roleIcon(QStringLiteral("about")), QString());
    m_trayMenu->addSeparator();
    m_trayExitAction = m_trayMenu->addAction(roleIcon(QStringLiteral("exit")), QString());

    connect(m_trayHelpAction, &QAction::triggered, this, &MainWindow::openHelp);
    connect(m_trayLanguageAction, &QAction::triggered, this, &MainWindow::openLanguageWindow);
    connect(m_trayFeedbackAction, &QAction::triggered, m_feedbackButton, &QPushButton::click);
    connect(m_trayAboutAction, &QAction::triggered, m_aboutButton, &QPushButton::click);
    connect(m_trayExitAction, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    // Where the desktop has no notification area the program simply runs without the icon.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayIcon = new QSystemTrayIcon(roleIcon(QStringLiteral("tessaly")), this);
    m_trayIcon->setToolTip(appIdentity().appCaption);
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            onTrayIconClicked();
    });
    // A click on the result's notification ends the wait for the program's end.
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_quitTimer->isActive())
            quitAfterExports();
    });
    m_trayIcon->show();
}

void MainWindow::translateCaptions()
{
    // Menu bar
    m_fileMenu->setTitle(translateCaption(QStringLiteral("&File")));
    m_clearAction->setText(translateCaption(QStringLiteral("&Clear")));
    m_loadAction->setText(translateCaption(QStringLiteral("&Load vCards from VCF file...")));
    m_exportAction->setText(translateCaption(QStringLiteral("&Export to File...")));
    m_previewAction->setText(translateCaption(QStringLiteral("&Preview...")));
    m_stopExportAction->setText(translateCaption(QStringLiteral("&Stop Export")));
    m_exitAction->setText(translateCaption(QStringLiteral("E&xit")));
    m_helpMenu->setTitle(translateCaption(QStringLiteral("&Help")));
    m_helpAction->setText(translateCaption(QStringLiteral("&Online Help")));
    m_updateNotificationsAction->setText(translateCaption(QStringLiteral("&Update Notifications")));
    m_languageAction->setText(translateCaption(QStringLiteral("&Language...")));
    m_feedbackAction->setText(translateCaption(QStringLiteral("Send Feed&back...")));
    m_aboutAction->setText(translateCaption(QStringLiteral("&About")));
    // Tray menu
    m_trayHelpAction->setText(m_helpAction->text());
    m_trayLanguageAction->setText(m_languageAction->text());
    m_trayFeedbackAction->setText(m_feedbackAction->text());
    m_trayAboutAction->setText(m_aboutAction->text());
    m_trayExitAction->setText(m_exitAction->text());
    // Options and buttons
    m_sortCheck->setText(translateCaption(QStringLiteral("&Sort")));
    m_headersCheck->setText(translateCaption(QStringLiteral("Hea&ders")));
    m_loadCaption = m_loadAction->text();
    m_loadButton->setText(m_loadCaption);
    m_exportButton->setText(m_exportAction->text());
    m_feedbackButton->setText(m_feedbackAction->text());
    m_aboutButton->setText(translateCaption(QStringLiteral("&About...")));
    // Export menu
    m_xlsAction->setText(translateCaption(QStringLiteral("&Excel File (XLS)...")));
    m_csvMenu->setTitle(translateCaption(QStringLiteral("&Comma-Separated Values File (CSV)...")));
    m_txtAction->setText(translateCaption(QStringLiteral("&Text File (TXT)...")));
    m_allFieldsAction->setText(translateCaption(QStringLiteral("&All fields")));
    // File types of the open and save dialogs
    m_openFilter = Dialogs::nameFilter(translate(QStringLiteral("VCF Files (*.vcf)")), QStringLiteral("*.vcf"));
    m_saveFilters = {
        Dialogs::nameFilter(translate(QStringLiteral("Excel File (*.xls)")), QStringLiteral("*.xls")),
        Dialogs::nameFilter(translate(QStringLiteral("Excel 2007 File (*.xlsx)")), QStringLiteral("*.xlsx")),
        Dialogs::nameFilter(translate(QStringLiteral("CSV File (*.csv)")), QStringLiteral("*.csv")),
        Dialogs::nameFilter(translate(QStringLiteral("Text File (*.txt)")), QStringLiteral("*.txt")),
    };
    // Load button menu
    m_loadMenuClearAction->setText(m_clearAction->text());
    // Tooltip
    m_headersCheck->setToolTip(translate(QStringLiteral("This is required for importing in Gmail and Outlook.")));
    // Export submenu
    m_defaultCsvAction->setText(csvPresetCaption(CsvPreset::Default));
    m_excelCsvAction->setText(csvPresetCaption(CsvPreset::Excel));
    m_googleCsvAction->setText(csvPresetCaption(CsvPreset::Google));
    m_outlookCsvAction->setText(csvPresetCaption(CsvPreset::Outlook));
    m_yahooCsvAction->setText(csvPresetCaption(CsvPreset::Yahoo, columnModel()));
    // Labels
    m_encodingLabel->setText(translate(QStringLiteral("Encoding:")));
    m_optionsLabel->setText(translate(QStringLiteral("Options:")));
    // Both labels take the wider one's width, so the radio buttons and the check boxes
    // start at the same place.
    const int labelWidth = std::max(m_encodingLabel->sizeHint().width(), m_optionsLabel->sizeHint().width());
    m_encodingLabel->setFixedWidth(labelWidth);
    m_optionsLabel->setFixedWidth(labelWidth);
    // The check boxes as wide as their captions.
    fitCheckBoxToCaption(m_headersCheck);
    fitCheckBoxToCaption(m_sortCheck);
}

int MainWindow::scaleDimension(int width) const
{
    // Qt lays windows out in device-independent pixels, so the window's own dots per inch
    // are the screen's logical ones scaled by the device pixel ratio.
    const QScreen *screen = this->screen();
    if (!screen)
        return width;
    const double screenDpi = screen->logicalDotsPerInch();
    const double windowDpi = screenDpi * devicePixelRatioF() / screen->devicePixelRatio();
    return windowDpi > 0 ? qRound(width * screenDpi / windowDpi) : width;
}

void MainWindow::fitCheckBoxToCaption(QCheckBox *checkBox)
{
    const int textWidth = checkBox->fontMetrics().horizontalAdvance(withoutMnemonic(checkBox->text()));
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
    // A path that names no file gets a warning that names it.
    loadFile(m_arguments.join(u' ').trimmed());
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
            if (m_trayIcon) {
                hide();
                setProgress(m_progressBar->value());
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
        {translateCaption(QStringLiteral("&Close When Written")), translateCaption(QStringLiteral("&Keep Window Open")),
         translateCaption(QStringLiteral("&Stop Export"))});
    if (answer == QMessageBox::Yes)
        return CloseAnswer::CloseWhenWritten;
    return answer == QMessageBox::Abort ? CloseAnswer::StopExport : CloseAnswer::KeepOpen;
}

/* The last export the user waited for has ended: the program ends, after its notification. */
void MainWindow::finishClosing()
{
    if (m_trayIcon && !isVisible()) {
        m_trayIcon->setToolTip(appIdentity().appCaption);
        m_quitTimer->start(m_notificationMs);
        return;
    }
    quitAfterExports();
}

void MainWindow::quitAfterExports()
{
    m_closeWhenWritten = false;
    if (m_trayIcon)
        m_trayIcon->hide();
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
    m_loadButton->setText(m_loadCaption + QStringLiteral(" [") + QString::number(loadedCards().loadedFileCount) + u']');
}

void MainWindow::loadFile(const QString &path)
{
    // A running export reads its own snapshot of the loaded lines, so loading goes on here.
    waitForSnapshots();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const LoadOutcome outcome = appendVcfFile(path, selectedEncoding(), loadedCards());
    QApplication::restoreOverrideCursor();
    if (!outcome.warningParagraphs.isEmpty())
        Dialogs::showMessage(this, MessageIcon::Warning, outcome.warningCaption,
                             outcome.warningParagraphs.join(QStringLiteral("\r\r")));
    // A name typed into the open dialog or given on the command line may name no file: it
    // was named in the warning, and nothing else changes.
    if (outcome.kind == LoadOutcome::Missing || outcome.kind == LoadOutcome::NotAFile)
        return;
    updateLoadButtonCaption();
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
        return m_ansiRadio;
    case TextEncoding::Utf8:
        return m_utf8Radio;
    case TextEncoding::Utf16:
        break;
    }
    return m_utf16Radio;
}

TextEncoding MainWindow::selectedEncoding() const
{
    if (m_ansiRadio->isChecked())
        return TextEncoding::Ansi;
    if (m_utf8Radio->isChecked())
        return TextEncoding::Utf8;
    if (m_utf16Radio->isChecked())
        return TextEncoding::Utf16;
    return TextEncoding::Utf8;
}

void MainWindow::enableExportControls()
{
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_exportButton, m_ansiRadio, m_utf8Radio, m_utf16Radio, m_headersCheck,
                                          m_sortCheck, m_encodingLabel, m_optionsLabel})
        control->setEnabled(true);
    m_previewAction->setEnabled(true);
    Q_EMIT exportControlsEnabled();
}

void MainWindow::disableExportControls()
{
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_exportButton, m_ansiRadio, m_utf8Radio, m_utf16Radio, m_headersCheck,
                                          m_sortCheck, m_encodingLabel, m_optionsLabel})
        control->setEnabled(false);
    if (m_previewAction) // the menus come after the controls
        m_previewAction->setEnabled(false);
}

void MainWindow::clearLoaded()
{
    waitForSnapshots();
    loadedCards().clearLoaded();
    m_loadButton->setText(m_loadCaption);
    m_filesLoaded = false;
    disableExportControls();
    m_progressBar->setValue(0);
    setLauncherProgress(0);
}

// ---- what a job asks of the window ------------------------------------------------------------

void MainWindow::setProgress(int value)
{
    m_progressBar->setValue(value);
    setLauncherProgress(value);
    if (m_closeWhenWritten && m_trayIcon && !isVisible())
        m_trayIcon->setToolTip(appIdentity().appCaption + u'\n'
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
    options.headers = m_headersCheck->isChecked();
    options.sort = m_sortCheck->isChecked();
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
    m_exportButton->setEnabled(false);
    m_stopExportAction->setEnabled(true);
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
    m_stopExportAction->setEnabled(!m_runs.empty());
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
    if (!message.countsNote.isEmpty())
        text += QStringLiteral("\r\r") + message.countsNote;
    if (!message.encodingNote.isEmpty())
        text += QStringLiteral("\r\r") + message.encodingNote;
    if (!message.leftOutNote.isEmpty())
        text += QStringLiteral("\r\r") + message.leftOutNote;
    if (!message.formulaNote.isEmpty())
        text += QStringLiteral("\r\r") + message.formulaNote;
    if (m_closing) {
        // The window is gone: the outcome still reaches the user who started the program.
        std::fprintf(stderr, "%s: %s\n", qPrintable(message.caption), qPrintable(Dialogs::displayText(text)));
        return;
    }
    if (m_closeWhenWritten && m_trayIcon && !isVisible()) {
        // The window was closed: the desktop tells the result.
        const QSystemTrayIcon::MessageIcon kinds[]
            = {QSystemTrayIcon::Information, QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
        m_trayIcon->showMessage(message.caption, Dialogs::displayText(text), kinds[int(message.icon)],
                                m_notificationMs);
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

void MainWindow::onExportClicked()
{
    m_menuUnderButton.show(m_exportButton, m_exportMenu);
}

void MainWindow::onExportTriggered()
{
    const bool chosenWithMouse = std::exchange(m_exportChosenWithMouse, false);
    if (!m_exportButton->isEnabled()) {
        Dialogs::beep();
        return;
    }
    // Clicked in the File menu: where the mouse is. From the keyboard (Ctrl+E, or the entry
    // chosen with the keys) the pointer may be anywhere, so the menu opens under its button.
    if (chosenWithMouse)
        m_exportMenu->exec(QCursor::pos());
    else
        m_menuUnderButton.show(m_exportButton, m_exportMenu);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The File menu triggers its entry on the mouse button's release; this comes first.
    if (watched == m_fileMenu && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_exportChosenWithMouse = m_fileMenu->actionAt(mouse->position().toPoint()) == m_exportAction;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::openFirstMenu()
{
    m_mainMenuBar->setActiveAction(m_fileMenu->menuAction());
    // As when the menu is opened with its Alt letter: the first entry is selected.
    if (!m_fileMenu->actions().isEmpty())
        m_fileMenu->setActiveAction(m_fileMenu->actions().constFirst());
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
    writeShowUpdate(m_updateNotificationsAction->isChecked());
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
        m_trayIcon->setToolTip(appIdentity().appCaption);
    }
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::startUpdateCheck()
{
    CheckerInputs inputs;
    inputs.appCaption = appIdentity().appCaption;
    inputs.appVersion = appIdentity().appVersion;
    m_updateCheck = new UpdateCheckRun(std::move(inputs), this);
    // Both reach the window on its own thread; the check goes on while the box is open.
    connect(m_updateCheck, &UpdateCheckRun::importantMessage, this, [this](const QString &message) {
        Dialogs::showMessage(this, MessageIcon::Warning, translate(QStringLiteral("IMPORTANT")), message);
    });
    connect(m_updateCheck, &UpdateCheckRun::finished, this, &MainWindow::onUpdateCheckFinished);
    m_updateCheck->start();
}

void MainWindow::onUpdateCheckFinished(const CheckResults &results)
{
    m_updateCheck->deleteLater(); // its thread ends moments after this report
    m_updateCheck = nullptr;
    m_updateNotificationsAction->setEnabled(true);
    if (results.showUpdate() == 0)
        m_updateNotificationsAction->setChecked(false);
    // The notice shows itself, closes itself and is deleted when it closes.
    if (results.showNewVersion())
        new NewVersionNotice(appIdentity().appDescription, results.currentVersion(), results.currentUrl(), this);
}
