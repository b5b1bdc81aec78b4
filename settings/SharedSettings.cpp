#include "SharedSettings.h"

QString Pop3Server;
QString SmtpServer;
QString MailAddress;
qint16 ApopFlag = 0;
QString UserId;
QString UserPass;
