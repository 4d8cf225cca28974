#pragma once
// Builds the file server's messages field by field, big-endian, as the unit and the file
// server write them, so that tests state the byte layout on their own.
#include <QByteArray>
#include <QString>

class UpdateStream
{
public:
    UpdateStream& u32(quint32 v) { return be(v, 4); }
    UpdateStream& i64(qint64 v) { return be(quint64(v), 8); }
    // A string: its UTF-16 byte count, then the code units.
    UpdateStream& text(const QString& s)
    {
        u32(quint32(s.size() * 2));
        for (QChar c : s)
            be(c.unicode(), 2);
        return *this;
    }
    UpdateStream& bytes(const QByteArray& b)
    {
        m_bytes += b;
        return *this;
    }
    UpdateStream& status(const QString& s) { return text("STATUS").text(s); }
    UpdateStream& progress(qint32 percent) { return text("PROGRESS").u32(quint32(percent)); }
    UpdateStream& error(const QString& s) { return text("ERROR").text(s); }
    UpdateStream& completed() { return text("COMPLETED"); }
    operator QByteArray() const { return m_bytes; }

private:
    UpdateStream& be(quint64 v, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            m_bytes.append(char((v >> (8 * i)) & 0xFF));
        return *this;
    }
    QByteArray m_bytes;
};
