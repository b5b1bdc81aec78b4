// The pure parts of the mail library: reply parser, server setting, header fields, cutAtNul.

#include "CutAtNul.h"
#include "MailHeader.h"
#include "Pop3Address.h"
#include "Pop3ReplyParser.h"

#include <QTest>

using Step = Pop3ReplyParser::Step;
Q_DECLARE_METATYPE(Pop3ReplyParser::Step)

namespace {

// Runs a multi-line reply through the parser fed in pieces of chunk bytes; the lines as text,
// pieces joined to their line, "<END>" for the end marker.
QList<QByteArray> dataLines(const QByteArray& wire, qsizetype chunk) {
    Pop3ReplyParser parser;
    QList<QByteArray> lines;
    QByteArray open;
    qsizetype fed = 0;
    for (;;) {
        const Step step = parser.readData();
        if (step == Step::NeedMore) {
            if (fed >= wire.size())
                break;
            parser.feed(QByteArrayView(wire).sliced(fed, qMin(chunk, wire.size() - fed)));
            fed += chunk;
            continue;
        }
        if (step == Step::End) {
            lines.append("<END>");
            break;
        }
        open += parser.text().toByteArray();
        if (step == Step::Line) {
            lines.append(open);
            open.clear();
        }
    }
    return lines;
}

} // namespace

class TestMaillibParser : public QObject {
    Q_OBJECT
  private slots:
    void status_data();
    void status();
    void statusNeedsWholeLine();
    void data_data();
    void data();
    void longLineComesInPieces();
    void pipelinedRepliesStayApart();
    void timestamp_data();
    void timestamp();
    void capabilities();
    void listLine_data();
    void listLine();
    void uidlLine_data();
    void uidlLine();
    void address_data();
    void address();
    void encodedWords_data();
    void encodedWords();
    void headerFields();
    void headerIsBounded();
    void cutAtNul_data();
    void cutAtNul();
};

void TestMaillibParser::status_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<Step>("step");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("ok") << QByteArray("+OK ready\r\n") << Step::Ok << QByteArray("ready");
    QTest::newRow("ok bare") << QByteArray("+OK\r\n") << Step::Ok << QByteArray();
    QTest::newRow("err") << QByteArray("-ERR [AUTH] no\r\n") << Step::Err
                         << QByteArray("[AUTH] no");
    QTest::newRow("lf only") << QByteArray("+OK x\n") << Step::Ok << QByteArray("x");
    QTest::newRow("not a word") << QByteArray("+OKAY\r\n") << Step::Bad << QByteArray();
    QTest::newRow("nonsense") << QByteArray("* 1 FETCH\r\n") << Step::Bad << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r\n") << Step::Bad << QByteArray();
    QTest::newRow("endless") << QByteArray(Pop3ReplyParser::kMaxStatusLine + 10, '+') << Step::Bad
                             << QByteArray();
    QTest::newRow("too long") << "+OK " + QByteArray(Pop3ReplyParser::kMaxStatusLine, 'a') + "\n"
                              << Step::Bad << QByteArray();
}

void TestMaillibParser::status() {
    QFETCH(QByteArray, wire);
    QFETCH(Step, step);
    QFETCH(QByteArray, text);
    Pop3ReplyParser parser;
    parser.feed(wire);
    QCOMPARE(parser.readStatus(), step);
    QCOMPARE(parser.text().toByteArray(), text);
}

void TestMaillibParser::statusNeedsWholeLine() {
    Pop3ReplyParser parser;
    parser.feed("+OK hal");
    QCOMPARE(parser.readStatus(), Step::NeedMore);
    parser.feed("f\r");
    QCOMPARE(parser.readStatus(), Step::NeedMore);
    parser.feed("\n-ERR");
    QCOMPARE(parser.readStatus(), Step::Ok);
    QCOMPARE(parser.text(), "half");
    QCOMPARE(parser.buffered(), 4);
}

