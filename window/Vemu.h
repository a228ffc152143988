#ifndef VEMU_H
#define VEMU_H

// Room window/: the Vemu main window, its form and everything that touches it.

// The main window. All engine and display state lives here; the member
// functions are spread over one source file per concern:
//   vemu_window.cpp      construction, destruction, log lines
//   vemu_link.cpp        connect/disconnect, platform detection, ports, reconnection
//   vemu_linestate.cpp   fixed requests, gui_timer, line-state answers
//   vemu_polling.cpp     Start/Stop and the request scheduler
//   vemu_answers.cpp     reception, matching, retries, records
//   vemu_recording.cpp   part files, circular mode, archiving
//   vemu_settings.cpp    Vemu.ini
//   vemu_automation.cpp  the automation file and unattended runs
//   vemu_script.cpp      the request script and the symbol-file choice
//   vemu_firmware.cpp    firmware, DSL mode and T1.413 displays (display/)
//   vemu_status.cpp      status panel, info and retransmission tabs (display/)
//   vemu_graphs.cpp      live graphs (display/)

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QTcpSocket;
class QTimer;
class QProcess;
class QFile;
class QwtPlot;
class QwtPlotGrid;
class QwtLegend;
class QwtPlotZoomer;
class message;
class SymbolMaps;
class LiveGraphData;
class Ui_Vemu;
enum class LiveGraph;

// The program version shown in the window.
extern const char *const kVemuVersion;

class Vemu : public QWidget
{
    Q_OBJECT

public:
    explicit Vemu(QWidget *parent = nullptr);
    ~Vemu() override;

signals:
    void msgReceived();
    void endOfCurntIter();

public slots:
    void on_m_Bconnect_clicked();
    void on_m_Bstart_clicked();
    void on_m_BinputFile_clicked();
    void on_m_BoutputFile_clicked();
    void on_m_Bmatlab_clicked();
    void on_m_Bhtml_clicked();
    void on_m_BprepareInputFile_clicked();
    void on_m_BHelp_clicked();
    void on_m_ClLogs_clicked();
    void on_m_CLHTML_clicked();
    void on_m_CLBins_clicked();
    void on_m_ClearMatlab_clicked();
    void on_m_BResetGraph_clicked();
    void on_m_BinGeneration_clicked();
    void on_m_R_Port_0_toggled(bool checked);
    void on_m_R_Port_1_toggled(bool checked);
    void gui_timer();
    void polling_timer();
    void start_processing();
    void stop_processing();
    void waitingTimer();
    void automation_close();
    void socket_error(QAbstractSocket::SocketError error);
    void receive();
    void get_chip();
    void on_m_SpollingTime_valueChanged(int seconds);
    void on_m_liveGraphsSelection_currentIndexChanged();
    void clear_Tabs_infos(int index);
    void remove_uncompressed_file();
    void writeLog(QString text);

public:
    // ---- log -------------------------------------------------------------
    static QString log_time_stamp();
    // One entry: colour tag, time stamp, text, "</font>".
    void log_line(const char *colour, const QString &text);

    // ---- link ------------------------------------------------------------
    // Takes the reply to the platform query; true when it started a test.
    bool detect_platform();

    // ---- line state --------------------------------------------------------
    void send_state_request();
    void send_korra_state_request();
    void send_version_request();
    void send_korra_version_request();
    void send_platform_state_request();
    void write_fixed_request(quint32 group, quint32 address, quint32 words, bool korra);
    void handle_state_answer(QByteArray &header, QByteArray &payload);
    void handle_legacy_state_answer(QByteArray &header, QByteArray &payload);

    // ---- polling -----------------------------------------------------------
    void send_next_request();
    void next_iteration();
    void append_time_stamp_record();

    // ---- answers -----------------------------------------------------------
    void process_korra_answer();
    void process_legacy_answer();

    // ---- recording ---------------------------------------------------------
    void write_result_file();
    void close_result_part();

    // ---- settings and automation ------------------------------------------
    void init_from_ini();
    void parse_automation_file();

