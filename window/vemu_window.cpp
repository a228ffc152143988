// Construction, destruction and the log of the main window.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "message.h"
#include "session_log.h"

#include <QDateTime>
#include <QPixmap>
#include <QProcess>
#include <QScrollBar>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QTimer>

#include <memory>

#include <qwt_plot.h>

const char *const kVemuVersion = "2.0.1.5";

namespace {

// The log view shows its newest line unless the user has scrolled up to read
// an older one; scrolled back to the end, it follows again. Qt's own append
// follows only a view already at its end, which a view laid out after its
// first lines (at start-up, or grown by a resize) is not.
void follow_newest_line(QTextBrowser *log)
{
    QScrollBar *bar = log->verticalScrollBar();
    auto follows = std::make_shared<bool>(true);
    QObject::connect(bar, &QScrollBar::valueChanged, log,
                     [bar, follows](int value) { *follows = value >= bar->maximum(); });
    QObject::connect(bar, &QScrollBar::rangeChanged, log, [bar, follows](int, int maximum) {
        if (*follows)
            bar->setValue(maximum);
    });
}

QTimer *make_single_shot_timer(QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early and rounds long waits to whole
    // seconds; every wait of the window must last at least its full interval.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

} // namespace

// The logo lives in the core library's resources; a static library's
// resources must be registered by name before first use.
static void register_resources()
{
    Q_INIT_RESOURCE(vemu);
}

Vemu::Vemu(QWidget *parent)
    : QWidget(parent, Qt::WindowFlags())
{
    register_resources();
    ui = new Ui_Vemu;
    ui->setupUi(this);

    m_internalEdition = VEMU_INTERNAL_EDITION != 0;

    setWindowTitle(QStringLiteral("Norvane Vemu"));
    ui->m_LsoftwareVersion->setText(QStringLiteral("Norvane Vemu Internal Version: ")
                                    + QLatin1String(kVemuVersion));

    QPixmap logo;
    if (logo.load(QStringLiteral(":/logo.png"), "PNG"))
        ui->m_logo->setPixmap(logo);
    ui->m_logo->setStyleSheet(QStringLiteral("QLabel { background-color : white}"));

    follow_newest_line(ui->m_Tlog);
    ui->m_Tlog->append(log_time_stamp() + QStringLiteral("<font color=black>Vemu Started.</font>"));

    m_graphData = new LiveGraphData;
    setup_plot();

    m_socket = new QTcpSocket(this);
    m_port = 2000;
    connect(m_socket, &QTcpSocket::readyRead, this, &Vemu::receive);
    connect(m_socket, &QTcpSocket::connected, this, &Vemu::get_chip);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &Vemu::socket_error);

    m_guiTimer = make_single_shot_timer(this);
    m_pollingTimer = make_single_shot_timer(this);
    m_automationCloseTimer = make_single_shot_timer(this);
    m_waitingTimer = make_single_shot_timer(this);
    m_startTimer = make_single_shot_timer(this);
    m_stopTimer = make_single_shot_timer(this);
    connect(m_guiTimer, &QTimer::timeout, this, &Vemu::gui_timer);
    connect(m_pollingTimer, &QTimer::timeout, this, &Vemu::polling_timer);
    connect(m_automationCloseTimer, &QTimer::timeout, this, &Vemu::automation_close);
    connect(m_waitingTimer, &QTimer::timeout, this, &Vemu::waitingTimer);
    connect(m_startTimer, &QTimer::timeout, this, &Vemu::start_processing, Qt::DirectConnection);
    connect(this, &Vemu::msgReceived, this, &Vemu::start_processing, Qt::DirectConnection);
    connect(m_stopTimer, &QTimer::timeout, this, &Vemu::stop_processing, Qt::DirectConnection);
    connect(this, &Vemu::endOfCurntIter, this, &Vemu::stop_processing, Qt::DirectConnection);

    m_stopwatch = new QElapsedTimer;

