#include "cudid.h"

#include <QRegularExpression>

bool cUDID::isNull() const
{
    for (quint8 b : m_bytes)
        if (b != 0)
            return false;
    return true;
}

QString cUDID::toString() const
{
    const QByteArray hex =
        QByteArray(reinterpret_cast<const char*>(m_bytes.data()), Size).toHex().toUpper();
    QStringList groups;
    for (int i = 0; i < hex.size(); i += 4)
        groups << QString::fromLatin1(hex.mid(i, 4));
    return groups.join(u'-');
}

cUDID cUDID::fromString(const QString& text, bool* ok)
{
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{4}(-?[0-9A-Fa-f]{4}){5}$"));
    const bool valid = form.match(text).hasMatch();
    if (ok)
        *ok = valid;
    if (!valid)
        return {};
    const QByteArray bytes = QByteArray::fromHex(QString(text).remove(u'-').toLatin1());
    std::array<quint8, Size> raw{};
    std::copy(bytes.begin(), bytes.end(), raw.begin());
    return cUDID(raw);
}
