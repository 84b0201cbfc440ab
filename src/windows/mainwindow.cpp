#include "windows/mainwindow.h"

#include "windows/aboutwindow.h"
#include "core/startup.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "windows/feedbackwindow.h"
#include "windows/newversionnotice.h"
#include "online/updatecheck.h"
#include "online/updatestore.h"
#include "platform/launcherprogress.h"
#include "platform/webhost.h"
#include "windows/languagewindow.h"
#include "i18n/translate.h"

#include <QApplication>
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
QWidget *Row(QWidget *parent, int height, QHBoxLayout *&layout)
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
QWidget *WithMargins(QWidget *parent, QWidget *child, int left, int top, int right, int bottom)
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

std::function<quint32()> &TAppForm::TickCount = MenuUnderButton::TickCount;

// ---- TAppForm: creation -----------------------------------------------------------------------

TAppForm::TAppForm(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , m_arguments(arguments)
{
    InitIconResources();
    setWindowTitle(Identity().AppCaption); // never translated
    setWindowIcon(RoleIcon(QStringLiteral("tessaly")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(PixelFont(11));
    setAcceptDrops(true);

    CreateControls();
    CreateMenus();
    CreateExportMenu();
    CreateTrayIcon();

    TimerChecker = new QTimer(this);
    TimerChecker->setInterval(1000);
    connect(TimerChecker, &QTimer::timeout, this, &TAppForm::TimerCheckerTimer);
    TimerChecker->start();

    TranslateCaptions();
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TAppForm::~TAppForm()
{
    FinishJobsQuietly();
    delete TrayIcon1;
}

void TAppForm::CreateControls()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    BitBtn1 = new GlyphButton;
    BitBtn1->setFixedHeight(50);
    BitBtn1->setFont(PixelFont(19));
    BitBtn1->setIcon(RoleIcon(QStringLiteral("folder48")));
    BitBtn1->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    BitBtn1->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(WithMargins(central, BitBtn1, 3, 3, 3, 3));

    QHBoxLayout *row = nullptr;
    Panel3 = Row(central, 40, row);
    Label1 = new QLabel(Panel3);
    Label1->setFont(PixelFont(16));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setContentsMargins(0, 0, 5, 0);
    Label1->setTextFormat(Qt::PlainText);
    RadioButton1 = new QRadioButton(QStringLiteral("ANSI"), Panel3);
    RadioButton2 = new QRadioButton(QStringLiteral("UTF-8"), Panel3);
    RadioButton3 = new QRadioButton(QStringLiteral("UTF-16"), Panel3);
    const std::pair<QRadioButton *, int> radios[] = {{RadioButton1, 73}, {RadioButton2, 82}, {RadioButton3, 82}};
    row->addWidget(Label1);
    for (const auto &[radio, width] : radios) {
        radio->setFont(PixelFont(19));
        // The designed width, or wider where this desktop's font needs it.
        radio->setFixedWidth(std::max(width, radio->sizeHint().width()));
        row->addWidget(radio);
    }
    row->addStretch();
    RadioButton2->setChecked(true);
    column->addWidget(Panel3);

    Panel1 = Row(central, 0, row);
    Label2 = new QLabel(Panel1);
    Label2->setFont(PixelFont(16));
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label2->setContentsMargins(0, 0, 5, 0);
    Label2->setTextFormat(Qt::PlainText);
    CheckBox2 = new QCheckBox(Panel1);
    CheckBox1 = new QCheckBox(Panel1);
    for (QCheckBox *box : {CheckBox2, CheckBox1}) {
        box->setFont(PixelFont(19));
        box->setChecked(true);
    }
    row->addWidget(Label2);
    row->addWidget(CheckBox2);
    row->addWidget(CheckBox1);
    row->addStretch();
    column->addWidget(Panel1, 1);

    BitBtn2 = new GlyphButton;
    BitBtn2->setFixedHeight(50);
    BitBtn2->setFont(PixelFont(19));
    QIcon saveIcon(QStringLiteral(":/icons/save48.svg"));
    saveIcon.addFile(QStringLiteral(":/icons/saveblack48.svg"), QSize(), QIcon::Disabled);
    BitBtn2->setIcon(saveIcon);
    BitBtn2->setIconSize(QSize(kBigButtonIcon, kBigButtonIcon));
    column->addWidget(WithMargins(central, BitBtn2, 3, 3, 3, 3));

    Panel2 = Row(central, 56, row);
    row->setContentsMargins(3, 3, 3, 3);
    row->setSpacing(3);
    Button1 = new QPushButton(Panel2);
    Button2 = new QPushButton(Panel2);
    Button1->setFixedSize(244 - 3, 50);
    Button2->setFixedHeight(50);
    Button1->setIcon(RoleIcon(QStringLiteral("feedback")));
    Button2->setIcon(RoleIcon(QStringLiteral("about")));
    for (QPushButton *button : {Button1, Button2}) {
        button->setFont(PixelFont(16));
        button->setIconSize(QSize(24, 24));
    }
    row->addWidget(Button1);
    row->addWidget(Button2, 1);
    column->addWidget(Panel2);

    ProgressBar1 = new QProgressBar;
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedHeight(17);
    column->addWidget(WithMargins(central, ProgressBar1, 4, 0, 4, 3));

    setCentralWidget(central);
    DisabledYap();

    connect(BitBtn1, &QPushButton::clicked, this, &TAppForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TAppForm::BitBtn2Click);
    connect(Button1, &QPushButton::clicked, this, &TAppForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TAppForm::Button2Click);
}

void TAppForm::CreateMenus()
{
    ActionMainMenuBar1 = new QMenuBar(this);
    ActionMainMenuBar1->setFixedHeight(kMenuBarHeight);
    ActionMainMenuBar1->setFont(PixelFont(12, QStringLiteral("Segoe UI")));
    setMenuBar(ActionMainMenuBar1);

    const auto action = [this](QMenu *menu, const QString &role) {
        QAction *item = menu->addAction(QString());
        if (!role.isEmpty())
            item->setIcon(RoleIcon(role));
        return item;
    };

    FileMenu = ActionMainMenuBar1->addMenu(QString());
    Action8 = action(FileMenu, QStringLiteral("page_white"));
    Action7 = action(FileMenu, QStringLiteral("folder48"));
    Action3 = action(FileMenu, QStringLiteral("save48"));
    FileMenu->addSeparator();
    Action1 = action(FileMenu, QStringLiteral("exit"));

    HelpMenu = ActionMainMenuBar1->addMenu(QString());
    Action2 = action(HelpMenu, QStringLiteral("help"));
    Action2->setShortcut(QKeySequence(Qt::Key_F1));
    Action2->setShortcutContext(Qt::ApplicationShortcut);
    HelpMenu->addSeparator();
    UpdateNotifications1 = action(HelpMenu, QString());
    UpdateNotifications1->setCheckable(true);
    UpdateNotifications1->setChecked(true);
    UpdateNotifications1->setEnabled(false);
    HelpMenu->addSeparator();
    Language1 = action(HelpMenu, QStringLiteral("flag"));
    Action5 = action(HelpMenu, QStringLiteral("feedback"));
    Action6 = action(HelpMenu, QStringLiteral("about"));

    PopupMenu3 = new QMenu(this);
    Clear1 = action(PopupMenu3, QStringLiteral("page_white"));

    for (QMenu *menu : {FileMenu, HelpMenu, PopupMenu3})
        menu->setFont(PixelFont(12, QStringLiteral("Segoe UI")));

    connect(Action8, &QAction::triggered, this, &TAppForm::ClearNow);
    connect(Clear1, &QAction::triggered, this, &TAppForm::ClearNow);
    connect(Action7, &QAction::triggered, BitBtn1, &QPushButton::click);
    connect(Action3, &QAction::triggered, this, &TAppForm::Action3Execute);
    connect(Action1, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(Action2, &QAction::triggered, this, &TAppForm::Action2Execute);
    connect(UpdateNotifications1, &QAction::triggered, this, &TAppForm::UpdateNotifications1Execute);
    connect(Language1, &QAction::triggered, this, &TAppForm::Language1Execute);
    connect(Action5, &QAction::triggered, Button1, &QPushButton::click);
    connect(Action6, &QAction::triggered, Button2, &QPushButton::click);
    connect(BitBtn1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { PopupMenu3->exec(BitBtn1->mapToGlobal(at)); });
}

void TAppForm::CreateTrayIcon()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setFont(PixelFont(12, QStringLiteral("Segoe UI")));
    Help1 = PopupMenu1->addAction(RoleIcon(QStringLiteral("help")), QString());
    Help1->setShortcut(QKeySequence(Qt::Key_F1));
    Help1->setShortcutContext(Qt::WidgetShortcut); // F1 itself is the Help menu's
    PopupMenu1->addSeparator();
    Language2 = PopupMenu1->addAction(RoleIcon(QStringLiteral("flag")), QString());
    SendFeedback1 = PopupMenu1->addAction(RoleIcon(QStringLiteral("feedback")), QString());
    About1 = PopupMenu1->addAction(RoleIcon(QStringLiteral("about")), QString());
    PopupMenu1->addSeparator();
    Exit1 = PopupMenu1->addAction(RoleIcon(QStringLiteral("exit")), QString());

    connect(Help1, &QAction::triggered, this, &TAppForm::Action2Execute);
    connect(Language2, &QAction::triggered, this, &TAppForm::Language1Execute);
    connect(SendFeedback1, &QAction::triggered, Button1, &QPushButton::click);
    connect(About1, &QAction::triggered, Button2, &QPushButton::click);
    connect(Exit1, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    // Where the desktop has no notification area the program simply runs without the icon.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    TrayIcon1 = new QSystemTrayIcon(RoleIcon(QStringLiteral("tessaly")));
    TrayIcon1->setToolTip(Identity().AppCaption);
    TrayIcon1->setContextMenu(PopupMenu1);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            TrayIcon1Click();
    });
    TrayIcon1->show();
}

void TAppForm::TranslateCaptions()
{
    // 1. Menu bar
    FileMenu->setTitle(Translate(QStringLiteral("File")));
    Action8->setText(Translate(QStringLiteral("Clear")));
    Action7->setText(Translate(QStringLiteral("Load vCards from VCF file...")));
    Action3->setText(Translate(QStringLiteral("Export to File...")));
    Action1->setText(Translate(QStringLiteral("Exit")));
    HelpMenu->setTitle(Translate(QStringLiteral("Help")));
    Action2->setText(Translate(QStringLiteral("Online Help")));
    UpdateNotifications1->setText(Translate(QStringLiteral("Update Notifications")));
    Language1->setText(Translate(QStringLiteral("Language...")));
    Action5->setText(Translate(QStringLiteral("Send Feedback...")));
    Action6->setText(Translate(QStringLiteral("About")));
    // 2. Tray menu
    Help1->setText(Translate(QStringLiteral("Online Help")));
    Language2->setText(Translate(QStringLiteral("Language...")));
    SendFeedback1->setText(Translate(QStringLiteral("Send Feedback...")));
    About1->setText(Translate(QStringLiteral("About")));
    Exit1->setText(Translate(QStringLiteral("Exit")));
    // 3. Options and buttons
    CheckBox2->setText(Translate(QStringLiteral("Sort")));
    CheckBox1->setText(Translate(QStringLiteral("Headers")));
    m_loadCaption = Translate(QStringLiteral("Load vCards from VCF file..."));
    BitBtn1->setText(m_loadCaption);
    BitBtn2->setText(Translate(QStringLiteral("Export to File...")));
    Button1->setText(Translate(QStringLiteral("Send Feedback...")));
    Button2->setText(Translate(QStringLiteral("About...")));
    // 4. Export menu
    ExcelXLS1->setText(Translate(QStringLiteral("Excel File (XLS)...")));
    CommaseparatedvaluesCSV1->setTitle(Translate(QStringLiteral("Comma-Separated Values File (CSV)...")));
    extTXT1->setText(Translate(QStringLiteral("Text File (TXT)...")));
    // 5. and 6. File types of the open and save dialogs
    m_openFilter = Dialogs::NameFilter(Translate(QStringLiteral("VCF Files (*.vcf)")), QStringLiteral("*.vcf"));
    m_saveFilters = {
        Dialogs::NameFilter(Translate(QStringLiteral("Excel File (*.xls)")), QStringLiteral("*.xls")),
        Dialogs::NameFilter(Translate(QStringLiteral("Excel 2007 File (*.xlsx)")), QStringLiteral("*.xlsx")),
        Dialogs::NameFilter(Translate(QStringLiteral("CSV File (*.csv)")), QStringLiteral("*.csv")),
        Dialogs::NameFilter(Translate(QStringLiteral("Text File (*.txt)")), QStringLiteral("*.txt")),
    };
    // 7. Load button menu
    Clear1->setText(Translate(QStringLiteral("Clear")));
    // 8. Hint
    CheckBox1->setToolTip(Translate(QStringLiteral("This is required for importing in Gmail and Outlook.")));
    // 9. Export submenu
    DefaultFormat1->setText(Translate(QStringLiteral("Default CSV Format")));
    ExcelCSVFormat1->setText(Translate(QStringLiteral("Excel CSV Format")));
    GoogleCSVFormat1->setText(Translate(QStringLiteral("Google CSV Format")));
    OutlookCSVFormat1->setText(Translate(QStringLiteral("Outlook CSV Format")));
    YahooCSVFormat1->setText(Translate(QStringLiteral("Yahoo CSV Format")));
    // 10. Labels
    Label1->setText(Translate(QStringLiteral("Encoding:")));
    Label2->setText(Translate(QStringLiteral("Options:")));
    // 11. Both labels take the wider one's width, so the radio buttons and the check boxes
    // start at the same place.
    const int width1 = Label1->sizeHint().width();
    const int width2 = Label2->sizeHint().width();
    if (width2 < width1) {
        Label1->setFixedWidth(width1);
        Label2->setFixedWidth(width1);
    } else {
        Label1->setFixedWidth(width2);
        Label2->setFixedWidth(width2);
    }
    // 12.
    ResizeMyCheckbox(CheckBox1);
    ResizeMyCheckbox(CheckBox2);
}

int TAppForm::ScaleDimension(int X) const
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

void TAppForm::ResizeMyCheckbox(QCheckBox *MyCheckbox)
{
    const int textWidth = MyCheckbox->fontMetrics().horizontalAdvance(MyCheckbox->text());
    // Where this desktop's check box indicator needs more room than the designed 30 pixels,
    // the style's own size wins, so the caption is never cut.
    MyCheckbox->setFixedWidth(std::max(textWidth + ScaleDimension(30), MyCheckbox->sizeHint().width()));
}

// ---- start, close, drop ------------------------------------------------------------------------

void TAppForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void TAppForm::FormShow()
{
    // All arguments joined with blanks name one file, so an unquoted path with blanks loads.
    if (m_arguments.isEmpty())
        return;
    const QString path = m_arguments.join(u' ').trimmed();
    if (QFileInfo(path).isFile())
        Ekle(path);
}

void TAppForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    // The tray icon would otherwise keep the program alive with no window.
    qApp->quit();
}

void TAppForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TAppForm::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    HandleFileDrop(paths);
}

