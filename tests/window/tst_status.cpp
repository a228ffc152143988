// One table, answers in, every field's text and colour out (panel, info, retransmission, exception tabs); the same
// pages in a real test against the simulated CPE; the log.

#include "LiveGraphData.h"
#include "rig.h"
#include "ui_Vemu.h"

#include <QScrollBar>
#include <QtTest>

class TestStatus : public QObject
{
    Q_OBJECT
    ScopedWorkFolder m_folder;
private slots:
    void answers_data();
    void answers();
    void from_the_cpe_data();
    void from_the_cpe();
    void log_follows_its_newest_line();
};

// decoder|platform|state|context: firmware text for rates, DSL mode else|header:
// "G.A/W" answers a Korra CMV read of group G, address A, W words ("+B=V" sets
// byte B), or hex|payload, "*" words 1, 2, ... (k, k+1 read k+1 + (k+2) * 65536)
// |field=text, black ("Not available" gray; blue:, red:, green:, same: other
// colours); info, retx: every field of those pages. All else stays as it was.
void TestStatus::answers_data()
{
    QTest::addColumn<QString>("row");
    for (const char *row : {
        "fw|K|7||3.54/3|050346122143|Efirmware=3.5.1.2.1.6_4.3.2.1;Eplateform=Orkan-SE;EdslMode=VDSL", "fw|K|7||2.54/3|05034612|",
        "fw|K|7||3.54/3|51230002|Efirmware=5.1.2.3.0.2;Eplateform=Korra - 1;EdslMode=ADSL Annex B", "fw|K|7||3.54/3+9=1|05034612|",
        "fw|K|7|ADSL Annex A  T1.413|3.54/3|721002000000|Efirmware=7.2.1.0.0.2_0.0;Eplateform=Korra - 2;EdslMode=green:ADSL Annex B  T1.413",
        "fw|K|7|ADSL Annex A  T1.413|3.54/3||Efirmware=blue:VDSL FW;Eplateform=blue:Korra platform;EdslMode=blue: ", "fw|K|7||3.54/3+2=0x41|0503|",
        "fw|K|7||3.54/3|000000002143|Efirmware=0.0.0.0.0.0_4.3.2.1;Eplateform=Unknown Chip;EdslMode=Unknown",
        "legacy fw|L|7||0002000300360000|FFFFFFFF|Efirmware=F.F.F.F.3.F;Eplateform=Unknown Chip;EdslMode=Unknown",
        "legacy fw|L|7|VDSL  T1.413|0002000300360000|00000000|Efirmware=red:Not available;Eplateform=red:Chip not available;EdslMode=red: ",
        "mark|K|7|ADSL Annex A|2.1/2|00010000|EdslMode=green:ADSL Annex A  T1.413", "mark|K|7|ADSL Annex A  T1.413|2.1/2|0001|",
        "mark|K|7|ADSL Annex A  T1.413|2.1/2|01|EdslMode=ADSL Annex A", "mark|K|7|ADSL Annex A|2.1/2+3=0x11|0001|",
        "mark|L|7|ADSL Annex A|0002000200010000|0001|EdslMode=green:ADSL Annex A  T1.413", "range|K|7| |2.1/3|00000004|",
        "mark|L|1|VDSL  T1.413|0002000300360000|0001|EdslMode=VDSL", "range|K|7| |2.1/2|00000004|state=107", "range|K|240|VDSL|2.1/2||",
        "range|K|107| |2.1/2|00000002|state=7", "range|K|9|VDSL|2.1/2||state=109", "range|K|107|ADSL Annex A|2.1/2|00000004|state=7",
        "ds|K|7|3.6.1.2.1.6|6.1/4|4E20000000000000|DSdatarate=DS: 20000 kbps;graph=ds 20000", "ds|K|7||6.1/3|4E20000000000000|",
        "ds|K|7|3.5.1.2.1.6|6.1/4|4E20000000000000|DSdatarate=DS: 80000 kbps;graph=ds 80000", "ds|K|7||6.1/0x80|4E20000000000000|",
        "ds|K|107|VDSL FW|6.1/4|4E20000000000000|DSdatarate=DS: 80000 kbps;graph=ds 80000", "ds|K|7||6.0/4|4E20000000000000|",
        "ds|K|7|3.6.1.2.1.6|6.1/4|0000800000010000|DSdatarate=DS: 2147483648 kbps;graph=ds 2147483648", "ds|K|106||6.1/4|4E20|DSdatarate=Not available",
        "ds|K|7||6.1/4|0010000000100000|DSdatarate=DS: 16 kbps;graph=ds 16", "us|K|2||6.0/4||USdatarate=Not available",
        "us|K|8||6.0/4|0001000000020000|USdatarate=US: 2 kbps;graph=us 2", "crc|K|7|ADSL Annex A|10.35/2|00050007|",
        "crc|K|7|ADSL Annex A  T1.413|10.8/4|0005000100070000|CRCLP0=LP0: 65541;CRCLP1=LP1: 7;graph=crc 65541 7",
        "crc|K|107|VDSL|10.35/2|00050007|CRCLP0=LP0: 5;CRCLP1=LP1: 7;graph=crc 5 7", "crc|K|7| |10.35/2|00050007|CRCLP0=Not available;CRCLP1=Not available",
        "crc|K|106|VDSL|10.35/2||CRCLP0=Not available;CRCLP1=Not available", "retx 2|K|7||10.44/26|*|", "retx 2|K|7||6.3/5|*|",
        "retx 2|K|7||10.44/27|*|EDtuRetr=Retransmitted: 131073;EDtuCorr=Corrected: 262147;EDtuUncorr=Uncorrected: 393221;EDtuTot=Total: 655369;"
        "EDtuGood=Good: 786443;EDtuBad=Bad: 917517;EDtuUnxpct=Unexpected: 1310739;EErrBitsps=1572887;EDtuFwd=Forwarded: 1703961",
        "retx 2|K|108||6.2/2|*|EETR=131073", "retx 2|K|2||10.44/27|*|retx=Not available", "fail|K|15||2.5/9|*|", "fail|K|2||10.5/10|*|",
        "retx 3|K|9||6.3/5|*|USEtr=131073;US_ActDelay=Actual Delay: 3;US_INP_REIN=Actual INP Shine: 4;US_INP_shine=Actual INP Rein: 5",
        "fail|K|2||2.5/10+3=0x1F|*|EFWFail=same:2;ETxSCAF=same:262147;ETxErrState=same:5;ETxSubErrState=same:6;ERxSCAF=same:524295;"
        "ERxErrState=same:9;ERxSubErrState=same:10", "info|K|106|VDSL|2.1/2||info=Not available", "info|L|7|VDSL|10.35/2||info=;hidden=UPBO/0",
        "info|K|107| |2.1/2|00000002|info=;hidden=Vectoring,US0,Profile,DS bands,US bands,UPBO,KL0,A-ELE-M,a band,b band/9",
        "info|K|107| |2.1/2|00000001|info=;hidden=/0", "reinfo|K|107| |2.1/2|00000001|hidden=/0"})
        QTest::newRow(row) << QString::fromUtf8(row);
}

