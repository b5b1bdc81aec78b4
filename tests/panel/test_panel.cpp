// The control panel, the notice and the mail check's flow, with the mail library replaced by a
// scripted fake and message boxes answered by the test.

#include "KnownTlsServers.h"
#include "MailSession.h"
#include "Program.h"
#include "TestWindows.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class FakeMail final : public MailSession {
  public:
    bool opens = true;
    qint32 count = 0;
    QString failure;
    QStringList calls;

    MailResult<> open(const QString& server) override {
        calls << QStringLiteral("connect %1").arg(server);
        return opens ? MailResult<>{std::monostate()} : MailResult<>::failed(failure);
    }
    MailResult<qint32> login(const QString& id, const QString& pass, bool apop) override {
        calls << QStringLiteral("auth %1 %2%3").arg(id, pass, apop ? u" apop"_qs : QString());
        return count >= 0 ? MailResult<qint32>{count} : MailResult<qint32>::failed(failure);
    }
    MailResult<MailUidListing> loginListingUids(const QString&, const QString&, bool,
                                                qint32) override {
        calls << QStringLiteral("uidl");
        return MailResult<MailUidListing>::failed(failure);
    }
    MailResult<MailHeaderFields> header(qint32 n) override {
        calls << QStringLiteral("status %1").arg(n);
        return {MailHeaderFields()};
    }
    qint32 size(qint32 n) override {
        calls << QStringLiteral("size %1").arg(n);
        return 100;
    }
    MailResult<MailMessage> fetch(qint32 n) override {
        calls << QStringLiteral("mail %1").arg(n);
        return {MailMessage()};
    }
    void close() override { calls << QStringLiteral("close"); }
};

} // namespace

class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestPanel : public QObject {
    Q_OBJECT
    QTemporaryDir program;
    QTemporaryDir work;
    FakeMail mail;
    ServerSettings servers;
    TestWindows w;
    QList<ShownBox>& boxes = w.answering.shown;

