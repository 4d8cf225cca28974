// Fuzzes the simulator's reader of a client stream (text lines and packets): byte 0 picks the
// addresses with a module, the rest arrives in pieces sized by the input itself. Packets must
// fit their length byte, lines hold no line end, and the reader keeps at most one unfinished
// item's worth of bytes.
#include "core/simstreamparser.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const SimStreamParser::HasModule hasModule = [mask = data[0] & 7](quint8 address) {
        return (address & 7) == mask;
    };
    SimStreamParser parser;
    qsizetype fed = 0;
    qsizetype taken = 0; // packet bytes; text items are not counted, so this bounds from above
    for (size_t pos = 1; pos < size;) {
        const size_t piece = std::min<size_t>(size - pos, 1 + data[pos] % 64);
        parser.append(fuzzBytes(data, pos + piece, pos));
        fed += qsizetype(piece);
        pos += piece;
        SimStreamParser::Item item;
        while (parser.next(&item, hasModule)) {
            if (item.kind == SimStreamParser::Item::Packet) {
                check(item.data.size() <= 255);
                taken += 3 + item.data.size();
            } else {
                check(!item.text.contains('\n') &&
                      (item.overlong || item.text.size() <= SimStreamParser::MaxLineLength));
            }
        }
        // An unfinished packet is at most 257 bytes; an unfinished line is bounded too.
        check(parser.pending() <=
              qMin<qsizetype>(SimStreamParser::MaxLineLength + 258, fed - taken));
    }
    return 0;
}
