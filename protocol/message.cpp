#include "message.h"

namespace {

const quint8 kKorraCmvRead = 0x00;
const quint8 kKorraCmvWrite = 0x40;
const quint8 kKorraMemRead = 0x20;
const quint8 kKorraMemWrite = 0xA0;
const int kKorraHeaderSize = 12;
const int kLegacyPacketSize = 32;

void put16(QByteArray &packet, int at, quint32 value)
{
    packet[at] = char((value >> 8) & 0xFF);
    packet[at + 1] = char(value & 0xFF);
}

void append16(QByteArray &packet, quint32 value)
{
    packet.append(char((value >> 8) & 0xFF));
    packet.append(char(value & 0xFF));
}

QByteArray korra_header(quint8 port, quint8 size, quint8 operation, quint8 payloadWords,
                        quint8 byte6, quint8 byte7, quint32 word8, quint32 count)
{
    QByteArray packet(kKorraHeaderSize, '\0');
    packet[0] = char(port);
    packet[2] = char(size);
    packet[3] = char(operation);
    packet[5] = char(payloadWords);
    packet[6] = char(byte6);
    packet[7] = char(byte7);
    put16(packet, 8, word8);
    put16(packet, 10, count);
    return packet;
}

} // namespace

// ---- message ------------------------------------------------------------

message::message(const QString &states) : m_progress(0), m_states(states), m_port(0xC0) {}

message::~message() = default;

qint32 message::address() const
{
    return -1;
}

void message::reset_progress()
{
    m_progress = 0;
}

void message::set_port(quint8 port)
{
    m_port = port;
}

bool message::korra_state_allowed(const quint16 *state) const
{
    return state && m_states.contains(QLatin1Char(',') + QString::number(*state) + QLatin1Char(','));
}

bool message::legacy_state_allowed(const quint16 *state) const
{
    return state && m_states.contains(QString::number(*state));
}

quint32 message::next_chunk(quint32 total, quint32 limit, quint32 *chunk, bool *done)
{
    const quint32 remaining = total - m_progress;
    *chunk = remaining < limit ? remaining : limit;
    const quint32 first = m_progress;
    m_progress += *chunk;
    if (m_progress == total) {
        m_progress = 0;
        *done = true;
    } else {
        *done = false;
    }
    return first;
}

// ---- CMV ----------------------------------------------------------------

CMV::CMV(quint32 group, quint32 address, quint32 index, quint32 sizeOrValue,
         const QString &states, bool write)
    : message(states), m_group(group), m_address(address), m_index(index),
      m_sizeOrValue(sizeOrValue), m_write(write)
{
}

QString CMV::toString() const
{
    return QStringLiteral("%1 %2 %3 %4 \t%5")
        .arg(m_group).arg(m_address).arg(m_index).arg(m_sizeOrValue).arg(m_states);
}

QByteArray CMV::buildPacket(bool *done, const quint16 *state)
{
    bool unused;
    if (!done)
        done = &unused;
    if (!korra_state_allowed(state)) {
        *done = true;
        return QByteArray();
    }
    const quint8 byte6 = quint8(m_address & 0xFF);
    const quint8 byte7 = quint8(m_group & 0x3F);
    if (m_write) {
        *done = true;
        QByteArray packet = korra_header(m_port, 0x40, kKorraCmvWrite, 1, byte6, byte7, m_index, 1);
        append16(packet, m_sizeOrValue);
        return packet;
    }
    quint32 chunk;
    const quint32 first = m_index + next_chunk(m_sizeOrValue, 128, &chunk, done);
    return korra_header(m_port, 0x40, kKorraCmvRead, 0, byte6, byte7, first, chunk);
}

QByteArray CMV::buildPacket32(bool *done, const quint16 *state)
{
    bool unused;
    if (!done)
        done = &unused;
    if (!legacy_state_allowed(state)) {
        *done = true;
        return QByteArray();
    }
    QByteArray packet(kLegacyPacketSize, '\0');
    put16(packet, 4, m_address);
    if (m_write) {
        *done = true;
        packet[1] = char(0x41);
        packet[3] = char(m_group & 0xFF);
        put16(packet, 6, m_index);
        put16(packet, 8, m_sizeOrValue);
        return packet;
    }
    quint32 chunk;
    const quint32 first = m_index + next_chunk(m_sizeOrValue, 12, &chunk, done);
    packet[1] = char(chunk & 0x0F);
    packet[3] = char(m_group & 0x7F);
    put16(packet, 6, first);
    return packet;
}

