#include "test_support.h"

#include "Vemu.h"
#include "ui_Vemu.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextBlock>
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
    : QObject(parent), preferred{QMessageBox::Yes, QMessageBox::Ok}
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(20);
}

void ModalAnswerer::poll()
{
    // A box that is being set up may not be the active modal widget yet.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
            dialogs << dialog->windowTitle();
            if (files.isEmpty()) {
                dialog->reject();
            } else {
                // selectFile() leaves the name field alone while it has the focus.
                if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    name->setText(files.takeFirst());
                static_cast<QDialog *>(dialog)->accept();
            }
        }
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box)
            continue;
        seen << box->windowTitle() + QLatin1Char('|') + box->text();
        for (int role : qAsConst(preferred)) {
            if (QAbstractButton *button = box->button(QMessageBox::StandardButton(role))) {
                button->click();
                return;
            }
        }
        box->reject();
        return;
    }
}

namespace {

// Reads big-endian fields and counted byte arrays, never past the end.
struct Cursor
{
    const QByteArray &bytes;
    int pos = 0;
    int left() const { return bytes.size() - pos; }
    template <typename T> bool read(T *value)
    {
        if (left() < int(sizeof(T)))
            return false;
        *value = qFromBigEndian<T>(bytes.constData() + pos);
        pos += int(sizeof(T));
        return true;
    }
    // A count of 0xFFFFFFFF is Qt's null array.
    bool readBytes(QByteArray *out)
    {
        quint32 count = 0;
        if (!read(&count) || (count != 0xFFFFFFFFu && count > quint32(left())))
            return false;
        *out = count == 0xFFFFFFFFu ? QByteArray() : bytes.mid(pos, int(count));
        pos += out->size();
        return true;
    }
};

} // namespace

bool read_result_records(const QByteArray &stream, QList<ResultRecord> *records, QString *error)
{
    Cursor in{stream};
    while (in.left() > 0) {
        ResultRecord r;
        bool ok = in.read(&r.kind) && in.read(&r.period);
        if (ok && r.kind == 0) {
            ok = in.read(&r.group) && in.read(&r.address8) && in.readBytes(&r.data);
        } else if (ok && r.kind >= 1 && r.kind <= 3) {
            ok = in.read(&r.address) && in.readBytes(&r.data);
        } else if (ok && r.kind == 8) {
            ok = in.read(&r.reg) && in.readBytes(&r.data);
        } else if (ok && r.kind == 7) {
            // Each string takes at least its 4-byte count; a string is UTF-16.
            quint32 count = 0;
            ok = in.read(&count) && count <= quint32(in.left() / 4);
            for (quint32 i = 0; ok && i < count; ++i) {
                QByteArray utf16;
                ok = in.readBytes(&utf16) && utf16.size() % 2 == 0;
                QString s;
                for (int k = 0; ok && k < utf16.size(); k += 2)
                    s.append(QChar(qFromBigEndian<quint16>(utf16.constData() + k)));
                r.entries << s;
            }
        } else if (ok) {
            if (error)
                *error = QStringLiteral("unknown record kind %1 after %2 records").arg(r.kind).arg(records->size());
            return false;
        }
        if (!ok) {
            if (error)
                *error = QStringLiteral("torn record after %1 records").arg(records->size());
            return false;
        }
        records->append(r);
    }
    return true;
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

QByteArray be_words(const QVector<quint16> &words)
{
    QByteArray bytes;
    for (quint16 word : words)
        bytes.append(char(word >> 8)).append(char(word & 0xFF));
    return bytes;
}

QString log_text(Vemu *window)
{
    return window->ui->m_Tlog->document()->toPlainText();
}

QStringList log_entries(Vemu *window)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}\\.\\d\\d\\.\\d\\d / \\d\\d:\\d\\d:\\d\\d\\] "));
    static const char *const colours[] = {"black", "red", "green", "blue", "purple", "chocolate", "darkred", "gray"};
    QStringList entries;
    for (QTextBlock block = window->ui->m_Tlog->document()->begin(); block.isValid(); block = block.next()) {
        QString text = block.text().trimmed();
        QString colour = QStringLiteral("?");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            for (const char *name : colours) {
                if (it.fragment().charFormat().foreground().color() == QColor(QLatin1String(name)))
                    colour = QLatin1String(name);
            }
        }
        const bool stamped = stamp.match(text).hasMatch();
        text.remove(stamp);
        entries << colour + (stamped ? QStringLiteral("|S|") : QStringLiteral("|-|")) + text;
    }
    return entries;
}

bool row_in_this_shard()
{
    static int row = 0;
    const QStringList shard = qEnvironmentVariable("VEMU_TEST_SHARD").split(QLatin1Char('/'));
    const int position = row++;
    return shard.size() != 2 || position % qMax(1, shard[1].toInt()) == shard[0].toInt();
}
