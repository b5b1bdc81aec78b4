#include "MailApi.h"

#include "nMail.h"

namespace {

class NMailApi final : public MailApi {
  public:
    qint32 connect(const QString& server) override { return NMailPop3Connect(server); }
    qint32 authenticate(qint32 handle, const QString& id, const QString& pass,
                        qint32 apop) override {
        return NMailPop3Authenticate(handle, id, pass, apop);
    }
    void getMailStatus(qint32 handle, qint32 number, QString (&b)[4]) override {
        NMailPop3GetMailStatus(handle, number, b[0], b[1], b[2], b[3], 0);
    }
    qint32 getMailSize(qint32 handle, qint32 number) override {
        return NMailPop3GetMailSize(handle, number);
    }
    void getMail(qint32 handle, qint32 number, QString (&b)[4], QString& body) override {
        NMailPop3GetMail(handle, number, b[0], b[1], b[2], b[3], body, 0, 0);
    }
    void close(qint32 handle) override { NMailPop3Close(handle); }
    void getMessage(QString& buffer) override {
        qint32 length = 8192;
        NMailGetMessage(0, buffer, length);
    }
};

MailApi*& current() {
    static MailApi* api = nullptr;
    return api;
}

} // namespace

MailApi& mailApi() {
    static NMailApi real;
    return current() ? *current() : real;
}

void setMailApi(MailApi* api) {
    current() = api;
}
