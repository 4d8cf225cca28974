#include "simstreamparser.h"

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

} // namespace

SimStreamParser::Start SimStreamParser::classify(const HasModule& hasModule) const
{
    const char first = m_buffer.at(m_pos);
    if (!isLetter(first))
        return Start::Packet;
    if (!hasModule || !hasModule(quint8(first)))
        return Start::Text;
    // A module lives at this letter's address: only "SYST" makes it a text command.
    static constexpr char Syst[] = "SYST";
    const qsizetype available = pending();
    for (qsizetype i = 0; i < 4; ++i) {
        if (i >= available)
            return Start::Undecided;
        if (upper(m_buffer.at(m_pos + i)) != Syst[i])
            return Start::Packet;
    }
    return Start::Text;
}

bool SimStreamParser::next(Item* item, const HasModule& hasModule)
{
    for (;;) {
        if (pending() <= 0) {
            compact();
            return false;
        }
        if (m_discarding) {
            if (!takeLine(item))
                return false;
            return true;
        }
        if (m_afterText) {
            // The engine ends some commands with two CR LF pairs; the second is no command.
            if (m_buffer.at(m_pos) == '\r') {
                if (pending() < 2)
                    return false;
                if (m_buffer.at(m_pos + 1) == '\n') {
                    m_pos += 2;
                    continue;
                }
            } else if (m_buffer.at(m_pos) == '\n') {
                ++m_pos;
                continue;
            }
            m_afterText = false;
        }
        switch (classify(hasModule)) {
        case Start::Undecided:
            return false;
        case Start::Text:
            return takeLine(item);
        case Start::Packet:
            return takePacket(item);
        }
    }
}

bool SimStreamParser::takeLine(Item* item)
{
    const qsizetype end = m_buffer.indexOf('\n', m_pos);
    if (end < 0) {
        if (pending() > MaxLineLength && !m_discarding) {
            // Keep the beginning for the log; drop the rest as it comes.
            m_discarding = true;
            m_buffer = m_buffer.mid(m_pos, MaxLineLength);
            m_pos = 0;
        }
        if (m_discarding && m_buffer.size() > MaxLineLength)
            m_buffer.truncate(MaxLineLength);
        return false;
    }
    qsizetype length = end - m_pos;
    if (length > 0 && m_buffer.at(end - 1) == '\r')
        --length;
    *item = Item{};
    item->kind = Item::Text;
    item->overlong = m_discarding || length > MaxLineLength;
    item->text = m_buffer.mid(m_pos, qMin<qsizetype>(length, MaxLineLength));
    m_pos = end + 1;
    m_discarding = false;
    m_afterText = true;
    compact();
    return true;
}

bool SimStreamParser::takePacket(Item* item)
{
    if (pending() < 3)
        return false;
    const auto length = quint8(m_buffer.at(m_pos + 2));
    if (pending() < 3 + length)
        return false;
    *item = Item{};
    item->kind = Item::Packet;
    item->address = quint8(m_buffer.at(m_pos));
    item->command = quint8(m_buffer.at(m_pos + 1));
    item->data = m_buffer.mid(m_pos + 3, length);
    m_pos += 3 + length;
    m_afterText = false;
    compact();
    return true;
}

void SimStreamParser::compact()
{
    if (m_pos == 0)
        return;
    if (m_pos >= m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos > 4096) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
}