void TestMaillibParser::data_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("plain") << QByteArray("a\r\nb\r\n.\r\n") << QList<QByteArray>{"a", "b", "<END>"};
    QTest::newRow("empty reply") << QByteArray(".\r\n") << QList<QByteArray>{"<END>"};
    QTest::newRow("stuffed dot") << QByteArray("..\r\n..x\r\n.\r\n")
                                 << QList<QByteArray>{".", ".x", "<END>"};
    QTest::newRow("dot inside") << QByteArray("a.\r\n a\r\n.\r\n")
                                << QList<QByteArray>{"a.", " a", "<END>"};
    QTest::newRow("blank lines") << QByteArray("h\r\n\r\n\r\n.\r\n")
                                 << QList<QByteArray>{"h", "", "", "<END>"};
    QTest::newRow("lf ends") << QByteArray("a\n.\n") << QList<QByteArray>{"a", "<END>"};
    QTest::newRow("bare cr kept") << QByteArray("a\rb\r\n.\r\n")
                                  << QList<QByteArray>{"a\rb", "<END>"};
    QTest::newRow("unended") << QByteArray("a\r\nb") << QList<QByteArray>{"a"};
    QTest::newRow("dot not end") << QByteArray(".x\r\n") << QList<QByteArray>{"x"};
}

void TestMaillibParser::data() {
    QFETCH(QByteArray, wire);
    QFETCH(QList<QByteArray>, lines);
    // However the bytes are split, the lines are the same.
    for (qsizetype chunk : {qsizetype(1), qsizetype(2), qsizetype(3), wire.size()})
        QCOMPARE(dataLines(wire, chunk), lines);
}

void TestMaillibParser::longLineComesInPieces() {
    // A dot at the start, a CR at a piece boundary: both must survive splitting.
    QByteArray line = ".." + QByteArray(Pop3ReplyParser::kMaxPiece - 3, 'y') + "\r" +
                      QByteArray(3 * Pop3ReplyParser::kMaxPiece, 'z');
    const QByteArray wire = line + "\r\nnext\r\n.\r\n";
    const QByteArray expected = line.mid(1);
    for (qsizetype chunk : {qsizetype(1000), qsizetype(4096), wire.size()}) {
        Pop3ReplyParser parser;
        parser.feed(wire.left(chunk));
        qsizetype fed = chunk;
        QByteArray got;
        int pieces = 0;
        Step step;
        while ((step = parser.readData()) != Step::Line) {
            if (step == Step::Piece) {
                ++pieces;
                got += parser.text().toByteArray();
            } else {
                QCOMPARE(step, Step::NeedMore);
                parser.feed(QByteArrayView(wire).sliced(fed, qMin(chunk, wire.size() - fed)));
                fed += chunk;
            }
            QVERIFY(parser.buffered() <= Pop3ReplyParser::kMaxPiece + chunk);
        }
        got += parser.text().toByteArray();
        QVERIFY(pieces >= 3);
        QCOMPARE(got, expected);
        QCOMPARE(parser.readData(), Step::Line);
        QCOMPARE(parser.text(), "next");
    }
}

void TestMaillibParser::pipelinedRepliesStayApart() {
    // Two RETR replies in one read: the first ends where its "." is, the second follows.
    Pop3ReplyParser parser;
    parser.feed("+OK\r\nA\r\n.\r\n+OK\r\n..\r\n.\r\n-ERR gone\r\n");
    QCOMPARE(parser.readStatus(), Step::Ok);
    QCOMPARE(parser.readData(), Step::Line);
    QCOMPARE(parser.text(), "A");
    QCOMPARE(parser.readData(), Step::End);
    QCOMPARE(parser.readStatus(), Step::Ok);
    QCOMPARE(parser.readData(), Step::Line);
    QCOMPARE(parser.text(), ".");
    QCOMPARE(parser.readData(), Step::End);
    QCOMPARE(parser.readStatus(), Step::Err);
    QCOMPARE(parser.text(), "gone");
    QCOMPARE(parser.buffered(), 0);
}

