#include "status_decoders.h"

#include <QPalette>
#include <QWidget>

const char kZeroFirmwareVersion[] = "0.0.0.0.0.0";
const char kT1413Mark[] = "  T1.413";
const char kDocumentationHost[] = "docs.norvane.example";

QString state_text(quint16 code)
{
    switch (code) {
    case 0: return QStringLiteral("Reset");
    case 1: return QStringLiteral("Ready");
    case 2: return QStringLiteral("Fail");
    case 3: return QStringLiteral("Diag Complete");
    case 5: return QStringLiteral("Ghs");
    case 6: return QStringLiteral("Full Init");
    case 7: return QStringLiteral("Steady-State Tc Not Sync");
    case 8: return QStringLiteral("Steady-State Tc Sync");
    case 9: return QStringLiteral("Diagnostic Mode");
    case 12: return QStringLiteral("SELT Mode");
    case 13: return QStringLiteral("SELT Complete");
    case 15: return QStringLiteral("Pre Fail");
    case 240: return QStringLiteral("Sleep State");
    default: return QStringLiteral("unknown");
    }
}

QString legacy_state_text(quint16 code)
{
    switch (code) {
    case 0: return QStringLiteral("Reset");
    case 1: return QStringLiteral("Ready");
    case 2: return QStringLiteral("Fail");
    case 3: return QStringLiteral("Idle");
    case 4: return QStringLiteral("Reserved");
    case 5: return QStringLiteral("Ghs");
    case 6: return QStringLiteral("Full Init");
    case 7: return QStringLiteral("Showtime");
    case 8: return QStringLiteral("Kestra: TC Sync");
    case 9: return QStringLiteral("Diagnostic Mode");
    case 10: return QStringLiteral("Short Initialization");
    case 11: return QStringLiteral("T.1413 Activation");
    default: return QStringLiteral("unknown");
    }
}

QString dsl_mode_text(quint8 code)
{
    switch (code) {
    case 1: return QStringLiteral("ADSL Annex A");
    case 2: return QStringLiteral("ADSL Annex B");
    case 6:
    case 7: return QStringLiteral("VDSL");
    default: return QStringLiteral("Unknown");
    }
}

QString chip_name_text(quint8 code)
{
    switch (code) {
    case 1: return QStringLiteral("Orkan");
    case 2: return QStringLiteral("Selvo");
    case 3: return QStringLiteral("Orkan-SE");
    case 4: return QStringLiteral("Tavi-A");
    case 5: return QStringLiteral("Korra - 1");
    case 6: return QStringLiteral("Tavi-B");
    case 7: return QStringLiteral("Korra - 2");
    default: return QStringLiteral("Unknown Chip");
    }
}

QString hex_upper(quint8 value)
{
    return QString::number(value, 16).toUpper();
}

quint8 byte_at(const QByteArray &bytes, int index)
{
    return index >= 0 && index < bytes.size() ? static_cast<quint8>(bytes.at(index)) : 0;
}

quint16 payload_word(const QByteArray &payload, int k)
{
    return static_cast<quint16>(byte_at(payload, 2 * k) << 8 | byte_at(payload, 2 * k + 1));
}

quint32 payload_dword(const QByteArray &payload, int k)
{
    return quint32(payload_word(payload, k)) | quint32(payload_word(payload, k + 1)) << 16;
}

namespace {

quint8 high(quint8 b) { return b >> 4; }
quint8 low(quint8 b) { return b & 0x0F; }

// The six fields shared by the legacy layout and Korra layout B.
QString six_field_version(const QByteArray &p)
{
    const quint8 b0 = byte_at(p, 0), b1 = byte_at(p, 1), b2 = byte_at(p, 2), b3 = byte_at(p, 3);
    const QChar dot('.');
    return hex_upper(low(b1)) + dot + hex_upper(low(b0)) + dot + hex_upper(high(b3)) + dot
        + hex_upper(low(b3)) + dot + hex_upper(b2 >> 6) + dot + hex_upper(low(b2));
}

} // namespace

void decode_legacy_fw_version(const QByteArray &payload, QString &version, QString &mode,
                              QString &chip)
{
    version += six_field_version(payload);
    chip = chip_name_text(low(byte_at(payload, 1)));
    mode = dsl_mode_text(low(byte_at(payload, 2)));
}

