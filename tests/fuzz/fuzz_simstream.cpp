// libFuzzer target for the simulator's reader of a client stream (text lines and packets).
// The first input byte picks the bus addresses that carry a module; the rest arrives in
// pieces whose sizes come from the input itself. Packets must fit their length byte, lines
// must not hold a line end, and the reader must never keep more than one unfinished item's
// worth of bytes.
#include "core/simstreamparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const quint8 moduleMask = data[0];
    const SimStreamParser::HasModule hasModule = [moduleMask](quint8 address) {
        return (address & 7) == (moduleMask & 7);
    };
    SimStreamParser parser;
    size_t pos = 1;
    qsizetype fed = 0;
    qsizetype taken = 0;
    while (pos < size) {
        const size_t piece = std::min<size_t>(size - pos, 1 + data[pos] % 64);
        parser.append(QByteArray(reinterpret_cast<const char*>(data + pos), qsizetype(piece)));
        fed += qsizetype(piece);
        pos += piece;
        SimStreamParser::Item item;
        while (parser.next(&item, hasModule)) {
            if (item.kind == SimStreamParser::Item::Packet) {
                if (item.data.size() > 255)
                    std::abort();
                taken += 3 + item.data.size();
            } else {
                if (!item.overlong && item.text.size() > SimStreamParser::MaxLineLength)
                    std::abort();
                if (item.text.contains('\n'))
                    std::abort();
            }
        }
        // An unfinished packet is at most 257 bytes; an unfinished line is bounded too.
        if (parser.pending() > SimStreamParser::MaxLineLength + 258)
            std::abort();
        // Text items are not counted in taken, so this only bounds from above.
        if (parser.pending() > fed - taken)
            std::abort();
    }
    return 0;
}
