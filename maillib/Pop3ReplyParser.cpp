#include "Pop3ReplyParser.h"

#include <cstring>
#include <limits>

void Pop3ReplyParser::feed(QByteArrayView bytes) {
    compact();
    m_buffer.append(bytes.data(), bytes.size());
}

void Pop3ReplyParser::clear() {
    m_buffer.clear();
    m_pos = 0;
    m_text = {};
    m_inLine = false;
}

void Pop3ReplyParser::compact() {
    // Views handed out point into the buffer, so it only moves on feed.
    if (m_pos == 0)
        return;
    if (m_pos == m_buffer.size())
        m_buffer.clear();
    else
        m_buffer.remove(0, m_pos);
    m_pos = 0;
}

Pop3ReplyParser::Step Pop3ReplyParser::readStatus() {
    m_text = {};
    const char* begin = m_buffer.constData() + m_pos;
    const qsizetype avail = buffered();
    const void* lf = std::memchr(begin, '\n', size_t(avail));
    if (!lf)
        return avail > kMaxStatusLine ? Step::Bad : Step::NeedMore;
    qsizetype len = static_cast<const char*>(lf) - begin;
    m_pos += len + 1;
    if (len > kMaxStatusLine)
        return Step::Bad;
    if (len > 0 && begin[len - 1] == '\r')
        --len;
    QByteArrayView line(begin, len);
    Step step;
    qsizetype word;
    if (line.startsWith("+OK")) {
        step = Step::Ok;
        word = 3;
    } else if (line.startsWith("-ERR")) {
        step = Step::Err;
        word = 4;
    } else {
        return Step::Bad;
    }
    if (line.size() > word && line[word] != ' ')
        return Step::Bad; // "+OKAY" is not a status word
    m_text = line.sliced(qMin(word + 1, line.size()));
    return step;
}

Pop3ReplyParser::Step Pop3ReplyParser::readData() {
    m_text = {};
    const char* begin = m_buffer.constData() + m_pos;
    const qsizetype avail = buffered();
    if (avail == 0)
        return Step::NeedMore;
    const qsizetype scan = qMin(avail, kMaxPiece + 2);
    const void* lf = std::memchr(begin, '\n', size_t(scan));
    if (!lf) {
        if (avail < kMaxPiece)
            return Step::NeedMore;
        // A line this long is passed on in pieces so that the buffer stays small. A CR at the
        // end may belong to the line end, so it waits for the next piece.
        qsizetype len = kMaxPiece;
        if (begin[len - 1] == '\r')
            --len;
        qsizetype skip = (!m_inLine && begin[0] == '.') ? 1 : 0;
        m_text = QByteArrayView(begin + skip, len - skip);
        m_pos += len;
        m_inLine = true;
        return Step::Piece;
    }
    qsizetype len = static_cast<const char*>(lf) - begin;
    m_pos += len + 1;
    if (len > 0 && begin[len - 1] == '\r')
        --len;
    const bool lineStart = !m_inLine;
    m_inLine = false;
    if (lineStart && len > 0 && begin[0] == '.') {
        if (len == 1)
            return Step::End;
        m_text = QByteArrayView(begin + 1, len - 1);
    } else {
        m_text = QByteArrayView(begin, len);
    }
    return Step::Line;
}

bool Pop3ReplyParser::startsLikeTls(QByteArrayView firstBytes) {
    // Record types 20..24; no POP3 reply starts with a control character.
    return firstBytes.size() >= 2 && firstBytes[0] >= 0x14 && firstBytes[0] <= 0x18 &&
           firstBytes[1] == 0x03;
}

std::optional<QByteArray> Pop3ReplyParser::greetingTimestamp(QByteArrayView greetingText) {
    const qsizetype open = greetingText.indexOf('<');
    if (open < 0)
        return std::nullopt;
    const qsizetype close = greetingText.indexOf('>', open + 1);
    if (close < 0)
        return std::nullopt;
    QByteArrayView stamp = greetingText.sliced(open, close - open + 1);
    // A timestamp looks like a message id: <process.clock@host>, printable and without blanks.
    if (!stamp.contains('@'))
        return std::nullopt;
    for (char c : stamp.sliced(1, stamp.size() - 2)) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || c == '<')
            return std::nullopt;
    }
    return stamp.toByteArray();
}

void Pop3ReplyParser::addCapability(Capabilities& caps, QByteArrayView line) {
    const qsizetype blank = line.indexOf(' ');
    const QByteArrayView name = blank < 0 ? line : line.first(blank);
    if (name.compare("STLS", Qt::CaseInsensitive) == 0)
        caps.stls = true;
    else if (name.compare("PIPELINING", Qt::CaseInsensitive) == 0)
        caps.pipelining = true;
    else if (name.compare("USER", Qt::CaseInsensitive) == 0)
        caps.user = true;
}

namespace {

// Digits at pos; advances pos. Values past the range are clamped, not wrapped.
std::optional<qint64> number(QByteArrayView s, qsizetype& pos) {
    const qsizetype start = pos;
    qint64 value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        const int digit = s[pos] - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            value = std::numeric_limits<qint64>::max();
        else
            value = value * 10 + digit;
        ++pos;
    }
    if (pos == start)
        return std::nullopt;
    return value;
}

// The message number that begins a listing's line and the blanks after it; pos ends after them.
std::optional<qint64> messageNumber(QByteArrayView line, qsizetype& pos) {
    pos = 0;
    const auto n = number(line, pos);
    if (!n || pos >= line.size() || line[pos] != ' ')
        return std::nullopt;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    return n;
}

} // namespace

std::optional<Pop3ReplyParser::ListEntry> Pop3ReplyParser::parseListLine(QByteArrayView line) {
    qsizetype pos = 0;
    const auto n = messageNumber(line, pos);
    if (!n)
        return std::nullopt;
    const auto size = number(line, pos);
    if (!size || (pos < line.size() && line[pos] != ' '))
        return std::nullopt;
    return ListEntry{*n, *size};
}

std::optional<Pop3ReplyParser::UidEntry> Pop3ReplyParser::parseUidlLine(QByteArrayView line) {
    qsizetype pos = 0;
    const auto n = messageNumber(line, pos);
    if (!n)
        return std::nullopt;
    const qsizetype start = pos;
    while (pos < line.size() && line[pos] > 0x20 && line[pos] < 0x7f)
        ++pos;
    const qsizetype length = pos - start;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (length < 1 || length > kMaxUidBytes || pos != line.size())
        return std::nullopt;
    return UidEntry{*n, line.sliced(start, length)};
}
