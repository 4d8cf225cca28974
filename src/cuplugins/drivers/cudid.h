#pragma once
// A module's 12-byte unique identifier, kept as the opaque bytes the module sent.
#include <QMetaType>
#include <QString>
#include <array>

class cUDID
{
public:
    static constexpr int Size = 12;

    cUDID() = default;
    explicit cUDID(const std::array<quint8, Size>& bytes) : m_bytes(bytes) {}

    const std::array<quint8, Size>& bytes() const { return m_bytes; }
    bool isNull() const;

    // 24 upper-case hexadecimal digits, in six groups of four joined by "-".
    QString toString() const;
    // Accepts 24 hexadecimal digits of either case, with or without the "-" separators.
    static cUDID fromString(const QString& text, bool* ok = nullptr);

    friend bool operator==(const cUDID&, const cUDID&) = default;

private:
    std::array<quint8, Size> m_bytes{};
};
static_assert(sizeof(cUDID) == cUDID::Size);

Q_DECLARE_METATYPE(cUDID)