    // ---- request script and symbols ---------------------------------------
    void parse_input_file();
    QString parse_afe_read(QString operand, quint32 lineNo, QString states, QFile *device);
    QString add_afe_read(quint32 reg, QString states, bool textMode);
    void clear_requests();
    void choose_symbol_file();

    // ---- status display ----------------------------------------------------
    void display_firmware_info(QByteArray &header, QByteArray &payload);
    void display_legacy_firmware_info(QByteArray &header, QByteArray &payload);
    void mark_t1413(QByteArray &header, QByteArray &payload);
    void apply_dsl_mode_to_state(QByteArray &header, QByteArray &payload);
    void show_ds_net_rate(QByteArray &header, QByteArray &payload);
    void show_us_net_rate(QByteArray &header, QByteArray &payload);
    void display_crc_per_lp(QByteArray &header, QByteArray &payload);
    void show_info_fields();
    void clear_cpe_infos();
    void decode_info_answer(QByteArray &header, QByteArray &payload);
    void display_retransmission(QByteArray &header, QByteArray &payload);
    void display_fail_states(QByteArray &header, QByteArray &payload);

    // ---- live graphs -------------------------------------------------------
    void setup_plot();
    void update_live_graph(QByteArray header, bool fromAnswer);

    // ---- members, in declaration order ------------------------------------
    Ui_Vemu *ui = nullptr;
    QTcpSocket *m_socket = nullptr;
    quint16 m_port = 2000;
    bool m_reconnecting = false;
    quint8 m_reconnectAttempts = 0;
    QTimer *m_guiTimer = nullptr;
    QTimer *m_pollingTimer = nullptr;
    QTimer *m_automationCloseTimer = nullptr;
    QTimer *m_waitingTimer = nullptr;
    QTimer *m_startTimer = nullptr;
    QTimer *m_stopTimer = nullptr;
    QElapsedTimer *m_stopwatch = nullptr;
    QList<message *> m_requests;
    QByteArray m_requestPayload;
    QByteArray m_lastRequest;
    QList<qint16> m_afeRegisters;
    quint8 m_wrongAnswers = 0;
    int m_requestIndex = 0;
    int m_afeIndex = 0;
    bool m_requestDone = true;
    bool m_stateAnswer = false;
    bool m_answerMatched = true;
    QByteArray m_iterationBuffer;
    QByteArray m_partBuffer;
    QByteArray m_circularBufferA;
    QByteArray m_circularBufferB;
    int m_partNumber = 0;
    QString m_outputBase;
    QString m_fileToCompress;
    int m_flushThreshold = 100000;
    quint16 m_iteration = 0;
    quint16 m_cpeState = 8;
    quint16 m_previousCpeState = 8;
    quint16 m_dslFamily = 0;
    quint8 m_answersSinceState = 0;
    bool m_detectionPending = true;
    // No platform is known before the first detection; Start stays disabled
    // until one is, so this default never selects a packet format.
    bool m_korraPlatform = false;
    bool m_connected = false;
    bool m_testRunning = false;
    bool m_periodActive = false;
    bool m_partFull = false;
    bool m_showtimeFlag = false;
    bool m_linkDropped = false;
    bool m_openingStateRead = true;
    bool m_failAtListStart = false;
    bool m_errorAnswer = false;
    bool m_circularArmed = false;
    bool m_resumeAfterReconnect = false;
    bool m_firstBlockInA = false;
    bool m_guiToggle = false;
    bool m_internalEdition = false;
    int m_automationMode = 0;
    int m_usRatePath = 0;
    int m_dsRatePath = 0;
    QString m_symbolFilePath;
    QStringList m_testDescription;
    QHash<QString, uchar> m_cmvGroups;
    SymbolMaps *m_symbols = nullptr;
    LiveGraphData *m_graphData = nullptr;
    QwtPlot *m_plot = nullptr;
    QwtPlotGrid *m_grid = nullptr;
    QwtLegend *m_legend = nullptr;
    QwtPlotZoomer *m_zoomer = nullptr;
    QProcess *m_compressor = nullptr;

