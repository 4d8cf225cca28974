#pragma once
// Builds the byte vectors a module sends, field by field, little-endian, so that tests
// state wire layouts on their own instead of copying the structures under test.
#include <QByteArray>
#include <cstring>

class Bytes
{
public:
    Bytes& u8(quint8 v) { return raw(&v, 1); }
    Bytes& u16(quint16 v) { return le(v, 2); }
    Bytes& u32(quint32 v) { return le(v, 4); }
    Bytes& i32(qint32 v) { return le(quint32(v), 4); }
    Bytes& f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        return le(bits, 4);
    }
    Bytes& pad(int count, quint8 fill = 0)
    {
        m_bytes.append(count, char(fill));
        return *this;
    }
    // A text field of the given width, zero-padded.
    Bytes& text(const QByteArray& t, int width)
    {
        m_bytes.append(t.left(width));
        return pad(width - int(qMin<qsizetype>(t.size(), width)));
    }
    Bytes& bytes(const QByteArray& b)
    {
        m_bytes.append(b);
        return *this;
    }
    int size() const { return int(m_bytes.size()); }
    operator QByteArray() const { return m_bytes; }
    QByteArray toByteArray() const { return m_bytes; }

private:
    Bytes& le(quint32 v, int width)
    {
        for (int i = 0; i < width; ++i)
            m_bytes.append(char((v >> (8 * i)) & 0xFF));
        return *this;
    }
    Bytes& raw(const void* p, int n)
    {
        m_bytes.append(static_cast<const char*>(p), n);
        return *this;
    }
    QByteArray m_bytes;
};
