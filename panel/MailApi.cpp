#include "MailApi.h"

#include "MailLibrary.h"

namespace {

class LibraryMailApi final : public MailApi {
  public:
    qint32 connect(const QString& server) override { return pop3Connect(server); }
    qint32 authenticate(qint32 handle, const QString& id, const QString& pass,
                        qint32 apop) override {
        return pop3Authenticate(handle, id, pass, apop);
    }
    void fetchHeader(qint32 handle, qint32 number, QString (&b)[4]) override {
        pop3FetchHeader(handle, number, b[0], b[1], b[2], b[3], 0);
    }
    qint32 mailSize(qint32 handle, qint32 number) override { return pop3MailSize(handle, number); }
    void fetchMail(qint32 handle, qint32 number, QString (&b)[4], QString& body) override {
        pop3FetchMail(handle, number, b[0], b[1], b[2], b[3], body, 0, 0);
    }
    void close(qint32 handle) override { pop3Close(handle); }
    void copyLastError(QString& buffer) override {
        qint32 length = 8192;
        copyLastMailError(0, buffer, length);
    }
};

MailApi*& current() {
    static MailApi* api = nullptr;
    return api;
}

} // namespace

MailApi& mailApi() {
    static LibraryMailApi real;
    return current() ? *current() : real;
}

void setMailApi(MailApi* api) {
    current() = api;
}