    void writeAccount(const QByteArray& id, const QByteArray& pass) {
        QFile f(program.path() + QStringLiteral("/★MailData/iniIdPass.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[EXEINI]\r\nNAME=" + id + "\r\nNAME2=" + pass + "\r\nNAME3=1\r\n");
    }

  private slots:
    void initTestCase() {
        qputenv("XDG_RUNTIME_DIR", work.path().toLocal8Bit());
        QDir().mkpath(program.path() + QStringLiteral("/★MailData"));
        Program::setFolder(program.path());
        QDir::setCurrent(work.path());
        QFile server(work.path() + QStringLiteral("/vbmail.ini"));
        QVERIFY(server.open(QIODevice::WriteOnly));
        server.write("SMTP=\r\nPOP3=pop.example\r\nMAIL=\r\nAPOP=0\r\n");
        server.close();
        writeAccount("user", "secret");
        w.mail = &mail;
        w.character->showOrRaise();
        QVERIFY(!w.server.isLoaded());
    }

    void init() {
        mail = FakeMail();
        boxes.clear();
        w.answering.answer = MessageBoxes::Answer::Ok;
        servers = ServerSettings();
        servers.pop3Server = QStringLiteral("pop.example");
        writeAccount("user", "secret");
    }

    void cleanup() {
        w.panel.unload();
        w.notice.unload();
        w.account.unload();
        w.barkMode.on = false;
    }

    void panelOpensBelowTheCharacterAndPinsIt() {
        StartupCharacter* character = w.character.get();
        character->setLeftTwips(3000);
        character->setTopTwips(4500);
        ControlPanel* panel = w.panel.get();
        QCOMPARE(panel->topTwips(), 7500.f);
        QCOMPARE(panel->leftTwips(), 2900.f);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(panel->focusWidget(), panel->checkButton);

        panel->setLeftTwips(4000);
        panel->setTopTwips(9000);
        panel->holdCharacter();
        QCOMPARE(character->leftTwips(), 4100.f);
        QCOMPARE(character->topTwips(), 6000.f);
        // A character dragged away is put back by the next tick.
        character->setLeftTwips(10);
        QTRY_COMPARE(character->leftTwips(), 4100.f);
    }

    void hoverCaptionsStay() {
        ControlPanel* panel = w.panel.get();
        QCOMPARE(panel->windowTitle(), QStringLiteral("モコポン"));
        QTest::mouseMove(panel->checkButton);
        QCoreApplication::sendEvent(panel->checkButton, new QEvent(QEvent::Enter));
        QCOMPARE(panel->windowTitle(), QStringLiteral("メールチェック"));
        QCoreApplication::sendEvent(panel->barkButton, new QEvent(QEvent::Enter));
        QCOMPARE(panel->windowTitle(), QStringLiteral("メールチェック"));
        QCoreApplication::sendEvent(panel->homePageButton, new QEvent(QEvent::Enter));
        QCOMPARE(panel->windowTitle(), QStringLiteral("作者のHP"));
    }

    void barkThenClosePanel() {
        StartupCharacter* character = w.character.get();
        Companion* companion = w.companion.get();
        ControlPanel* panel = w.panel.get();
        panel->bark();
        QVERIFY(companion->isVisible());
        QVERIFY(companion->meetingTimer->isActive() && companion->tickTimer->isActive());
        QVERIFY(!companion->shownPicture().isNull());
        QVERIFY(!character->isVisible());
        QCOMPARE(companion->leftTwips(), character->leftTwips());
        QCOMPARE(companion->topTwips(), character->topTwips());
        QVERIFY(w.barkMode.on);

        panel->close();
        QVERIFY(!w.panel.isLoaded());
        QVERIFY(!companion->isVisible());
        // Parked, it wakes nothing and holds no pictures; the character keeps its own.
        QVERIFY(!companion->meetingTimer->isActive() && !companion->tickTimer->isActive());
        QVERIFY(companion->shownPicture().isNull());
        QVERIFY(character->isVisible());
        QVERIFY(!character->shownPicture().isNull());
        QVERIFY(companion->framePictures[0].isNull());
        // The next bark reads them again.
        w.panel->bark();
        QVERIFY(companion->isVisible());
        QCOMPARE(companion->framePictures[0].size(), character->framePictures[0].size());
        QVERIFY(!companion->shownPicture().isNull());
        w.panel->close();
        QCOMPARE(companion->leftTwips(), character->leftTwips() + 1);
        QCOMPARE(companion->topTwips(), character->topTwips() + 1);
        QVERIFY(!w.barkMode.on);
    }

    // The real box, as the user gets it: a question titled 確認 about the home page, Yes by
    // default. Only Yes opens the page shipped beside the program.
    void homePageOnlyOnYes_data() {
        QTest::addColumn<QMessageBox::ButtonRole>("press");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Yes") << QMessageBox::YesRole << true;
        QTest::newRow("No") << QMessageBox::NoRole << false;
    }

    void homePageOnlyOnYes() {
        QFETCH(QMessageBox::ButtonRole, press);
        QFETCH(bool, opens);
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
        // The panel asks through the boxes it is made with.
        w.boxes = &w.modal;
        auto restore = qScopeGuard([this] {
            QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
            w.panel.unload();
            w.boxes = &w.answering;
        });

        // Read the box once it is up, then press the button the row answers with.
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QMessageBox::ButtonRole> roles;
        bool yesIsDefault = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            poll.stop();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            QAbstractButton* pressed = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                roles << box->buttonRole(b);
                if (box->buttonRole(b) == press)
                    pressed = b;
                if (box->buttonRole(b) == QMessageBox::YesRole)
                    yesIsDefault = box->defaultButton() == b;
            }
            if (pressed)
                pressed->click();
            else
                box->reject();
        });
        poll.start(10);
        w.panel->offerHomePage();

        QCOMPARE(title, QStringLiteral("確認"));
        QCOMPARE(icon, QMessageBox::Question);
        QVERIFY2(text.contains(QStringLiteral("ホームページ")), qPrintable(text));
        QCOMPARE(roles.size(), 2);
        QVERIFY(roles.contains(QMessageBox::YesRole) && roles.contains(QMessageBox::NoRole));
        QVERIFY(yesIsDefault);
        if (opens) {
            QCOMPARE(recorder.urls.size(), 1);
            QCOMPARE(recorder.urls[0].toLocalFile(),
                     program.path() + QStringLiteral("/hp/index.html"));
        } else {
            QVERIFY(recorder.urls.isEmpty());
        }
    }

    void checkWithMail() {
        mail.count = 3;
        w.panel.get();
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(mail.calls, (QStringList{"connect pop.example", "auth user secret", "status 1",
                                          "size 1", "mail 1", "status 2", "size 2", "mail 2",
                                          "status 3", "size 3", "mail 3", "close"}));
        NewMailNotice* notice = w.notice.get();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->countText->text(), QStringLiteral("3"));
        QCOMPARE(notice->messageText->text(), QStringLiteral("新着メールが有ります。"));
        QVERIFY(w.barkMode.on);
        QVERIFY(w.companion->isVisible());
        QCOMPARE(w.companion->leftTwips(), w.character->leftTwips());
        QVERIFY(boxes.isEmpty());

        // A second check reuses the open notice.
        mail.count = 0;
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(w.notice.get(), notice);
        QCOMPARE(notice->countText->text(), QStringLiteral("0"));
        QCOMPARE(notice->messageText->text(), QStringLiteral("新着メールはありませんでした。"));
        // Closing the notice ends bark mode.
        w.barkMode.on = true;
        notice->close();
        QVERIFY(!w.barkMode.on);
    }

    void apopFlagAnyNonZero() {
        servers.apopFlag = 2;
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(mail.calls.value(1), QStringLiteral("auth user secret apop"));
    }

    void failedLoginShowsTheLibraryText() {
        mail.count = -3;
        mail.failure = QStringLiteral("認証に失敗しました") + QChar(0) + QStringLiteral("junk");
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("認証に失敗しました"));
        QCOMPARE(boxes[0].icon, MessageBoxes::Icon::NoIcon);
        QCOMPARE(boxes[0].title, QStringLiteral("エラー"));
        QCOMPARE(w.notice->countText->text(), QStringLiteral("0"));
        QCOMPARE(w.notice->messageText->text(), QStringLiteral("新着メールはありませんでした。"));
        QCOMPARE(mail.calls.last(), QStringLiteral("close"));
    }

    void unreachableServerIsAnErrorNotAnEmptyMailbox() {
        mail.opens = false;
        mail.failure = QStringLiteral("サーバー pop.example に接続できませんでした。");
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(mail.calls, QStringList{"connect pop.example"});
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("エラー"));
        QVERIFY(boxes[0].text.contains(QStringLiteral("pop.example")));
        // The box tells of the failure; the count shown is never negative.
        QCOMPARE(w.notice->countText->text(), QStringLiteral("0"));
    }

    void incompleteAccountOpensTheDialog() {
        writeAccount("user", "");
        checkMail(mail, servers, w.checkWindows());
        QCOMPARE(mail.calls, (QStringList{"connect pop.example", "close"}));
        QVERIFY(w.account->isVisible());
        QCOMPARE(w.account->idEdit->text(), QStringLiteral("user"));
        QCOMPARE(w.notice->countText->text(), QStringLiteral("0"));
    }

    void noServerOpensTheServerDialog() {
        servers.pop3Server.clear();
        w.server.unload();
        checkMail(mail, servers, w.checkWindows());
        QVERIFY(mail.calls.isEmpty());
        QVERIFY(w.server->isVisible());
        QCOMPARE(w.notice->countText->text(), QStringLiteral("0"));
        w.server.unload();
    }

    // Servers that offered STLS are known after a restart, the newest kMaxServers of them.
    void knownTlsServersOutliveTheRun() {
        const QString path = program.path() + QStringLiteral("/★MailData/stls-test.txt");
        {
            KnownTlsServers first(path);
            for (int port = 1; port <= KnownTlsServers::kMaxServers + 1; ++port)
                first.rememberStls(QStringLiteral("Pop.Example"), quint16(port));
        }
        KnownTlsServers later(path);
        QVERIFY(later.offeredStls(QStringLiteral("pop.example"), 2));
        QVERIFY(later.offeredStls(QStringLiteral("pop.example"), KnownTlsServers::kMaxServers + 1));
        QVERIFY(!later.offeredStls(QStringLiteral("pop.example"), 1));
        QVERIFY(!later.offeredStls(QStringLiteral("pop.example"), 995));
#ifndef Q_OS_WIN // Qt 6.4 reads no access lists there
        QCOMPARE(QFile::permissions(path) & 0x0077, QFileDevice::Permissions());
#endif
        // Without the data folder nothing is written, and the run still remembers.
        KnownTlsServers nowhere(program.path() + QStringLiteral("/no-folder/stls.txt"));
        nowhere.rememberStls(QStringLiteral("pop.example"), 110);
        QVERIFY(nowhere.offeredStls(QStringLiteral("pop.example"), 110));
        QVERIFY(!QDir(program.path() + QStringLiteral("/no-folder")).exists());
        QFile::remove(path);
    }

    void hangUpFlagLoadsNoWindow() {
        // The check reads the flag of an unloaded settings dialog without loading it.
        w.settings.unload();
        checkMail(mail, servers, w.checkWindows());
        QVERIFY(!w.settings.isLoaded());
    }
};

QTEST_MAIN(TestPanel)
#include "test_panel.moc"