    // Each room below adds what it needs beyond the members above, in its own
    // section only.
    // ---- link and line state additions ----
    // The link is up and its platform known: the only time Start may be pressed.
    bool link_ready() const;
    // A link stands again: no reconnection attempt may follow.
    void end_reconnection();
    // ---- polling and answers additions ----
    // Answers are gathered here until whole; m_answer is the one being
    // handled and m_answerRead how much of it has been taken.
    QByteArray m_rxBuffer;
    QByteArray m_answer;
    int m_answerRead = 0;
    // Stopwatch reading when the first bytes of the pending answer came; -1
    // when they came together with an answer handled before.
    qint64 m_answerArrivalMs = -1;
    QTimer *m_fragmentTimer = nullptr;
    // Bytes of an answer that may still come: the rest of one given up on as
    // a fragment, or what the answer rules let the device leave out. They
    // are dropped when they come; an arrival that begins a new answer
    // cancels them.
    int m_owedAnswerBytes = 0;
    bool m_receiving = false;
    bool m_receivePassQueued = false;
    // Between Start and the opening of the first period.
    bool m_awaitingFirstPeriod = false;
    void read_link_input();
    void handle_buffered_answers(bool giveUpFragment);
    void handle_answer(qint64 delayMs);
    void fragment_timeout();
    void queue_receive_pass();
    void discard_link_input();
    QByteArray take_answer_bytes(int count);
    void record_completed_request(int kind, const QByteArray &header, bool answerHadPayload);
    void answer_outside_period();
    void append_reset_time_stamp();
    void start_next_period();
    void write_request_packet(const QByteArray &packet);
    void set_test_widgets_enabled(bool enabled);
    // ---- recording additions ----
    // 1 while half A is filled, 0 while half B is; lives as long as the program.
    static qint32 s_circularToggle;
    // Parts waiting for the archiver, oldest first (the one being packed is
    // m_fileToCompress).
    QStringList m_archiveQueue;
    // Parts packed and checked whose ".bin" goes at the next moment a period
    // is active.
    QStringList m_archivedParts;
    // Records a failed write kept for the next one, oldest first; at most the
    // part's size limit.
    QByteArray m_unwrittenRecords;
    // Writes fail since the last notice; the next success ends the run.
    bool m_writeFailing = false;
    // Bytes of kept records dropped in this run of failures, not yet reported.
    qint64 m_droppedBytes = 0;
    // The window is being destroyed: no box may open.
    bool m_destroying = false;
    void write_normal_part();
    void write_circular_part();
    void rewrite_circular_part();
    QByteArray take_records();
    void keep_unwritten(const QByteArray &records, qint64 limit);
    void report_write_failure(bool box, const QString &text);
    void report_lost_records(qint64 bytes);
    void write_succeeded();
    void start_next_archive();
    void remove_archived_parts(bool atExit = false);
    // Last writes, archiver and removals when the window goes.
    void finish_recording_at_exit();
    // The name Start gives the first part of a test.
    QString first_part_name() const;
    // `base` under "Results/" unless it is an absolute path.
    static QString result_part_stem(const QString &base);
    // One past the highest part number stored under `stem`, packed or not.
    static int first_free_part(const QString &stem);
    // The part name with its ending ".bin" replaced by `ending`.
    static QString part_name_with_ending(const QString &part, const QString &ending);
    static QString next_part_name(const QString &part, int number);
    // ---- settings and automation additions ----
    // ---- script additions ----
    // ---- status display additions ----
    // ---- graphs additions ----
    // The graph of the selection list's current item.
    LiveGraph shown_graph() const;
    // What the plot showed and was drawn from at its last replot by
    // update_live_graph; see there.
    bool answer_may_change_graph(LiveGraph graph, const QByteArray &header) const;
    QVector<double> graph_view_state() const;
    QVector<double> graph_data_state() const;
    QVector<double> m_drawnView;
    QVector<double> m_drawnData;
};

#endif