void TestStatus::answers()
{
    QFETCH(QString, row);
    const QStringList f = row.split(QLatin1Char('|')), spec = f[4].split(QRegularExpression("[./+=]"));
    Vemu w;
    w.m_korraPlatform = f[1] == "K", w.m_cpeState = quint16(f[2].toUInt());
    w.ui->tabWidget->setCurrentIndex(f[0].startsWith("retx") ? f[0].right(1).toInt() : 0);
    const QPalette magenta(Qt::black, Qt::white, Qt::white, Qt::gray, Qt::gray, Qt::magenta, Qt::white, Qt::white, Qt::white);
    QLineEdit *context = f[0] == "ds" || f[0] == "us" ? w.ui->m_Efirmware : w.ui->m_EdslMode;
    for (QLineEdit *field : w.findChildren<QLineEdit *>())
        field->setPalette(magenta), field->setText(field == context ? f[3] : f[0] == "info" ? "Not available" : "old");
    const auto shown = [&w] {
        const LiveGraphData &g = *w.m_graphData;
        QMap<QString, QString> s{{"state", QString::number(w.m_cpeState)}};
        // The configuration page's hidden captions, then how many of its fields are hidden.
        QStringList captions;
        for (QLabel *label : w.ui->tab_configuration->findChildren<QLabel *>())
            captions << (label->isHidden() ? label->text() : QString());
        int fields = 0;
        for (QLineEdit *field : w.ui->tab_configuration->findChildren<QLineEdit *>())
            fields += field->isHidden();
        s["hidden"] = captions.filter(QRegularExpression(".")).join(',') + QLatin1Char('/') + QString::number(fields);
        for (QLineEdit *field : w.findChildren<QLineEdit *>())
            s[field->objectName().mid(2)] = field->palette().color(QPalette::Text).name() + QLatin1Char(' ') + field->text();
        for (const auto &series : QList<QPair<QString, QVector<double>>>{{"ds", g.ds_rates}, {"us", g.us_rates}, {"crc", g.crc_lp0}, {"", g.crc_lp1}})
            for (double value : series.second)
                s["graph"] = QStringLiteral("%1 %2 %3").arg(s["graph"], series.first).arg(quint32(value)).simplified();
        return s;
    };
    // "reinfo": the line was ADSL before this answer.
    if (f[0] == "reinfo") {
        QByteArray header = QByteArray::fromHex("000040100002010200000002"), payload = QByteArray::fromHex("00000002");
        w.decode_info_answer(header, payload);
        w.ui->m_EdslMode->setText(f[3]);
    }
    QMap<QString, QString> expected = shown();
    const QHash<QString, QStringList> pages = {{"info", {"tab_liveParam1", "tab_liveParam2", "tab_configuration"}},
                                               {"retx", {"tab_dsRetransmission", "tab_usRetransmission"}}};
    const QHash<QString, QColor> colours = {{"blue", Qt::blue}, {"red", Qt::red}, {"green", Qt::darkGreen}, {"same", Qt::magenta}};
    // The customer edition's pages 2 and 3 are other pages: only an outage reaches the hidden fields.
    const bool unseen = f[0].startsWith("retx") && !w.m_internalEdition && f[2] != "2";
    for (const QString &item : f[6].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = item.section('=', 0, 0), value = item.section('=', 1), prefix = value.section(':', 0, 0);
        const QString text = colours.value(prefix, value.endsWith("Not available") ? Qt::gray : Qt::black).name() + QLatin1Char(' ')
                             + (colours.contains(prefix) ? value.section(':', 1) : value);
        for (const QString &page : pages.value(key))
            for (QLineEdit *field : w.findChild<QWidget *>(page)->findChildren<QLineEdit *>())
                expected[field->objectName().mid(2)] = text;
        if (!pages.contains(key) && (key[0].isLower() || !unseen))
            expected[key] = key[0].isLower() ? value : text;
    }
    QByteArray header = QByteArray::fromHex(spec.size() > 1 ? "000040100000000000000000" : f[4].toLatin1());
    if (spec.size() > 1)
        header[5] = header[11] = char(spec[2].toInt(nullptr, 0)), header[6] = char(spec[1].toInt()), header[7] = char(spec[0].toInt());
    if (spec.size() > 3)
        header[spec[3].toInt()] = char(spec[4].toInt(nullptr, 0));
    QByteArray payload = QByteArray::fromHex(f[5].toLatin1());
    for (int k = 1; f[5] == "*" && k <= 27; ++k)
        payload += be_words({quint16(k)});
    const QHash<QString, void (Vemu::*)(QByteArray &, QByteArray &)> decoders = {{"fw", &Vemu::display_firmware_info},
        {"legacy fw", &Vemu::display_legacy_firmware_info}, {"mark", &Vemu::mark_t1413}, {"range", &Vemu::apply_dsl_mode_to_state},
        {"ds", &Vemu::show_ds_net_rate}, {"us", &Vemu::show_us_net_rate}, {"crc", &Vemu::display_crc_per_lp}, {"fail", &Vemu::display_fail_states},
        {"retx 2", &Vemu::display_retransmission}, {"retx 3", &Vemu::display_retransmission}, {"info", &Vemu::decode_info_answer}, {"reinfo", &Vemu::decode_info_answer}};
    (w.*decoders.value(f[0]))(header, payload);
    const QMap<QString, QString> now = shown();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(now.value(it.key()) == it.value(), qPrintable(it.key() + ": " + now.value(it.key()) + ", not " + it.value()));
}

