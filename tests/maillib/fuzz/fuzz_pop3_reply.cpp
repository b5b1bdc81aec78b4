// libFuzzer target for the code that reads server bytes: the reply parser (status lines,
// multi-line data, dot-unstuffing, pieces of long lines), greeting timestamps, CAPA and LIST
// lines, header fields and encoded words, and the server setting.

#include "MailHeader.h"
#include "Pop3Address.h"
#include "Pop3ReplyParser.h"

#include <QList>
#include <cstdlib>

using Step = Pop3ReplyParser::Step;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// The completed data lines of a stream fed in chunks (chunk 0: all at once).
QList<QByteArray> dataLines(QByteArrayView wire, const uint8_t* sizes, size_t nSizes) {
    Pop3ReplyParser parser;
    QList<QByteArray> lines;
    QByteArray open;
    qsizetype fed = 0;
    size_t next = 0;
    for (;;) {
        const Step step = parser.readData();
        check(parser.buffered() <= wire.size());
        if (step == Step::NeedMore) {
            if (fed >= wire.size())
                return lines;
            const qsizetype chunk =
                nSizes ? qsizetype(sizes[next++ % nSizes]) + 1 : wire.size() - fed;
            const qsizetype n = qMin(chunk, wire.size() - fed);
            parser.feed(wire.sliced(fed, n));
            fed += n;
            // Nothing but one unfinished line and the last chunk stays in the buffer.
            check(parser.buffered() <= Pop3ReplyParser::kMaxPiece + 2 + n);
            continue;
        }
        if (step == Step::End) {
            lines.append(QByteArray("\0END", 4));
            open.clear();
            continue;
        }
        check(step == Step::Line || step == Step::Piece);
        check(parser.text().size() <= Pop3ReplyParser::kMaxPiece + 1);
        open += parser.text().toByteArray();
        if (step == Step::Line) {
            lines.append(open);
            open.clear();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const int mode = data[0] % 4;
    const uint8_t* sizes = data + 1;
    const size_t nSizes = qMin<size_t>(8, size - 1);
    const QByteArrayView rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));

    switch (mode) {
    case 0: {
        // However the bytes are split up, the same lines come out.
        check(dataLines(rest, nullptr, 0) == dataLines(rest, sizes, nSizes));
        break;
    }
    case 1: {
        Pop3ReplyParser parser;
        parser.feed(rest);
        for (;;) {
            const Step step = parser.readStatus();
            if (step == Step::NeedMore || step == Step::Bad)
                break;
            check(step == Step::Ok || step == Step::Err);
            check(parser.text().size() <= Pop3ReplyParser::kMaxStatusLine);
            // A status may be followed by data: read a little of it.
            for (int i = 0; i < 3 && parser.readData() != Step::NeedMore; ++i) {
            }
        }
        break;
    }
    case 2: {
        if (const auto stamp = Pop3ReplyParser::greetingTimestamp(rest)) {
            check(stamp->startsWith('<') && stamp->endsWith('>'));
            check(!stamp->contains(' '));
        }
        Pop3ReplyParser::Capabilities caps;
        Pop3ReplyParser::addCapability(caps, rest);
        if (const auto entry = Pop3ReplyParser::parseListLine(rest))
            check(entry->number >= 0 && entry->size >= 0);
        if (const auto entry = Pop3ReplyParser::parseUidlLine(rest))
            check(!entry->uid.isEmpty() && entry->uid.size() <= Pop3ReplyParser::kMaxUidBytes);
        (void)MailHeader::decodeWords(rest);
        if (const auto address = Pop3Address::parse(QString::fromUtf8(rest)))
            check(!address->host.isEmpty() && address->port != 0);
        break;
    }
    default: {
        MailHeader header;
        for (QByteArrayView line : rest.toByteArray().split('\n'))
            header.addLine(line, !line.endsWith('\\'));
        check(header.raw().size() <= MailHeader::kMaxBytes);
        (void)header.field("Subject");
        (void)header.field("From");
        break;
    }
    }
    return 0;
}
