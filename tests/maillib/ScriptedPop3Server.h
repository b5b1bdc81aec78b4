#pragma once
// A small POP3 server of the tests' own that misbehaves on request: drops the line or stalls in
// the middle of a message, answers nonsense, claims and sends a huge message, never ends a reply,
// trickles, answers slowly, or lies in STAT and LIST. It runs in a thread of its own, because the
// library blocks the test's thread while it waits for replies.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThread>
#include <atomic>

class QTcpServer;

class ScriptedPop3Server {
  public:
    enum class Fault {
        None,
        DropInMessage,    // RETR of faultMessage: half the message, then the line is dropped
        StallInMessage,   // RETR of faultMessage: half the message, then silence
        SilentGreeting,   // never greets
        NonsenseGreeting, // greets with something that is not POP3
        TlsGreeting,      // greets with a TLS alert record, as a port that wants TLS may
        NonsenseReply,    // RETR of faultMessage is answered with nonsense
        HugeMessage,      // faultMessage claims claimedSize and streams hugeBytes of body
        StlsRefused,      // offers STLS, then refuses it
        StlsInjected,     // offers STLS, and sends a reply of its own right after the +OK
        StlsNoHandshake,  // offers STLS, then keeps talking plain POP3
        StlsFirstOnly,    // offers STLS (and refuses it) on the first connection only
        EndlessRetr,      // RETR of faultMessage: a header, then body lines without end
        EndlessList,      // LIST: entries 1, 2, 3, ... without end
        EndlessCapa,      // CAPA: capabilities without end
        TrickleRetr,      // RETR of faultMessage: "+OK", then one byte every trickleMs
        SlowReplies,      // the greeting and every reply come delayMs late
        HugeStat,         // STAT claims 2^31 messages
        ListSkips,        // LIST leaves out faultMessage
        ListRefused,      // LIST is answered -ERR
        UserRefused,      // USER is answered -ERR
        EndlessUidl,      // UIDL: entries 1, 2, 3, ... without end
        UidlSkips,        // UIDL leaves out faultMessage
        ListMalformed,    // LIST's first line is "1 -5"
        RetrRefused,      // RETR of faultMessage is answered -ERR
    };
    struct Script {
        bool pipelining = true;
        bool timestamp = true; // an APOP timestamp in the greeting
        bool uidl = false;     // UIDL offered; each message's id is uid(message)
        QList<QByteArray> messages;
        Fault fault = Fault::None;
        int faultMessage = 0;
        qint64 claimedSize = 0;
        qint64 hugeBytes = 0;
        int trickleMs = 0;
        int delayMs = 0;
        qint64 statClaim = -1;      // the count STAT claims; -1: the messages'
        int listLinesPerSecond = 0; // LIST's entries come at this pace; 0: at once
    };
    static constexpr const char* kTimestamp = "<4711.1700000000@scripted.test>";
    // The id UIDL gives a message: its MD5 in hex.
    static QByteArray uid(const QByteArray& message);

    explicit ScriptedPop3Server(const Script& script);
    ~ScriptedPop3Server();

    quint16 port() const { return m_port; }
    // The most command lines that arrived in one read: above 1 means the client pipelined.
    int maxCommandsPerRead() const { return m_maxBatch; }
    // RETRs answered in full.
    int retrsCompleted() const { return m_retrs; }
    QList<QByteArray> commands() const;
    int connections() const { return m_connections; }
    int connectionsClosed() const { return m_closed; }

  private:
    friend class ScriptedConnection;
    void record(const QByteArray& command, int batch);

    Script m_script;
    QThread m_thread;
    QObject* m_context = nullptr; // lives in m_thread
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_maxBatch{0};
    std::atomic<int> m_retrs{0};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_closed{0};
    mutable QMutex m_mutex;
    QList<QByteArray> m_commands;
};
