// Status panel rates and counters, information tabs, retransmission and
// last-exception tabs, Help.

#include "LiveGraphData.h"
#include "Vemu.h"
#include "status_decoders.h"
#include "ui_Vemu.h"
#include "update_cpe_info.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QUrl>

namespace {

const QString kNotAvailable = QStringLiteral("Not available");

void show_not_available(QLineEdit *field)
{
    set_text_colour(field, Qt::gray);
    field->setText(kNotAvailable);
}

void show_value(QLineEdit *field, const QString &text)
{
    set_text_colour(field, Qt::black);
    field->setText(text);
}

void show_value(QLineEdit *field, const char *caption, quint32 value)
{
    show_value(field, QLatin1String(caption) + QString::number(value));
}

// In the order in which an outage turns them to "Not available".
QList<QLineEdit *> retransmission_fields(Ui_Vemu *ui)
{
    return {ui->m_EDtuRetr, ui->m_EDtuCorr, ui->m_EDtuUncorr, ui->m_EDtuTot, ui->m_EDtuGood,
            ui->m_EDtuBad, ui->m_EDtuUnxpct, ui->m_EErrBitsps, ui->m_EDtuFwd, ui->m_EETR,
            ui->m_USRetxDtu, ui->m_UScorrectDtu, ui->m_USuncorrecDtu, ui->m_USEtr,
            ui->m_US_ActDelay, ui->m_US_INP_shine, ui->m_US_INP_REIN, ui->m_ErrorFreebit,
            ui->m_Eftr_min, ui->m_Eftr_defectsec};
}

bool is_cmv_read_with(const QByteArray &header, quint8 group, quint8 address, int words)
{
    return is_korra_cmv_answer(header, group, address, KorraTypeTest::HighNibbles)
        && has_at_least_words(header, words);
}

bool tab_is(Ui_Vemu *ui, int index, const char *title)
{
    return ui->tabWidget->currentIndex() == index
        && ui->tabWidget->tabText(index) == QLatin1String(title);
}

} // namespace

void Vemu::show_ds_net_rate(QByteArray &header, QByteArray &payload)
{
    if (!is_showtime(m_cpeState)) {
        show_not_available(ui->m_DSdatarate);
        return;
    }
    if (!is_korra_cmv_answer(header, GroupRate, 1, KorraTypeTest::Exact)
        || !has_at_least_words(header, 4))
        return;
    const NetRate rate = pick_net_rate(payload_dword(payload, 0), payload_dword(payload, 2),
                                       firmware_multiplies_rates(ui->m_Efirmware->text()));
    show_value(ui->m_DSdatarate, QStringLiteral("DS: ") + QString::number(rate.value)
                                     + QStringLiteral(" kbps"));
    m_graphData->add_ds_rate_point(rate.value);
    m_dsRatePath = rate.path;
}

void Vemu::show_us_net_rate(QByteArray &header, QByteArray &payload)
{
    if (!is_showtime(m_cpeState)) {
        show_not_available(ui->m_USdatarate);
        return;
    }
    if (!is_korra_cmv_answer(header, GroupRate, 0, KorraTypeTest::Exact)
        || !has_at_least_words(header, 4))
        return;
    const NetRate rate = pick_net_rate(payload_dword(payload, 0), payload_dword(payload, 2),
                                       firmware_multiplies_rates(ui->m_Efirmware->text()));
    show_value(ui->m_USdatarate, QStringLiteral("US: ") + QString::number(rate.value)
                                     + QStringLiteral(" kbps"));
    m_graphData->add_us_rate_point(rate.value);
    m_usRatePath = rate.path;
}

void Vemu::display_crc_per_lp(QByteArray &header, QByteArray &payload)
{
    const QString mode = ui->m_EdslMode->text();
    const bool adsl = mode.contains(QLatin1String("ADSL"));
    const bool vdsl = !adsl && mode.contains(QLatin1String("VDSL"));
    if (!is_showtime(m_cpeState) || (!adsl && !vdsl)) {
        show_not_available(ui->m_CRCLP0);
        show_not_available(ui->m_CRCLP1);
        return;
    }
    quint32 lp0, lp1;
    if (adsl) {
        if (!is_cmv_read_with(header, GroupCntr, 8, 4))
            return;
        lp0 = payload_dword(payload, 0);
        lp1 = payload_dword(payload, 2);
    } else {
        if (!is_cmv_read_with(header, GroupCntr, 35, 2))
            return;
        lp0 = payload_word(payload, 0);
        lp1 = payload_word(payload, 1);
    }
    show_value(ui->m_CRCLP0, "LP0: ", lp0);
    show_value(ui->m_CRCLP1, "LP1: ", lp1);
    m_graphData->add_crc_point(lp0, lp1);
}

void Vemu::show_info_fields()
{
    for (QLineEdit *field : info_tab_fields(ui))
        field->setVisible(true);
}

void Vemu::clear_cpe_infos()
{
    ui->m_DSdatarate->clear();
    ui->m_USdatarate->clear();
    ui->m_CRCLP0->clear();
    ui->m_CRCLP1->clear();
    for (QLineEdit *field : info_tab_fields(ui))
        field->clear();
}