void TestMaillibParser::timestamp_data() {
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("stamp");
    QTest::newRow("dovecot") << QByteArray("Dovecot ready. <2980.1.6b19.nNh==@vm>")
                             << QByteArray("<2980.1.6b19.nNh==@vm>");
    QTest::newRow("rfc") << QByteArray("POP3 server ready <1896.697170952@dbc.mtview.ca.us>")
                         << QByteArray("<1896.697170952@dbc.mtview.ca.us>");
    QTest::newRow("none") << QByteArray("ready") << QByteArray();
    QTest::newRow("no at") << QByteArray("ready <1234>") << QByteArray();
    QTest::newRow("unclosed") << QByteArray("ready <1@x") << QByteArray();
    QTest::newRow("blank inside") << QByteArray("ready <1 2@x>") << QByteArray();
    QTest::newRow("empty") << QByteArray("<>") << QByteArray();
}

void TestMaillibParser::timestamp() {
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, stamp);
    QCOMPARE(Pop3ReplyParser::greetingTimestamp(greeting).value_or(QByteArray()), stamp);
}

void TestMaillibParser::capabilities() {
    Pop3ReplyParser::Capabilities caps;
    for (const char* line : {"TOP", "UIDL", "pipelining", "SASL PLAIN", "STLSX", "USER"})
        Pop3ReplyParser::addCapability(caps, line);
    QVERIFY(caps.pipelining);
    QVERIFY(caps.user);
    QVERIFY(!caps.stls);
    Pop3ReplyParser::addCapability(caps, "STLS");
    QVERIFY(caps.stls);
}

void TestMaillibParser::listLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<qint64>("size");
    QTest::newRow("plain") << QByteArray("1 120") << true << qint64(1) << qint64(120);
    QTest::newRow("stat text") << QByteArray("3 294") << true << qint64(3) << qint64(294);
    QTest::newRow("extra field") << QByteArray("2 10 x") << true << qint64(2) << qint64(10);
    QTest::newRow("huge clamps") << QByteArray("1 99999999999999999999999") << true << qint64(1)
                                 << std::numeric_limits<qint64>::max();
    QTest::newRow("negative") << QByteArray("1 -5") << false << qint64(0) << qint64(0);
    QTest::newRow("one field") << QByteArray("7") << false << qint64(0) << qint64(0);
    QTest::newRow("letters") << QByteArray("a b") << false << qint64(0) << qint64(0);
    QTest::newRow("glued") << QByteArray("1 20k") << false << qint64(0) << qint64(0);
}

void TestMaillibParser::listLine() {
    QFETCH(QByteArray, line);
    QFETCH(bool, ok);
    const auto entry = Pop3ReplyParser::parseListLine(line);
    QCOMPARE(entry.has_value(), ok);
    if (ok) {
        QFETCH(qint64, number);
        QFETCH(qint64, size);
        QCOMPARE(entry->number, number);
        QCOMPARE(entry->size, size);
    }
}

void TestMaillibParser::uidlLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<qint64>("number"); // 0: not an entry
    QTest::addColumn<QByteArray>("uid");
    const QByteArray longest(Pop3ReplyParser::kMaxUidBytes, '~');
    QTest::newRow("plain") << QByteArray("1 whqtswO00WBw418f9t5JxYwZ") << qint64(1)
                           << QByteArray("whqtswO00WBw418f9t5JxYwZ");
    QTest::newRow("blanks around")
        << QByteArray("12  0000000a4f1b2c  ") << qint64(12) << QByteArray("0000000a4f1b2c");
    QTest::newRow("every printable") << QByteArray("3 !~\"#") << qint64(3) << QByteArray("!~\"#");
    QTest::newRow("70 characters") << "2 " + longest << qint64(2) << longest;
    QTest::newRow("71 characters") << "2 " + longest + "x" << qint64(0) << QByteArray();
    QTest::newRow("two ids") << QByteArray("4 abc def") << qint64(0) << QByteArray();
    QTest::newRow("no id") << QByteArray("4 ") << qint64(0) << QByteArray();
    QTest::newRow("tab inside") << QByteArray("5 ab\tc") << qint64(0) << QByteArray();
    QTest::newRow("eight bits") << QByteArray("6 ab\xe3\x81\x82") << qint64(0) << QByteArray();
    QTest::newRow("no number") << QByteArray("x abc") << qint64(0) << QByteArray();
}

