#ifndef MESSAGE_H
#define MESSAGE_H

// Room protocol/: the wire and the files (request packets, script parsing, answer framing, result records); no window.

#include <QByteArray>
#include <QHash>
#include <QString>

// A scripted request: one CMV or memory access that is turned into request
// packets for the platform in use, one packet per call, until the done flag
// comes back true.
class message
{
public:
    explicit message(const QString &states);
    virtual ~message();

    message(const message &) = delete;
    message &operator=(const message &) = delete;

    virtual QString toString() const = 0;
    // First memory address of the request; a CMV has none and gives -1.
    virtual qint32 address() const;
    // Korra packet for the line-state code *state; empty when the state is
    // not in the list (then *done is true).
    virtual QByteArray buildPacket(bool *done, const quint16 *state) = 0;
    // Legacy 32-byte packet; same contract.
    virtual QByteArray buildPacket32(bool *done, const quint16 *state) = 0;

    void reset_progress();
    void set_port(quint8 port);

    quint32 progress() const { return m_progress; }
    const QString &states() const { return m_states; }
    quint8 port() const { return m_port; }

protected:
    bool korra_state_allowed(const quint16 *state) const;
    bool legacy_state_allowed(const quint16 *state) const;
    // Advances m_progress by one chunk of a read of `total` elements and
    // returns the index of the chunk's first element relative to the start.
    quint32 next_chunk(quint32 total, quint32 limit, quint32 *chunk, bool *done);

    quint32 m_progress;
    QString m_states;
    quint8 m_port;
};

class CMV : public message
{
public:
    CMV(quint32 group, quint32 address, quint32 index, quint32 sizeOrValue,
        const QString &states, bool write);

    QString toString() const override;
    QByteArray buildPacket(bool *done, const quint16 *state) override;
    QByteArray buildPacket32(bool *done, const quint16 *state) override;

    quint32 group() const { return m_group; }
    quint32 cmvAddress() const { return m_address; }
    quint32 index() const { return m_index; }
    quint32 sizeOrValue() const { return m_sizeOrValue; }
    bool isWrite() const { return m_write; }

private:
    quint32 m_group;
    quint32 m_address;
    quint32 m_index;
    quint32 m_sizeOrValue;
    bool m_write;
};

class MEMORY : public message
{
public:
    MEMORY(quint32 width, quint32 address, quint32 countOrValue,
           const QString &states, bool write);

    QString toString() const override;
    qint32 address() const override;
    QByteArray buildPacket(bool *done, const quint16 *state) override;
    QByteArray buildPacket32(bool *done, const quint16 *state) override;

    quint32 width() const { return m_width; }
    quint32 countOrValue() const { return m_countOrValue; }
    bool isWrite() const { return m_write; }

    // The data-word read of an AFE register read carries its register, so
    // that its answer is labelled without counting AFE reads.
    void set_afe_register(qint16 reg);
    bool isAfeRead() const { return m_afeRead; }
    qint16 afeRegister() const { return m_afeRegister; }

private:
    quint32 m_width;
    quint32 m_address;
    quint32 m_countOrValue;
    bool m_write;
    bool m_afeRead = false;
    qint16 m_afeRegister = 0;
};

// Sets the nineteen CMV group names (upper case) and their codes; other
// entries of the table stay.
void fill_cmv_groups(QHash<QString, uchar> &groups);

#endif