void TAppForm::HandleFileDrop(const QStringList &paths)
{
    // Paths are taken whole, however long; folders are not searched.
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            continue;
        if (path.toLower().endsWith(QStringLiteral(".vcf")))
            Ekle(path);
    }
}

// ---- loading and clearing ------------------------------------------------------------------------

void TAppForm::SetLoadButtonCaption()
{
    BitBtn1->setText(m_loadCaption + QStringLiteral(" [") + QString::number(Loaded().LoadedFileCount) + u']');
}

void TAppForm::Ekle(const QString &inputfile)
{
    if (!QFileInfo::exists(inputfile))
        return;
    // A running export reads its own snapshot of the loaded lines, so loading goes on here.
    WaitForSnapshots();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const LoadOutcome outcome = AppendVcfFile(inputfile, SelectedEncoding(), Loaded());
    if (outcome.kind == LoadOutcome::Missing) { // vanished since the test above
        QApplication::restoreOverrideCursor();
        return;
    }
    if (!outcome.warningText.isEmpty())
        Dialogs::ShowMessage(this, MessageIcon::Warning, outcome.warningCaption, outcome.warningText);
    SetLoadButtonCaption();
    QApplication::restoreOverrideCursor();
    EnabledYap();
}

void TAppForm::BitBtn1Click()
{
    const QStringList files = Dialogs::GetOpenFileNames(this, m_openFilter);
    for (const QString &file : files)
        Ekle(file);
}