void TestMaillibParser::uidlLine() {
    QFETCH(QByteArray, line);
    QFETCH(qint64, number);
    QFETCH(QByteArray, uid);
    const auto entry = Pop3ReplyParser::parseUidlLine(line);
    QCOMPARE(entry.has_value(), number != 0);
    if (entry) {
        QCOMPARE(entry->number, number);
        QCOMPARE(entry->uid.toByteArray(), uid);
    }
}

void TestMaillibParser::address_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::newRow("bare") << "mail.example.jp" << true << "mail.example.jp" << 110 << false;
    QTest::newRow("blanks") << "  mail.example.jp " << true << "mail.example.jp" << 110 << false;
    QTest::newRow("port") << "mail.example.jp:1110" << true << "mail.example.jp" << 1110 << false;
    QTest::newRow("pop3") << "pop3://mail.example.jp" << true << "mail.example.jp" << 110 << false;
    QTest::newRow("pop3 port") << "pop3://h:2110/" << true << "h" << 2110 << false;
    QTest::newRow("pop3s") << "POP3S://mail.example.jp" << true << "mail.example.jp" << 995 << true;
    QTest::newRow("pop3s port") << "pop3s://127.0.0.1:2995" << true << "127.0.0.1" << 2995 << true;
    // 995 is the port of POP3 over TLS, however it is written.
    QTest::newRow("port 995") << "pop.example.jp:995" << true << "pop.example.jp" << 995 << true;
    QTest::newRow("pop3 port 995") << "pop3://h:995" << true << "h" << 995 << true;
    QTest::newRow("final dot") << "pop.example.jp." << true << "pop.example.jp" << 110 << false;
    QTest::newRow("final dot, pop3s")
        << "pop3s://pop.example.jp.:2995" << true << "pop.example.jp" << 2995 << true;
    QTest::newRow("only a dot") << "." << false << "" << 0 << false;
    QTest::newRow("ipv6") << "::1" << true << "::1" << 110 << false;
    QTest::newRow("ipv6 port") << "[::1]:2110" << true << "::1" << 2110 << false;
    QTest::newRow("empty") << "" << false << "" << 0 << false;
    QTest::newRow("bad port") << "h:0" << false << "" << 0 << false;
    QTest::newRow("port too big") << "h:70000" << false << "" << 0 << false;
    QTest::newRow("port letters") << "h:pop" << false << "" << 0 << false;
    QTest::newRow("imap") << "imap://h" << false << "" << 0 << false;
    QTest::newRow("user in url") << "pop3://u@h" << false << "" << 0 << false;
    QTest::newRow("path") << "pop3://h/inbox" << false << "" << 0 << false;
    QTest::newRow("blank in host") << "mail example" << false << "" << 0 << false;
}

void TestMaillibParser::address() {
    QFETCH(QString, setting);
    QFETCH(bool, ok);
    const auto a = Pop3Address::parse(setting);
    QCOMPARE(a.has_value(), ok);
    if (ok) {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, tls);
        QCOMPARE(a->host, host);
        QCOMPARE(int(a->port), port);
        QCOMPARE(a->implicitTls, tls);
    }
}

