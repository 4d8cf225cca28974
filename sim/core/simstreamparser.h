#pragma once
// Splits one client's byte stream into the unit's two languages: text commands (a line that
// begins with a letter and ends in LF, usually CR LF) and module packets (address, command,
// length, data). Each connection has its own parser, so a half-sent packet on one
// connection never disturbs another.
#include <QByteArray>
#include <functional>

class SimStreamParser
{
public:
    // Longest text command kept; a longer line is read to its end and reported as overlong.
    static constexpr int MaxLineLength = 1024;

    struct Item
    {
        enum Kind { Text, Packet };
        Kind kind = Text;
        QByteArray text;       // Text: the line without its line end
        bool overlong = false; // Text: the line was longer than MaxLineLength (text cut)
        quint8 address = 0;    // Packet
        quint8 command = 0;    // Packet
        QByteArray data;       // Packet
    };

    // Whether a module sits at a bus address: a packet to a module whose address happens to
    // be a letter is told from a text command by what follows ("SYST").
    using HasModule = std::function<bool(quint8 address)>;

    void append(const QByteArray& bytes) { m_buffer.append(bytes); }
    // Takes the next complete item off the stream; false when more bytes are needed.
    bool next(Item* item, const HasModule& hasModule);
    // Bytes received but not yet part of a complete item.
    qsizetype pending() const { return m_buffer.size() - m_pos; }

private:
    enum class Start { Text, Packet, Undecided };
    Start classify(const HasModule& hasModule) const;
    bool takeLine(Item* item);
    bool takePacket(Item* item);
    void compact();

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_afterText = false;  // a lone CR LF right after a text command is an empty line
    bool m_discarding = false; // inside an overlong line
};