void decode_fw_version(const QByteArray &payload, QString &version, QString &mode, QString &chip)
{
    const quint8 b0 = byte_at(payload, 0), b1 = byte_at(payload, 1);
    const quint8 b2 = byte_at(payload, 2), b3 = byte_at(payload, 3);
    const QChar dot('.');
    if (high(b0) != 0) {
        version += hex_upper(high(b0)) + dot + hex_upper(low(b0)) + dot + hex_upper(high(b1)) + dot
            + hex_upper(low(b1));
        if (b2 == 0) {
            version += dot + hex_upper(high(b3)) + dot + hex_upper(low(b3));
            mode = dsl_mode_text(low(b3));
        } else {
            version += dot + hex_upper(high(b2)) + dot + hex_upper(low(b2)) + QLatin1Char('_')
                + hex_upper(high(b3)) + dot + hex_upper(low(b3));
            mode = dsl_mode_text(low(b2));
        }
        chip = chip_name_text(high(b0));
        return;
    }
    version += six_field_version(payload);
    chip = chip_name_text(low(b1));
    mode = dsl_mode_text(low(b2));
    const quint8 b4 = byte_at(payload, 4), b5 = byte_at(payload, 5);
    if (payload.size() > 4 && (b4 != 0 || b5 != 0)) {
        version += QLatin1Char('_') + hex_upper(high(b5)) + dot + hex_upper(low(b5)) + dot
            + hex_upper(high(b4)) + dot + hex_upper(low(b4));
    }
}

bool is_korra_cmv_answer(const QByteArray &header, quint8 group, quint8 address,
                         KorraTypeTest typeTest)
{
    const quint8 b2 = byte_at(header, 2), b3 = byte_at(header, 3);
    const bool typeOk = typeTest == KorraTypeTest::Exact ? (b2 == 0x40 && b3 == 0x10)
                                                         : (high(b2) == 4 && high(b3) == 1);
    return typeOk && byte_at(header, 0) == 0 && byte_at(header, 1) == 0
        && byte_at(header, 6) == address && byte_at(header, 7) == group
        && byte_at(header, 8) == 0 && byte_at(header, 9) == 0 && byte_at(header, 10) == 0;
}

bool has_at_least_words(const QByteArray &header, int n)
{
    return static_cast<qint8>(byte_at(header, 5)) >= n
        && static_cast<qint8>(byte_at(header, 11)) >= n;
}

bool is_legacy_cmv_answer(const QByteArray &header, quint8 group, quint16 address)
{
    return byte_at(header, 3) == group
        && (byte_at(header, 4) << 8 | byte_at(header, 5)) == address
        && byte_at(header, 6) == 0 && byte_at(header, 7) == 0;
}

bool is_showtime(quint16 cpeState)
{
    const quint16 state = cpeState % 100;
    return state == 7 || state == 8 || state == 9;
}

bool firmware_multiplies_rates(const QString &firmwareText)
{
    if (firmwareText.size() <= 3)
        return false;
    QString field = firmwareText;
    const int first = field.indexOf(QLatin1Char('.'));
    if (first >= 0) {
        field = field.mid(first + 1);
        const int next = field.indexOf(QLatin1Char('.'));
        if (next >= 0)
            field = field.left(next);
    }
    bool ok = false;
    const qlonglong number = field.toLongLong(&ok, 16);
    return (ok ? number : 0) <= 5;
}

NetRate pick_net_rate(quint32 path0, quint32 path1, bool times4)
{
    if (times4) {
        path0 *= 4u;
        path1 *= 4u;
    }
    NetRate rate;
    if (path0 > path1) {
        rate.value = path0;
        rate.path = 0;
    } else {
        rate.value = path1;
        rate.path = 1;
    }
    return rate;
}

quint16 dsl_range_code(quint16 code, const QString &dslMode, const QByteArray &payload)
{
    bool vdsl;
    if (dslMode.startsWith(QLatin1String("ADSL"))) {
        vdsl = false;
    } else if (dslMode.startsWith(QLatin1String("VDSL"))) {
        vdsl = true;
    } else {
        const quint8 b3 = byte_at(payload, 3);
        vdsl = payload.size() >= 4 && (b3 == 4 || b3 == 1);
    }
    if (!vdsl)
        return code % 100;
    return code <= 99 ? static_cast<quint16>(code + 100) : code;
}

bool has_t1413_mark(const QString &dslMode)
{
    return dslMode.endsWith(QLatin1String("T1.413"));
}

QString with_t1413_mark(const QString &dslMode)
{
    return has_t1413_mark(dslMode) ? dslMode : dslMode + QLatin1String(kT1413Mark);
}

QString without_t1413_mark(const QString &dslMode)
{
    QString text = dslMode;
    text.remove(QLatin1String(kT1413Mark));
    return text;
}

void set_text_colour(QWidget *field, Qt::GlobalColor colour)
{
    QPalette palette = field->palette();
    palette.setBrush(QPalette::Text, QBrush(colour));
    // Most answers leave the colour as it was; setting an equal palette
    // would still send palette-change events and repaint the field.
    if (palette == field->palette())
        return;
    field->setPalette(palette);
}

QString documentation_url()
{
    return QStringLiteral("https://") + QLatin1String(kDocumentationHost)
        + QStringLiteral("/display/FW/User+Documentation");
}
