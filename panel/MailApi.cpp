#include "MailApi.h"

#include "MailClient.h"

namespace {

class LibraryMailApi final : public MailApi {
  public:
    qint32 connect(const QString& server) override { return MailClient::connect(server); }
    qint32 authenticate(qint32 handle, const QString& id, const QString& pass,
                        qint32 apop) override {
        return MailClient::authenticate(handle, id, pass, apop);
    }
    void fetchHeader(qint32 handle, qint32 number, QString (&b)[4]) override {
        MailClient::fetchHeader(handle, number, b);
    }
    qint32 mailSize(qint32 handle, qint32 number) override {
        return MailClient::mailSize(handle, number);
    }
    void fetchMail(qint32 handle, qint32 number, QString (&b)[4], QString& body) override {
        MailClient::fetchMail(handle, number, b, body);
    }
    void close(qint32 handle) override { MailClient::close(handle); }
    void copyLastError(QString& buffer) override {
        // As the library hands it: at most 8191 characters, ended by NUL.
        buffer = MailClient::lastError().left(8191) + QChar(u'\0');
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
