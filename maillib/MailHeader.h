#pragma once
// The header of one message as it streams past: keeps at most kMaxBytes of it and picks out the
// fields the caller asks for, with RFC 2047 encoded words decoded.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class MailHeader {
  public:
    // More header than this is read and dropped; a server may send any amount.
    static constexpr qsizetype kMaxBytes = 64 * 1024;

    void clear();
    // One header line without its line end; complete is false for a piece of a long line.
    void addLine(QByteArrayView line, bool complete);

    // The raw header as received (lines joined by CR LF), cut at kMaxBytes.
    const QByteArray& raw() const { return m_raw; }
    // The unfolded value of the first field with this name, encoded words decoded.
    QString field(QByteArrayView name) const;

    // The raw header as text. Bytes outside encoded words are UTF-8 when they are valid UTF-8,
    // otherwise Shift-JIS as Windows writes it (code page 932), which older Japanese mailers put
    // in headers unencoded; here each line is judged on its own.
    QString rawText() const;

    // RFC 2047: "=?charset?B|Q?text?=" words in an unfolded header value; the bytes outside
    // them are read as rawText reads them, judged on the whole value.
    static QString decodeWords(QByteArrayView value);

  private:
    class RawReader;

    QByteArray m_raw;
    bool m_midLine = false;
};