TextEncoding TAppForm::SelectedEncoding() const
{
    if (RadioButton1->isChecked())
        return TextEncoding::Ansi;
    if (RadioButton2->isChecked())
        return TextEncoding::Utf8;
    if (RadioButton3->isChecked())
        return TextEncoding::Utf16;
    return TextEncoding::Utf8;
}

void TAppForm::EnabledYap()
{
    for (QWidget *control : std::initializer_list<QWidget *>{BitBtn2, RadioButton1, RadioButton2, RadioButton3,
                                                             CheckBox1, CheckBox2, Label1, Label2})
        control->setEnabled(true);
    Q_EMIT exportControlsEnabled();
}

void TAppForm::DisabledYap()
{
    for (QWidget *control : std::initializer_list<QWidget *>{BitBtn2, RadioButton1, RadioButton2, RadioButton3,
                                                             CheckBox1, CheckBox2, Label1, Label2})
        control->setEnabled(false);
}

void TAppForm::ClearNow()
{
    WaitForSnapshots();
    Loaded().ClearNow();
    BitBtn1->setText(m_loadCaption);
    DisabledYap();
    ProgressBar1->setValue(0);
    SetLauncherProgress(0);
}

// ---- what a job asks of the window ------------------------------------------------------------

void TAppForm::ProgressDegistir(int value)
{
    ProgressBar1->setValue(value);
    SetLauncherProgress(value);
    Q_EMIT progressShown(value);
}