    m_compressor = new QProcess(this);
    connect(m_compressor, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &Vemu::remove_uncompressed_file);

    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &Vemu::clear_Tabs_infos);

    m_connected = m_testRunning = m_periodActive = m_partFull = m_showtimeFlag = m_linkDropped = false;
    m_automationMode = 0;
    m_resumeAfterReconnect = false;
    m_openingStateRead = true;
    m_stateAnswer = m_failAtListStart = m_errorAnswer = m_guiToggle = m_reconnecting = false;
    m_firstBlockInA = m_circularArmed = false;
    m_answerMatched = true;
    m_cpeState = m_previousCpeState = 8;
    m_flushThreshold = 100000;
    m_answersSinceState = m_wrongAnswers = m_reconnectAttempts = 0;
    m_partNumber = 0;
    m_dslFamily = 0;
    ui->m_Bstart->setEnabled(false);
    ui->m_BResetGraph->setEnabled(false);

    fill_cmv_groups(m_cmvGroups);
    make_results_dirs();
    init_from_ini();
    if (m_automationMode == 1) {
        setWindowFlags(Qt::FramelessWindowHint);
        setEnabled(false);
        parse_automation_file();
        on_m_Bconnect_clicked();
    } else if (m_automationMode == 2) {
        setWindowFlags(Qt::Window);
        setEnabled(true);
        parse_automation_file();
        on_m_Bconnect_clicked();
    }

    if (!m_internalEdition) {
        for (int index : {9, 8, 7, 3, 2})
            ui->tabWidget->removeTab(index);
        ui->gridLayout_3->removeWidget(ui->m_EsymbolFile);
        ui->m_EsymbolFile->hide();
        ui->gridLayout_3->removeWidget(ui->label_7);
        ui->label_7->hide();
        ui->horizontalLayout->removeWidget(ui->m_BHelp);
        ui->m_BHelp->hide();
        ui->m_Bstart->setMaximumWidth(300);
        ui->m_Eiteration->setMaximumWidth(300);
        setMinimumHeight(750);
        ui->m_liveGraphsSelection->removeItem(6);
        ui->m_LsoftwareVersion->setText(QStringLiteral("Norvane Vemu Customer Version: ")
                                        + QLatin1String(kVemuVersion));
    }
}

Vemu::~Vemu()
{
    finish_recording_at_exit();

    make_results_dirs();
    const QString plain = ui->m_Tlog->document()->toPlainText();
    const QString html = ui->m_Tlog->document()->toHtml();
    write_session_log(html, plain);

    m_socket->disconnect(this);
    delete m_socket;
    m_socket = nullptr;
    delete ui;
    ui = nullptr;

    clear_requests();
    delete m_symbols;
    // The plot's curves read the store: the plot goes first.
    delete m_plot;
    m_plot = nullptr;
    m_grid = nullptr;
    m_legend = nullptr;
    m_zoomer = nullptr;
    delete m_graphData;
    delete m_stopwatch;
}

QString Vemu::log_time_stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("[yyyy.MM.dd / hh:mm:ss] "));
}

void Vemu::log_line(const char *colour, const QString &text)
{
    ui->m_Tlog->append(QStringLiteral("<font color=") + QLatin1String(colour) + QLatin1Char('>')
                       + log_time_stamp() + text + QStringLiteral("</font>"));
}

void Vemu::writeLog(QString text)
{
    ui->m_Tlog->append(text);
}

void Vemu::clear_requests()
{
    qDeleteAll(m_requests);
    m_requests.clear();
    m_afeRegisters.clear();
}

// The post-processing tools are not part of this program yet; their buttons
// exist in the internal edition's form and do nothing.
void Vemu::on_m_Bmatlab_clicked() {}
void Vemu::on_m_Bhtml_clicked() {}
void Vemu::on_m_BprepareInputFile_clicked() {}
void Vemu::on_m_ClLogs_clicked() {}
void Vemu::on_m_CLHTML_clicked() {}
void Vemu::on_m_CLBins_clicked() {}
void Vemu::on_m_ClearMatlab_clicked() {}
void Vemu::on_m_BinGeneration_clicked() {}
