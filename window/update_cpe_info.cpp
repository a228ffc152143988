#include "update_cpe_info.h"

#include "status_decoders.h"
#include "ui_Vemu.h"

#include <QLabel>
#include <QLineEdit>

namespace {

// The STAT 1 answer, index 0, with at least two words: word 1 tells the
// running mode; its low byte reads 1 or 4 while the line runs VDSL.
bool is_stat1_answer(const QByteArray &header, bool korra)
{
    if (korra)
        return is_korra_cmv_answer(header, GroupStat, 1, KorraTypeTest::HighNibbles)
            && has_at_least_words(header, 2);
    return is_legacy_cmv_answer(header, GroupStat, 1) && (byte_at(header, 1) & 0x0F) >= 2;
}

quint16 family_of(const QByteArray &header, const QByteArray &payload, quint16 current,
                  const QString &dslMode, bool korra)
{
    if (dslMode.startsWith(QLatin1String("ADSL")))
        return DslFamilyAdsl;
    if (dslMode.startsWith(QLatin1String("VDSL")))
        return DslFamilyVdsl;
    if (is_stat1_answer(header, korra) && payload.size() >= 4) {
        const quint8 mode = byte_at(payload, 3);
        return (mode == 1 || mode == 4) ? DslFamilyVdsl : DslFamilyAdsl;
    }
    return current;
}

// Vectoring, profiles, US0, the band plan and upstream power back-off exist
// on VDSL lines only.
QList<QLineEdit *> vdsl_only_fields(Ui_Vemu *ui)
{
    return {ui->m_vect_onoff_friendly, ui->m_US0_yesno, ui->m_Profil, ui->m_KL0, ui->m_AELEM,
            ui->m_nb_DS_Band, ui->m_nb_US_Band, ui->m_a_BAND, ui->m_b_BAND};
}

const QString kNotAvailable = QStringLiteral("Not available");

void show_not_available(QLineEdit *field)
{
    set_text_colour(field, Qt::gray);
    field->setText(kNotAvailable);
}

} // namespace

QList<QLineEdit *> info_tab_fields(Ui_Vemu *ui)
{
    return {ui->m_CRC_US, ui->m_CRC_DS, ui->m_FEC_US, ui->m_FEC_DS, ui->m_CRC_DS_INTL,
            ui->m_FEC_DS_INTL, ui->m_SES_DS, ui->m_ES_DS, ui->m_SNRM_US, ui->m_SNRM_DS,
            ui->m_INP_US, ui->m_INP_DS, ui->m_MaxDelay_US, ui->m_MaxDelay_DS,
            ui->m_BSWAPS_US, ui->m_BSWAPS_DS, ui->m_SRA_US, ui->m_SRA_DS, ui->m_SATN_US,
            ui->m_SATN_DS, ui->m_LATN_US, ui->m_LATN_DS, ui->m_ATTNDR_US, ui->m_ATTNDR_DS,
            ui->m_ReTx_onoff, ui->m_vect_onoff_friendly, ui->m_Bonding_onoff, ui->m_US0_yesno,
            ui->m_Profil, ui->m_KL0, ui->m_AELEM, ui->m_nb_DS_Band, ui->m_nb_US_Band,
            ui->m_a_BAND, ui->m_b_BAND};
}

void update_cpe_info(const QByteArray &header, const QByteArray &payload, quint16 &dslFamily,
                     quint16 cpeState, Ui_Vemu *ui, bool korraPlatform, int usRatePath,
                     int dsRatePath)
{
    Q_UNUSED(usRatePath)
    Q_UNUSED(dsRatePath)
    dslFamily = family_of(header, payload, dslFamily, ui->m_EdslMode->text(), korraPlatform);

    const bool adsl = dslFamily == DslFamilyAdsl;
    const QList<QLineEdit *> vdslOnly = vdsl_only_fields(ui);
    for (QLineEdit *field : vdslOnly)
        field->setVisible(!adsl);
    // A caption (the label the form makes the field's buddy) goes with its
    // field, so the page never shows one beside empty space.
    const QList<QLabel *> captions = ui->tab_configuration->findChildren<QLabel *>();
    for (QLabel *caption : captions) {
        if (vdslOnly.contains(qobject_cast<QLineEdit *>(caption->buddy())))
            caption->setVisible(!adsl);
    }
    ui->UBPO->setVisible(korraPlatform && !adsl);

    // The tabs decode no values: in showtime they show which fields apply,
    // and an outage's "Not available" must not outlast it.
    for (QLineEdit *field : info_tab_fields(ui)) {
        if (!is_showtime(cpeState)) {
            show_not_available(field);
        } else if (field->text() == kNotAvailable) {
            field->clear();
            set_text_colour(field, Qt::black);
        }
    }
}
