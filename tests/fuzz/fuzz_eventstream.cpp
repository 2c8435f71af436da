// The registrar's event stream: the same bytes fed whole and cut at random places give the same
// events, last id and retry value, and neither the held line nor an event's data outgrows its
// limit. The parser runs with small limits, so that an input of a few hundred bytes reaches them
// (at the product's megabyte limits nearly every execution would go into one huge line).

#include "fuzzsupport.h"
#include "qsseparser.h"

#include <random>

namespace {

constexpr int LineLimit = 64;
constexpr int DataLimit = 256;
// Blocks are cut at most this long, so that lines and events at the limits span several of them.
constexpr int LongestBlock = 2 * LineLimit;

struct Outcome
{
    QVector<QSSEParser::Event> events;
    QString lastId;
    int retry = 0;
};

bool sameOutcome(const Outcome &a, const Outcome &b)
{
    if (a.events.size() != b.events.size() || a.lastId != b.lastId || a.retry != b.retry)
        return false;
    for (int i = 0; i < a.events.size(); ++i) {
        const QSSEParser::Event &x = a.events.at(i), &y = b.events.at(i);
        if (x.event != y.event || x.data != y.data || x.id != y.id)
            return false;
    }
    return true;
}

Outcome feedInChunks(const QByteArray &body, std::minstd_rand *rng, bool whole)
{
    QSSEParser parser(LineLimit, DataLimit);
    Outcome out;
    int pos = 0;
    while (pos < body.size()) {
        const int length = whole ? body.size() : int(1 + (*rng)() % LongestBlock);
        const QVector<QSSEParser::Event> events = parser.feed(body.mid(pos, length));
        FuzzSupport::require(parser.pendingLength() <= LineLimit, "the held line outgrew its limit");
        for (const QSSEParser::Event &event : events)
            FuzzSupport::require(event.data.size() < DataLimit, "an event's data outgrew its limit");
        out.events += events;
        pos += length;
    }
    out.lastId = parser.lastEventId();
    out.retry = parser.retry();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_eventstream");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::minstd_rand rng(data[0]);
    // Byte 0x01 stands for a run of characters just over the line limit (at most twice per input).
    QByteArray body;
    int expansions = 0;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0x01 && expansions < 2) {
            body += QByteArray(LineLimit + 1, 'x');
            ++expansions;
        } else {
            body += char(data[i]);
        }
    }
    const Outcome whole = feedInChunks(body, &rng, true);
    const Outcome chunked = feedInChunks(body, &rng, false);
    // A block ends at its first NUL, and malformed UTF-8 decodes differently depending on where a
    // block ends; the property holds for clean text.
    const bool clean = !body.contains('\0') && QString::fromUtf8(body).toUtf8() == body;
    if (clean)
        FuzzSupport::require(sameOutcome(whole, chunked), "chunked stream differs from whole stream");
    return 0;
}