// ---- MEMORY -------------------------------------------------------------

MEMORY::MEMORY(quint32 width, quint32 address, quint32 countOrValue,
               const QString &states, bool write)
    : message(states), m_width(width), m_address(address), m_countOrValue(countOrValue),
      m_write(write)
{
}

QString MEMORY::toString() const
{
    return QStringLiteral("%1 %2 %3 ").arg(m_width).arg(m_address).arg(m_countOrValue);
}

qint32 MEMORY::address() const
{
    return qint32(m_address);
}

void MEMORY::set_afe_register(qint16 reg)
{
    m_afeRead = true;
    m_afeRegister = reg;
}

QByteArray MEMORY::buildPacket(bool *done, const quint16 *state)
{
    bool unused;
    if (!done)
        done = &unused;
    if (!korra_state_allowed(state)) {
        *done = true;
        return QByteArray();
    }
    const quint8 size = m_width == 1 ? 0x00 : m_width == 4 ? 0x80 : 0x40;
    if (m_write) {
        *done = true;
        const quint8 words = m_width == 4 ? 2 : 1;
        QByteArray packet = korra_header(m_port, size, kKorraMemWrite, words, 0,
                                         quint8((m_address >> 16) & 0x3F), m_address & 0xFFFF, 1);
        if (m_width == 1) {
            packet.append('\0');
            packet.append(char(m_countOrValue & 0xFF));
        } else {
            append16(packet, m_countOrValue);
            if (m_width == 4)
                append16(packet, m_countOrValue >> 16);
        }
        return packet;
    }
    const quint32 limit = m_width == 1 ? 256 : m_width == 4 ? 64 : 128;
    quint32 chunk;
    const quint32 address = m_address + m_width * next_chunk(m_countOrValue, limit, &chunk, done);
    return korra_header(m_port, size, kKorraMemRead, 0, 0, quint8((address >> 16) & 0x3F),
                        address & 0xFFFF, chunk);
}

QByteArray MEMORY::buildPacket32(bool *done, const quint16 *state)
{
    bool unused;
    if (!done)
        done = &unused;
    if (!legacy_state_allowed(state)) {
        *done = true;
        return QByteArray();
    }
    // The legacy firmware has no memory write; the caller's flag decides.
    if (m_write)
        return QByteArray();
    const quint32 limit = m_width == 1 ? 14 : m_width == 4 ? 6 : 12;
    quint32 chunk;
    const quint32 address = m_address + m_width * next_chunk(m_countOrValue, limit, &chunk, done);
    QByteArray packet(kLegacyPacketSize, '\0');
    packet[0] = char(m_width == 1 ? 0x40 : m_width == 4 ? 0x80 : 0x00);
    packet[1] = char(0x20 | (chunk & 0x0F));
    packet[5] = char((address >> 16) & 0x3F);
    put16(packet, 6, address & 0xFFFF);
    return packet;
}

// ---- CMV group table ----------------------------------------------------

void fill_cmv_groups(QHash<QString, uchar> &groups)
{
    static const struct { const char *name; uchar code; } kGroups[] = {
        {"CNTL", 1},  {"STAT", 2},  {"INFO", 3},  {"TEST", 4},  {"OPTN", 5},
        {"RATE", 6},  {"PLAM", 7},  {"CNFG", 8},  {"MONI", 9},  {"CNTR", 10},
        {"ALGS", 11}, {"DBUG", 12}, {"ACFG", 13}, {"AINF", 14}, {"AOPT", 15},
        {"CST1", 16}, {"CST16", 31}, {"SELT", 32}, {"DSL", 34},
    };
    for (const auto &group : kGroups)
        groups.insert(QLatin1String(group.name), group.code);
}
