#include "test_support.h"

#include "Vemu.h"
#include "ui_Vemu.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QtEndian>

ScopedWorkFolder::ScopedWorkFolder()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

ScopedWorkFolder::~ScopedWorkFolder()
{
    QDir::setCurrent(m_previous);
}

void ScopedWorkFolder::writeFile(const QString &name, const QByteArray &content) const
{
    QFile file(m_dir.filePath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    preferred = {QMessageBox::Yes, QMessageBox::Ok};
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(20);
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) {
        // A box that is being set up may not be the active modal widget yet.
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && (qobject_cast<QMessageBox *>(w) || qobject_cast<QFileDialog *>(w))) {
                modal = w;
                break;
            }
        }
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen << box->windowTitle() + QLatin1Char('|') + box->text();
        for (int role : preferred) {
            if (QAbstractButton *button = box->button(static_cast<QMessageBox::StandardButton>(role))) {
                button->click();
                return;
            }
        }
        box->reject();
        box->close();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        if (!dialog->isVisible())
            return;
        seen << dialog->windowTitle() + QLatin1Char('|') + dialog->nameFilters().join(QLatin1Char(';'));
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (fileAnswer.isEmpty() || !edit) {
            dialog->reject();
        } else {
            // Typed in as a user would; accept() then takes the typed name.
            edit->setText(fileAnswer);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        }
    }
}

namespace {

class StreamCursor
{
public:
    explicit StreamCursor(const QByteArray &bytes) : m_bytes(bytes) {}
    int left() const { return m_bytes.size() - m_pos; }
    bool atEnd() const { return left() == 0; }
    bool take(int n, const char **out)
    {
        if (n < 0 || left() < n)
            return false;
        *out = m_bytes.constData() + m_pos;
        m_pos += n;
        return true;
    }
    template <typename T>
    bool read(T *value)
    {
        const char *p = nullptr;
        if (!take(int(sizeof(T)), &p))
            return false;
        *value = qFromBigEndian<T>(p);
        return true;
    }
    bool readBytes(QByteArray *out)
    {
        quint32 count = 0;
        if (!read(&count))
            return false;
        if (count == 0xFFFFFFFFu) {
            *out = QByteArray();
            return true;
        }
        const char *p = nullptr;
        if (count > quint32(left()) || !take(int(count), &p))
            return false;
        *out = QByteArray(p, int(count));
        return true;
    }
    bool readString(QString *out)
    {
        quint32 count = 0;
        if (!read(&count))
            return false;
        if (count == 0xFFFFFFFFu) {
            *out = QString();
            return true;
        }
        const char *p = nullptr;
        if ((count & 1u) || count > quint32(left()) || !take(int(count), &p))
            return false;
        QString s;
        s.reserve(int(count / 2));
        for (quint32 i = 0; i < count; i += 2)
            s.append(QChar(qFromBigEndian<quint16>(p + i)));
        *out = s;
        return true;
    }

private:
    const QByteArray &m_bytes;
    int m_pos = 0;
};

} // namespace

bool read_result_records(const QByteArray &stream, QList<ResultRecord> *records, QString *error)
{
    StreamCursor in(stream);
    auto fail = [&](const QString &why) {
        if (error)
            *error = why + QStringLiteral(" after %1 records").arg(records->size());
        return false;
    };
    while (!in.atEnd()) {
        ResultRecord r;
        if (!in.read(&r.kind) || !in.read(&r.period))
            return fail(QStringLiteral("torn record head"));
        bool ok = false;
        switch (r.kind) {
        case 0:
            ok = in.read(&r.group) && in.read(&r.address8) && in.readBytes(&r.data);
            break;
        case 1:
        case 2:
        case 3:
            ok = in.read(&r.address) && in.readBytes(&r.data);
            break;
        case 7: {
            quint32 count = 0;
            ok = in.read(&count);
            // Each string takes at least its 4-byte count.
            if (ok && count > quint32(in.left() / 4))
                ok = false;
            for (quint32 i = 0; ok && i < count; ++i) {
                QString s;
                ok = in.readString(&s);
                r.entries << s;
            }
            break;
        }
        case 8:
            ok = in.read(&r.reg) && in.readBytes(&r.data);
            break;
        default:
            return fail(QStringLiteral("unknown record kind %1").arg(r.kind));
        }
        if (!ok)
            return fail(QStringLiteral("torn record of kind %1").arg(r.kind));
        records->append(r);
    }
    return true;
}

QString log_text(Vemu *window)
{
    return window->ui->m_Tlog->document()->toPlainText();
}

QStringList log_entries(Vemu *window)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\[\\d{4}\\.\\d\\d\\.\\d\\d / \\d\\d:\\d\\d:\\d\\d\\] "));
    static const char *const colours[] = {"black", "red", "green", "blue", "purple", "chocolate", "darkred", "gray"};
    QStringList entries;
    for (QTextBlock block = window->ui->m_Tlog->document()->begin(); block.isValid(); block = block.next()) {
        QString text = block.text().trimmed();
        QString colour = QStringLiteral("?");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QColor c = it.fragment().charFormat().foreground().color();
            for (const char *name : colours) {
                if (c == QColor(QLatin1String(name)))
                    colour = QLatin1String(name);
            }
        }
        const bool stamped = stamp.match(text).hasMatch();
        text.remove(stamp);
        entries << colour + (stamped ? QStringLiteral("|S|") : QStringLiteral("|-|")) + text;
    }
    return entries;
}

QString describe(const ResultRecord &r)
{
    const QString data = QString::fromLatin1(r.data.toHex());
    switch (r.kind) {
    case 7:
        return r.entries.size() == 1 && r.entries[0].endsWith(QLatin1String(",timestamp"))
            ? QStringLiteral("t")
            : QStringLiteral("t:") + r.entries.join(QLatin1Char('|'));
    case 0:
        return QStringLiteral("c%1.%2:%3").arg(int(quint8(r.group))).arg(int(quint8(r.address8))).arg(data);
    case 8:
        return QStringLiteral("afe%1:%2").arg(r.reg, 0, 16).arg(data);
    default:
        return QStringLiteral("m%1@%2:%3").arg(int(r.kind)).arg(quint32(r.address), 0, 16).arg(data);
    }
}