void TAppForm::SetBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TAppForm::DisableExportButton()
{
    BitBtn2->setEnabled(false);
}

ExportOptions TAppForm::ReadExportOptions() const
{
    ExportOptions options;
    options.headers = CheckBox1->isChecked();
    options.sort = CheckBox2->isChecked();
    options.encoding = SelectedEncoding();
    return options;
}

void TAppForm::ShowJobMessage(MessageIcon icon, const QString &caption, const QString &text)
{
    if (m_closing) {
        // The window is gone: the outcome still reaches the user who started the program.
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(Dialogs::DisplayText(text)));
        return;
    }
    Dialogs::ShowMessage(this, icon, caption, text);
}

void TAppForm::JobEnded()
{
    --m_runningJobs;
}

void TAppForm::WaitForSnapshots()
{
    if (m_pendingSnapshots > 0) {
        m_snapshotsTaken.acquire(m_pendingSnapshots);
        m_pendingSnapshots = 0;
    }
}

void TAppForm::FinishJobsQuietly()
{
    m_closing = true;
    // The jobs' calls onto this thread must still be served while waiting, or they would
    // wait for each other for ever.
    while (m_runningJobs > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ---- menus under buttons, help, timer, tray -----------------------------------------------------

void TAppForm::ShowMenuUnderButton(QPushButton *button, QMenu *menu)
{
    m_menuUnderButton.Show(button, menu);
}

void TAppForm::BitBtn2Click()
{
    ShowMenuUnderButton(BitBtn2, PopupMenu2);
}

void TAppForm::Action3Execute()
{
    if (BitBtn2->isEnabled())
        PopupMenu2->exec(QCursor::pos());
    else
        Dialogs::Beep();
}

QString TAppForm::HelpAddress() const
{
    QString page = Identity().AppDescription.toLower();
    page.replace(u' ', u'-');
    return QStringLiteral("http://") + WebHost() + QStringLiteral("/help/") + page + u'/';
}

void TAppForm::Action2Execute()
{
    // A failure to open the page is not reported.
    QDesktopServices::openUrl(QUrl(HelpAddress()));
}

void TAppForm::UpdateNotifications1Execute()
{
    // The action has toggled its check mark already; the stored value counts from the next start.
    WriteShowUpdate(UpdateNotifications1->isChecked());
}

void TAppForm::Language1Execute()
{
    // Made for each opening; a confirmed change ends the program instead of closing it.
    TTranslateForm form(SetLanguageFile, DataDir(), this);
    form.exec();
}

void TAppForm::Button1Click()
{
    // Made for each opening and discarded when it closes.
    const AppIdentity &identity = Identity();
    TFeedbackForm form({identity.AppDescription, identity.AppCaption, identity.AppVersion}, this);
    form.exec();
}

void TAppForm::Button2Click()
{
    // Made for each opening and discarded when it closes.
    TAboutBox AboutBox(Identity().AppDescription, Identity().AppVersion, this);
    AboutBox.exec();
}

void TAppForm::TrayIcon1Click()
{
    showNormal();
    raise();
    activateWindow();
}

void TAppForm::TimerCheckerTimer()
{
    // The first tick starts the update check; later ticks watch it and apply its results.
    if (!m_checkerStarted) {
        m_checkerStarted = true;
        StartUpdateCheck();
        return;
    }
    if (!m_check->CheckDone())
        return;
    TimerChecker->stop();
    UpdateNotifications1->setEnabled(true);
    if (m_check->ShowUpdate() == 0)
        UpdateNotifications1->setChecked(false);
    if (m_check->ShowNewVersion())
        ShowNewVersionNotice();
}

void TAppForm::StartUpdateCheck()
{
    CheckerInputs inputs;
    inputs.appCaption = Identity().AppCaption;
    inputs.appVersion = Identity().AppVersion;
    // Runs on the checker's thread: the box is shown on the window's thread and the check
    // waits until the user has closed it.
    inputs.showImportant = [this](const QString &message) {
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                Dialogs::ShowMessage(this, MessageIcon::Warning, Translate(QStringLiteral("IMPORTANT")), message);
            },
            Qt::BlockingQueuedConnection);
    };
    m_check = TChecker::Start(std::move(inputs));
}

void TAppForm::ShowNewVersionNotice()
{
    // The notice shows itself, closes itself and is deleted when it closes.
    new TNewVer(Identity().AppDescription, m_check->CurrentVersion(), m_check->CurrentURL(), this);
}