// A real test against the simulated CPE on each platform, with a page shown
// (none: the first page): what the panel and the three pages show, worked out
// from the CPE's values; then what Stop, showing a page, Start and Disconnect
// empty, and the ETR that only showing its page empties.
void TestStatus::from_the_cpe_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("korra");
    for (const bool korra : {true, false})
        for (const QString page : {"", "DS Retransmission", "US Retransmission", "Last Exceptions"})
            QTest::newRow(qPrintable(QString(korra ? "Korra " : "legacy ") + (page.isEmpty() ? "panel" : page))) << page << korra;
}

void TestStatus::from_the_cpe()
{
    SKIP_ROW_OF_OTHER_SHARD();
    QFETCH(QString, page);
    QFETCH(bool, korra);
    // The last failure is read while the line fails (Pre Fail on the Korra platform).
    const quint16 state = page != "Last Exceptions" ? 7 : korra ? 15 : 2;
    Rig rig(korra ? SimCpe::Korra : SimCpe::Legacy);
    rig.cpe.setFirmwareVersion(QByteArray::fromHex(korra ? "731201450000" : "02018137"));
    rig.writeIni(QStringLiteral("polling_time=1\noutput_file=out\n")); // Stop between periods is at once
    QVERIFY(rig.open());
    const auto w = [](int k) { return quint16(0x8000 | (k * 257 + 1)); }; // the top bit tells unsigned from signed
    const auto n = [&](int k) { return QString::number(w(k)); };
    const auto dw = [&](int k) { return QString::number(w(k) | quint32(w(k + 1)) << 16); };
    for (const QVector<int> &r : QList<QVector<int>>{{2, 1, 2}, {6, 0, 4}, {6, 1, 4}, {10, 8, 4}, {10, 44, 27}, {6, 2, 2}, {6, 3, 5}, {10, 58, 6}, {10, 59, 6}, {2, 5, 10}}) {
        for (int k = 0; k < r[2]; ++k)
            rig.cpe.setCmvWord(quint8(r[0]), quint16(r[1]), quint16(k), w(k));
        rig.add(new CMV(r[0], r[1], 0, r[2], QStringLiteral(",2,7,8,9,"), false));
    }
    rig.cpe.setCmv(2, 1, {1, 0}); // a T1.413 line
    rig.cpe.setCmv32(6, 1, 0, 25000), rig.cpe.setCmv32(6, 1, 2, 30000), rig.cpe.setCmv32(6, 0, 0, 70000), rig.cpe.setCmv32(6, 0, 2, 1000);
    rig.cpe.setCmv32(10, 8, 0, 100000), rig.cpe.setCmv32(10, 8, 2, 7);
    QTabWidget *tabs = rig.window->ui->tabWidget;
    int shown = 0;
    for (int i = 0; i < tabs->count(); ++i)
        shown = tabs->tabText(i) == page ? i : shown;
    if (page.contains("Retransmission") && !shown)
        QSKIP("this edition has no retransmission pages");
    tabs->setCurrentIndex(shown);
    // The firmware is read only outside a failure.
    QVERIFY(wait_until([&] { return !rig.window->ui->m_Efirmware->text().isEmpty(); }, 20000));
    rig.cpe.setLineState(state);
    QVERIFY(wait_until([&] { return rig.window->ui->m_EcpeState->text() == QString::number(state); }, 20000));
    const auto black = [](const QString &text) { return "#000000 " + text; };
    const QString na = QColor(Qt::gray).name() + " Not available", none;
    const bool showtime = state == 7;
    QMap<QString, QString> e{{"Efirmware", black(korra ? "7.3.1.2.0.1_4.5" : "1.2.3.7.2.1")}, {"Eplateform", black(korra ? "Korra - 2" : "Orkan")},
        {"EdslMode", QColor(Qt::darkGreen).name() + " ADSL Annex A  T1.413"}, {"EcpeState", black(QString::number(state))},
        {"EcpeStateStr", black(!showtime ? korra ? "Pre Fail" : "Fail" : korra ? "Steady-State Tc Not Sync" : "Showtime")},
        // Firmware x.3 gives rates x 4; the faster path's.
        {"DSdatarate", !korra ? none : showtime ? black("DS: 120000 kbps") : na}, {"USdatarate", !korra ? none : showtime ? black("US: 280000 kbps") : na},
        {"CRCLP0", !korra ? none : showtime ? black("LP0: 100000") : na}, {"CRCLP1", !korra ? none : showtime ? black("LP1: 7") : na}};
    const QStringList ds{"EDtuRetr=Retransmitted: " + dw(0), "EDtuCorr=Corrected: " + dw(2), "EDtuUncorr=Uncorrected: " + dw(4), "EDtuTot=Total: " + dw(8),
        "EDtuGood=Good: " + dw(10), "EDtuBad=Bad: " + dw(12), "EDtuUnxpct=Unexpected: " + dw(18), "EErrBitsps=" + dw(22), "EDtuFwd=Forwarded: " + dw(24), "EETR=" + dw(0)},
        us{"USRetxDtu=Retransmitted: " + dw(0), "UScorrectDtu=Corrected: " + dw(2), "USuncorrecDtu=Uncorrected: " + dw(4), "USEtr=" + dw(0), "US_ActDelay=Actual Delay: " + n(2),
           "US_INP_shine=Actual INP Rein: " + n(4), "US_INP_REIN=Actual INP Shine: " + n(3), "ErrorFreebit=Error freebits: " + dw(0), "Eftr_min=Eftr min: " + dw(2),
           "Eftr_defectsec=Eftr Defect seconds: " + dw(4)},
        exceptions{"EFWFail=" + n(1), "ETxSCAF=" + dw(2), "ETxErrState=" + n(4), "ETxSubErrState=" + n(5), "ERxSCAF=" + dw(6), "ERxErrState=" + n(8), "ERxSubErrState=" + n(9)};
    const auto put = [&](QMap<QString, QString> &m, const QStringList &fields, bool filled) {
        for (const QString &field : fields)
            m[field.section('=', 0, 0)] = filled ? black(field.section('=', 1)) : none;
    };
    // The legacy platform fills none of them.
    put(e, ds, korra && page == "DS Retransmission"), put(e, us, korra && page == "US Retransmission"), put(e, exceptions, korra && !showtime);
    const auto shows = [&](const QMap<QString, QString> &expected) { // what differs, once the window has had the time
        QString d;
        wait_until([&] {
            d.clear();
            for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                const QLineEdit *f = rig.window->findChild<QLineEdit *>("m_" + it.key());
                const QString now = f->text().isEmpty() ? none : f->palette().color(QPalette::Text).name() + ' ' + f->text();
                d += now == it.value() ? none : it.key() + ": " + now + ", not " + it.value() + "; ";
            }
            return d.isEmpty();
        }, 20000);
        return d;
    };
    // A whole test: what it shows, and that it stopped.
    const auto test = [&] { const QString seen = rig.start() ? shows(e) : "no start; "; return seen + (rig.stop(20000) ? none : "no stop"); };
    QCOMPARE(test(), none);
    // Stop empties the live values.
    QMap<QString, QString> left = e;
    put(left, {"DSdatarate", "USdatarate", "CRCLP0", "CRCLP1"}, false);
    QCOMPARE(shows(left), none);
    // Start empties the pages but for the ETR, before any answer.
    QVERIFY(wait_until([&] { return rig.window->m_guiTimer->isActive(); }, 5000));
    const RequestFilter stateRead = [](const SimRequest &r) { return r.isStateRequest(); };
    rig.cpe.staySilent(-1, stateRead);
    QVERIFY(rig.start() && rig.cpe.waitForRequests(1, 20000, stateRead));
    QMap<QString, QString> started = left;
    put(started, ds + us + exceptions, false), started["EETR"] = e["EETR"];
    QCOMPARE(shows(started), none);
    rig.cpe.clearFaults();
    QVERIFY(rig.stop(20000));
    // Showing its page again empties a retransmission page, and only that.
    QCOMPARE(test(), none);
    tabs->setCurrentIndex(shown ? 0 : 1), tabs->setCurrentIndex(shown);
    QMap<QString, QString> tab = left;
    put(tab, shown == 2 ? ds : shown == 3 ? us : QStringList(), false);
    QCOMPARE(shows(tab), none);
    // Disconnect empties the panel and the pages, but for the ETR.
    QCOMPARE(test(), none);
    rig.window->ui->m_Bconnect->click();
    put(started, {"Efirmware", "Eplateform", "EdslMode", "EcpeState", "EcpeStateStr", "Eiteration"}, false);
    QCOMPARE(shows(started), none);
}

// The view shows its newest line from start-up on, unless the user has scrolled up to an older one.
void TestStatus::log_follows_its_newest_line()
{
    Vemu w;
    for (int i = 0; i < 40; ++i)
        w.log_line("black", QStringLiteral("line %1").arg(i));
    w.show();
    QScrollBar *bar = w.ui->m_Tlog->verticalScrollBar();
    QVERIFY(wait_until([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 5000));
    bar->setValue(bar->maximum() / 2);
    const int reading = bar->value(), maximum = bar->maximum();
    w.log_line("red", QStringLiteral("an error"));
    QVERIFY(wait_until([&] { return bar->maximum() > maximum; }, 5000) && bar->value() == reading);
}

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