void Vemu::decode_info_answer(QByteArray &header, QByteArray &payload)
{
    update_cpe_info(header, payload, m_dslFamily, m_cpeState, ui, m_korraPlatform, m_usRatePath,
                    m_dsRatePath);
}

void Vemu::display_retransmission(QByteArray &header, QByteArray &payload)
{
    if (!is_showtime(m_cpeState)) {
        for (QLineEdit *field : retransmission_fields(ui))
            show_not_available(field);
        return;
    }
    const QByteArray &p = payload;
    if (tab_is(ui, 2, "DS Retransmission")) {
        if (is_cmv_read_with(header, GroupCntr, 44, 27)) {
            show_value(ui->m_EDtuRetr, "Retransmitted: ", payload_dword(p, 0));
            show_value(ui->m_EDtuCorr, "Corrected: ", payload_dword(p, 2));
            show_value(ui->m_EDtuUncorr, "Uncorrected: ", payload_dword(p, 4));
            show_value(ui->m_EDtuTot, "Total: ", payload_dword(p, 8));
            show_value(ui->m_EDtuGood, "Good: ", payload_dword(p, 10));
            show_value(ui->m_EDtuBad, "Bad: ", payload_dword(p, 12));
            show_value(ui->m_EDtuUnxpct, "Unexpected: ", payload_dword(p, 18));
            show_value(ui->m_EErrBitsps, "", payload_dword(p, 22));
            show_value(ui->m_EDtuFwd, "Forwarded: ", payload_dword(p, 24));
        } else if (is_cmv_read_with(header, GroupRate, 2, 2)) {
            show_value(ui->m_EETR, "", payload_dword(p, 0));
        }
    } else if (tab_is(ui, 3, "US Retransmission")) {
        if (is_cmv_read_with(header, GroupRate, 3, 5)) {
            show_value(ui->m_USEtr, "", payload_dword(p, 0));
            show_value(ui->m_US_ActDelay, "Actual Delay: ", payload_word(p, 2));
            // The form's field names have the two impulse-noise values
            // swapped; the caption in the text is what tells them apart.
            show_value(ui->m_US_INP_REIN, "Actual INP Shine: ", payload_word(p, 3));
            show_value(ui->m_US_INP_shine, "Actual INP Rein: ", payload_word(p, 4));
        } else if (is_cmv_read_with(header, GroupCntr, 58, 5)) {
            show_value(ui->m_USRetxDtu, "Retransmitted: ", payload_dword(p, 0));
            show_value(ui->m_UScorrectDtu, "Corrected: ", payload_dword(p, 2));
            show_value(ui->m_USuncorrecDtu, "Uncorrected: ", payload_dword(p, 4));
        } else if (is_cmv_read_with(header, GroupCntr, 59, 5)) {
            show_value(ui->m_ErrorFreebit, "Error freebits: ", payload_dword(p, 0));
            show_value(ui->m_Eftr_min, "Eftr min: ", payload_dword(p, 2));
            show_value(ui->m_Eftr_defectsec, "Eftr Defect seconds: ", payload_dword(p, 4));
        }
    }
}

void Vemu::display_fail_states(QByteArray &header, QByteArray &payload)
{
    if (!is_cmv_read_with(header, GroupStat, 5, 10))
        return;
    // The colour is left alone: these fields never show "Not available".
    ui->m_EFWFail->setText(QString::number(payload_word(payload, 1)));
    ui->m_ETxSCAF->setText(QString::number(payload_dword(payload, 2)));
    ui->m_ETxErrState->setText(QString::number(payload_word(payload, 4)));
    ui->m_ETxSubErrState->setText(QString::number(payload_word(payload, 5)));
    ui->m_ERxSCAF->setText(QString::number(payload_dword(payload, 6)));
    ui->m_ERxErrState->setText(QString::number(payload_word(payload, 8)));
    ui->m_ERxSubErrState->setText(QString::number(payload_word(payload, 9)));
}

void Vemu::clear_Tabs_infos(int index)
{
    // The index alone decides: in the customer edition 2 and 3 are other
    // pages, and showing them clears the hidden retransmission fields.
    QList<QLineEdit *> fields;
    if (index == 2) {
        fields = {ui->m_EDtuBad, ui->m_EDtuCorr, ui->m_EDtuFwd, ui->m_EDtuGood, ui->m_EDtuRetr,
                  ui->m_EDtuTot, ui->m_EDtuUncorr, ui->m_EDtuUnxpct, ui->m_EErrBitsps,
                  ui->m_EETR};
    } else if (index == 3) {
        fields = {ui->m_USRetxDtu, ui->m_UScorrectDtu, ui->m_USuncorrecDtu, ui->m_USEtr,
                  ui->m_US_ActDelay, ui->m_US_INP_shine, ui->m_US_INP_REIN, ui->m_ErrorFreebit,
                  ui->m_Eftr_min, ui->m_Eftr_defectsec};
    }
    for (QLineEdit *field : fields)
        field->clear();
}

void Vemu::on_m_BHelp_clicked()
{
    QDesktopServices::openUrl(QUrl(documentation_url()));
}