void TestMaillibParser::encodedWords_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("Hello") << u"Hello"_qs;
    QTest::newRow("b utf-8") << QByteArray("=?UTF-8?B?5pel5pys?= 1") << u"日本 1"_qs;
    QTest::newRow("q latin1") << QByteArray("=?iso-8859-1?q?caf=E9_au_lait?=")
                              << u"café au lait"_qs;
    QTest::newRow("adjacent words")
        << QByteArray("=?UTF-8?B?5pel?= \t =?UTF-8?B?5pys?=") << u"日本"_qs;
    QTest::newRow("text between") << QByteArray("=?UTF-8?Q?a?= und =?UTF-8?Q?b?=") << u"a und b"_qs;
    QTest::newRow("bad base64") << QByteArray("=?UTF-8?B?***?=") << u"=?UTF-8?B?***?="_qs;
    QTest::newRow("unknown charset")
        << QByteArray("=?x-nonsense?B?5pel?=") << u"=?x-nonsense?B?5pel?="_qs;
    QTest::newRow("unclosed") << QByteArray("=?UTF-8?B?5pel") << u"=?UTF-8?B?5pel"_qs;
    QTest::newRow("iso-2022-jp") << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=") << u"日本"_qs;
    QTest::newRow("iso-2022-jp, rows past 0x5E and an ideographic space")
        << QByteArray("=?iso-2022-jp?B?GyRCXyF0JiEhGyhC?=") << u"漾熙　"_qs;
    QTest::newRow("iso-2022-jp roman and katakana")
        << QByteArray("=?ISO-2022-JP?B?GyhKXH4bKEkxMhsoQiE=?=") << u"¥‾ｱｲ!"_qs;
    QTest::newRow("shift_jis") << QByteArray("=?Shift_JIS?B?k/qWew==?=") << u"日本"_qs;
    QTest::newRow("euc-jp") << QByteArray("=?EUC-JP?B?xvzL3A==?=") << u"日本"_qs;
    QTest::newRow("raw utf-8") << QByteArray("\xe6\x97\xa5\xe6\x9c\xac") << u"日本"_qs;
    // Not UTF-8: Shift-JIS as Windows writes it, with a second byte of 0x5C and the extensions.
    QTest::newRow("raw cp932") << QByteArray("\x95\x5c\x8e\xa6\x87\x40\x81\x60\xfa\x40")
                               << u"表示①～ⅰ"_qs;
    QTest::newRow("raw cp932 beside a word")
        << QByteArray("\x93\xfa\x96\x7b =?UTF-8?B?5pel5pys?= \x89\xef\x8b\x63")
        << u"日本 日本 会議"_qs;
}

void TestMaillibParser::encodedWords() {
    QFETCH(QByteArray, value);
    QFETCH(QString, text);
    QCOMPARE(MailHeader::decodeWords(value), text);
}

void TestMaillibParser::headerFields() {
    MailHeader header;
    header.addLine("Received: from x", true);
    header.addLine("subject: =?UTF-8?B?5pel5pys?=", true);
    header.addLine("\t=?UTF-8?B?5pel5pys?= folded", true);
    header.addLine("From: a@b", true);
    header.addLine("Subject: second", true);
    header.addLine("X-Old: \x93\xfa\x96\x7b", true); // raw cp932 beside UTF-8 lines
    header.addLine("X-New: \xe6\x97\xa5\xe6\x9c\xac", true);
    QCOMPARE(header.field("Subject"), u"日本日本 folded"_qs);
    QCOMPARE(header.field("From"), u"a@b"_qs);
    QCOMPARE(header.field("Date"), QString());
    QVERIFY(header.raw().startsWith("Received: from x\r\nsubject:"));
    QVERIFY2(header.rawText().endsWith(u"second\r\nX-Old: 日本\r\nX-New: 日本"),
             qPrintable(header.rawText()));
}

void TestMaillibParser::headerIsBounded() {
    MailHeader header;
    header.addLine("Subject: s", true);
    const QByteArray piece(10000, 'h');
    for (int i = 0; i < 100; ++i)
        header.addLine(piece, false);
    header.addLine("", true);
    QCOMPARE(header.raw().size(), MailHeader::kMaxBytes);
    QCOMPARE(header.field("Subject"), u"s"_qs);
}

void TestMaillibParser::cutAtNul_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cut");
    QTest::newRow("nul inside") << QString(u"abc\0def"_qs) << u"abc"_qs;
    QTest::newRow("no nul") << u"abc"_qs << u"abc"_qs;
    QTest::newRow("nul first") << QString(u"\0abc"_qs) << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestMaillibParser::cutAtNul() {
    QFETCH(QString, text);
    QFETCH(QString, cut);
    QCOMPARE(::cutAtNul(text), cut);
}

QTEST_GUILESS_MAIN(TestMaillibParser)
#include "tst_maillib_parser.moc"
