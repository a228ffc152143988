// Firmware, chip and DSL mode of the "CPE informations" panel, and the
// ADSL/VDSL range of the line-state code.

#include "Vemu.h"
#include "status_decoders.h"
#include "ui_Vemu.h"

namespace {

// Shows a decoded version; the DSL mode field keeps a T1.413 mark it holds,
// because only the STAT 1 answer may take it away.
void show_version(Ui_Vemu *ui, const QString &version, const QString &mode, const QString &chip,
                  const QString &defaultFirmware, const QString &defaultPlatform,
                  Qt::GlobalColor defaultColour)
{
    if (version == QLatin1String(kZeroFirmwareVersion)) {
        ui->m_Efirmware->setText(defaultFirmware);
        ui->m_Eplateform->setText(defaultPlatform);
        ui->m_EdslMode->setText(QStringLiteral(" "));
        set_text_colour(ui->m_Efirmware, defaultColour);
        set_text_colour(ui->m_Eplateform, defaultColour);
        set_text_colour(ui->m_EdslMode, defaultColour);
        return;
    }
    ui->m_Efirmware->setText(version);
    ui->m_Eplateform->setText(chip);
    set_text_colour(ui->m_Efirmware, Qt::black);
    set_text_colour(ui->m_Eplateform, Qt::black);
    if (has_t1413_mark(ui->m_EdslMode->text())) {
        ui->m_EdslMode->setText(mode + QLatin1String(kT1413Mark));
        set_text_colour(ui->m_EdslMode, Qt::darkGreen);
    } else {
        ui->m_EdslMode->setText(mode);
        set_text_colour(ui->m_EdslMode, Qt::black);
    }
}

void set_mark(Ui_Vemu *ui, bool marked)
{
    const QString text = ui->m_EdslMode->text();
    if (marked) {
        if (has_t1413_mark(text))
            return;
        set_text_colour(ui->m_EdslMode, Qt::darkGreen);
        ui->m_EdslMode->setText(with_t1413_mark(text));
    } else {
        set_text_colour(ui->m_EdslMode, Qt::black);
        ui->m_EdslMode->setText(without_t1413_mark(text));
    }
}

} // namespace

void Vemu::display_firmware_info(QByteArray &header, QByteArray &payload)
{
    // INFO 54 is tested without its word count: the request asks for three
    // words, and a shorter answer decodes with the missing bytes as 0.
    if (!is_korra_cmv_answer(header, GroupInfo, 54, KorraTypeTest::Exact))
        return;
    QString version, mode, chip;
    decode_fw_version(payload, version, mode, chip);
    show_version(ui, version, mode, chip, QStringLiteral("VDSL FW"),
                 QStringLiteral("Korra platform"), Qt::blue);
}

void Vemu::display_legacy_firmware_info(QByteArray &header, QByteArray &payload)
{
    if (!is_legacy_cmv_answer(header, GroupInfo, 54))
        return;
    QString version, mode, chip;
    decode_legacy_fw_version(payload, version, mode, chip);
    show_version(ui, version, mode, chip, QStringLiteral("Not available"),
                 QStringLiteral("Chip not available"), Qt::red);
}

void Vemu::mark_t1413(QByteArray &header, QByteArray &payload)
{
    if (m_korraPlatform) {
        if (!is_korra_cmv_answer(header, GroupStat, 1, KorraTypeTest::Exact))
            return;
    } else {
        // A line that is reset or not yet training has no standard yet.
        if (m_cpeState == 0 || m_cpeState == 1) {
            set_mark(ui, false);
            return;
        }
        if (!is_legacy_cmv_answer(header, GroupStat, 1))
            return;
    }
    set_mark(ui, payload_word(payload, 0) == 1);
}

void Vemu::apply_dsl_mode_to_state(QByteArray &header, QByteArray &payload)
{
    if (!is_korra_cmv_answer(header, GroupStat, 1, KorraTypeTest::HighNibbles)
        || byte_at(header, 5) != 2 || byte_at(header, 11) != 2)
        return;
    m_cpeState = dsl_range_code(m_cpeState, ui->m_EdslMode->text(), payload);
}
