// The three settings dialogs on the offscreen platform: what they load, what their keys and
// buttons store, and the error boxes that replace lost or damaged settings.

#include "../app/AnsweringBoxes.h"
#include "AccountDialog.h"
#include "Cp932.h"
#include "DataFiles.h"
#include "LazyWindow.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "TestFolders.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QtTest>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The one error box a failed save shows: critical, titled エラー, naming what the user must look
// at (the file or folder).
void verifyErrorBox(const QList<ShownBox>& shown, const QString& names) {
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QStringLiteral("エラー"));
    QCOMPARE(shown[0].icon, MessageBoxes::Icon::Critical);
    QVERIFY2(shown[0].text.contains(names), qPrintable(shown[0].text));
}

QByteArray sjis(const QString& text) {
    return Cp932::encode(text).value_or("<unencodable>");
}

// The widgets Tab visits, in order, starting at first. A spin box's text field hands its focus
// to the box, so it is the box that is visited.
QList<QWidget*> tabChain(QWidget* first) {
    QList<QWidget*> chain;
    QWidget* w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->focusProxy())
            chain.append(w);
        w = w->nextInFocusChain();
    } while (w != first);
    return chain;
}

} // namespace

class TestSettingsDialogs : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void tabOrders();

    void accountLoad();
    void accountKeys_data();
    void accountKeys();
    void accountUnencodable();
    void accountUnwritable_data();
    void accountUnwritable();
    void accountMissingDataFolder_data();
    void accountMissingDataFolder();

    void serverLoad_data();
    void serverLoad();
    void serverKeys_data();
    void serverKeys();
    void serverSave_data();
    void serverSave();
    void serverGreyedBoxLeavesGrey();
    void serverUnencodable();
    void serverUnwritable();
    void serverAfterFailedSave_data();
    void serverAfterFailedSave();

    void settingsLoad_data();
    void settingsLoad();
    void hangUpAfterCheck_data();
    void hangUpAfterCheck();
    void hangUpFlagAtStartUp_data();
    void hangUpFlagAtStartUp();
    void settingsUnloadStores_data();
    void settingsUnloadStores();
    void settingsUnloadWithoutDataFolder();
    void settingsUnloadUnwritable();
    void settingsOpensBothDialogs();
    void settingsAutomaticCheck_data();
    void settingsAutomaticCheck();
    void settingsStartAtLogin();
    void saveNeverGoesThroughLinks_data();
    void saveNeverGoesThroughLinks();

    void screenshots();

  private:
    void useFolders(bool withDataFolder);
    void unloadAll();

    std::unique_ptr<TestFolders> m_folders;
    AnsweringBoxes m_boxes;
    QList<ShownBox>& m_shown = m_boxes.shown;
    // The server settings in use, as the program hands its own to the server dialog.
    ServerSettings m_inUse;
    // Told each interval the settings dialog's box takes.
    std::function<void(int minutes)> m_intervalHeard;
    LazyWindow<AccountDialog> m_account{[this] { return new AccountDialog(m_boxes); }};
    LazyWindow<ServerDialog> m_server{[this] { return new ServerDialog(m_inUse, m_boxes, {}); }};
    LazyWindow<SettingsDialog> m_settings{[this] {
        return new SettingsDialog({[this] { m_account->showOrRaise(); },
                                   [this] { m_server->showOrRaise(); },
                                   [this](int minutes) {
                                       if (m_intervalHeard)
                                           m_intervalHeard(minutes);
                                   },
                                   m_boxes,
                                   {}});
    }};
    // Where the autostart entry goes: never the user's own.
    QTemporaryDir m_config;
};

void TestSettingsDialogs::init() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QDir(m_config.path() + QStringLiteral("/autostart")).removeRecursively();
    m_shown.clear();
    m_inUse = ServerSettings();
    useFolders(true);
}

void TestSettingsDialogs::cleanup() {
    unloadAll();
    m_folders.reset();
}

void TestSettingsDialogs::useFolders(bool withDataFolder) {
    unloadAll();
    m_folders.reset();
    m_folders = std::make_unique<TestFolders>(withDataFolder);
}

void TestSettingsDialogs::unloadAll() {
    m_settings.unload();
    m_server.unload();
    m_account.unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestSettingsDialogs::tabOrders() {
    AccountDialog* a = m_account.get();
    QCOMPARE(a->focusWidget(), a->saveBox);
    QCOMPARE(tabChain(a->saveBox), (QList<QWidget*>{a->saveBox, a->cancelButton, a->okButton,
                                                    a->passwordEdit, a->idEdit}));
    ServerDialog* o = m_server.get();
    QCOMPARE(o->focusWidget(), o->mailEdit);
    QCOMPARE(tabChain(o->mailEdit), (QList<QWidget*>{o->mailEdit, o->cancelButton, o->saveButton,
                                                     o->apopBox, o->pop3Edit, o->smtpEdit}));
    SettingsDialog* s = m_settings.get();
    QCOMPARE(s->focusWidget(), s->hangUpBox);
    QCOMPARE(tabChain(s->hangUpBox),
             (QList<QWidget*>{s->hangUpBox, s->accountButton, s->serverButton, s->intervalBox,
                              s->startAtLoginBox}));
    // Access keys of the server labels lead to their boxes.
    QCOMPARE(o->pop3Label->buddy(), o->pop3Edit);
}

void TestSettingsDialogs::accountLoad() {
    TestFolders::write(m_folders->dataFile("iniIdPass.ini"),
                       "[EXEINI]\r\nNAME=" + sjis(QStringLiteral("山田")) +
                           "\r\nNAME2=secret\r\nNAME3=1\r\n");
    AccountDialog* f = m_account.get();
    QVERIFY(!f->isVisible());
    QCOMPARE(f->idEdit->text(), QStringLiteral("山田"));
    QCOMPARE(f->passwordEdit->text(), QStringLiteral("secret"));
    // One "*" per character, whatever the style would draw.
    QCOMPARE(f->passwordEdit->displayText(), QStringLiteral("******"));
    QCOMPARE(f->saveBox->checkState(), Qt::Unchecked);
    QCOMPARE(f->windowTitle(), QStringLiteral("ID,PASS"));
    QVERIFY(!(f->windowFlags() & Qt::WindowStaysOnTopHint));
}

void TestSettingsDialogs::accountKeys_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("file");

    const QByteArray before("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");
    QTest::newRow("Enter in the id box saves")
        << true << "idEdit" << int(Qt::Key_Return)
        << QByteArray("[EXEINI]\r\nNAME=new\r\nNAME2=newpw\r\nNAME3=1\r\n");
    QTest::newRow("keypad Enter on the save box")
        << true << "saveBox" << int(Qt::Key_Enter)
        << QByteArray("[EXEINI]\r\nNAME=new\r\nNAME2=newpw\r\nNAME3=1\r\n");
    QTest::newRow("box clear: NAME3 alone")
        << false << "passwordEdit" << int(Qt::Key_Return)
        << QByteArray("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=0\r\n");
    QTest::newRow("Enter on a focused Cancel")
        << true << "cancelButton" << int(Qt::Key_Return) << before;
    QTest::newRow("Esc stores nothing") << true << "idEdit" << int(Qt::Key_Escape) << before;
}

void TestSettingsDialogs::accountKeys() {
    QFETCH(bool, save);
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(QByteArray, file);
    const QString path = m_folders->dataFile("iniIdPass.ini");
    TestFolders::write(path, "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");

    AccountDialog* f = m_account.get();
    f->showOrRaise();
    f->idEdit->setText(QStringLiteral("new"));
    f->passwordEdit->setText(QStringLiteral("newpw"));
    f->saveBox->setChecked(save);
    QWidget* w = f->findChild<QWidget*>(target);
    QVERIFY(w);
    w->setFocus();
    QTest::keyClick(w, Qt::Key(key));

    QVERIFY(!m_account.isLoaded());
    QCOMPARE(TestFolders::read(path), file);
    QVERIFY(m_shown.isEmpty());
}

void TestSettingsDialogs::accountUnencodable() {
    const QString path = m_folders->dataFile("iniIdPass.ini");
    AccountDialog* f = m_account.get();
    f->idEdit->setText(QStringLiteral("user😀"));
    f->passwordEdit->setText(QStringLiteral("pw"));
    f->saveBox->setChecked(true);
    QTest::mouseClick(f->okButton, Qt::LeftButton);

    verifyErrorBox(m_shown, QStringLiteral("「ID」"));
    QVERIFY(!m_shown[0].text.contains(QStringLiteral("Password")));
    QVERIFY(m_account.isLoaded());
    QVERIFY(!QFile::exists(path));
}

void TestSettingsDialogs::accountUnwritable_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("stillOpen");
    QTest::newRow("box ticked: open to try again") << true << true;
    // Only NAME3=0 is written: its loss does not hold the typed account back.
    QTest::newRow("box clear: closes, the choice named") << false << false;
}

void TestSettingsDialogs::accountUnwritable() {
    SKIP_WITHOUT_FULL_DISK();
    QFETCH(bool, save);
    QFETCH(bool, stillOpen);
    const QString path = m_folders->dataFile("iniIdPass.ini");
    const QByteArray before("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");
    TestFolders::write(path, before);
    AccountDialog* f = m_account.get();
    f->idEdit->setText(QStringLiteral("a new and longer user id"));
    f->passwordEdit->setText(QStringLiteral("newpw"));
    f->saveBox->setChecked(save);
    {
        FullDisk full;
        QTest::mouseClick(f->okButton, Qt::LeftButton);
    }
    verifyErrorBox(m_shown, path);
    // A lost "don't save" choice is told as such, not as a lost account.
    QCOMPARE(m_shown[0].text.contains(QStringLiteral("「保存しない」")), !save);
    QCOMPARE(m_account.isLoaded(), stillOpen);
    if (stillOpen)
        QCOMPARE(f->idEdit->text(), QStringLiteral("a new and longer user id"));
    QCOMPARE(TestFolders::read(path), before);
}

void TestSettingsDialogs::accountMissingDataFolder_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("box clear: quiet") << false;
    QTest::newRow("box ticked: the missing folder named") << true;
}

void TestSettingsDialogs::accountMissingDataFolder() {
    QFETCH(bool, save);
    useFolders(false);
    AccountDialog* f = m_account.get();
    f->idEdit->setText(QStringLiteral("u"));
    f->passwordEdit->setText(QStringLiteral("p"));
    f->saveBox->setChecked(save);
    QTest::mouseClick(f->okButton, Qt::LeftButton);
    if (save)
        verifyErrorBox(m_shown, QDir::toNativeSeparators(m_folders->dataFolder()));
    else
        QVERIFY(m_shown.isEmpty());
    QVERIFY(!m_account.isLoaded());
    QVERIFY(!QFileInfo::exists(m_folders->dataFolder()));
}

void TestSettingsDialogs::serverLoad_data() {
    QTest::addColumn<int>("flag");
    QTest::addColumn<int>("state");
    QTest::newRow("0 clear") << 0 << int(Qt::Unchecked);
    QTest::newRow("1 ticked") << 1 << int(Qt::Checked);
    QTest::newRow("2 greyed") << 2 << int(Qt::PartiallyChecked);
    QTest::newRow("hand-edited 5 ticked") << 5 << int(Qt::Checked);
    QTest::newRow("hand-edited -1 ticked") << -1 << int(Qt::Checked);
}

void TestSettingsDialogs::serverLoad() {
    QFETCH(int, flag);
    QFETCH(int, state);
    m_inUse = {.smtpServer = QStringLiteral("smtp.example.jp"),
               .pop3Server = QStringLiteral("pop.example.jp"),
               .mailAddress = QStringLiteral("me@example.jp"),
               .apopFlag = qint16(flag)};
    ServerDialog* f = m_server.get();
    QVERIFY(f->isVisible());
    QVERIFY(f->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(f->windowTitle(), QStringLiteral("サーバー"));
    QCOMPARE(f->smtpEdit->text(), m_inUse.smtpServer);
    QCOMPARE(f->pop3Edit->text(), m_inUse.pop3Server);
    QCOMPARE(f->mailEdit->text(), m_inUse.mailAddress);
    QCOMPARE(int(f->apopBox->checkState()), state);
}

void TestSettingsDialogs::serverKeys_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("stillOpen");
    QTest::addColumn<bool>("saved");
    QTest::newRow("Enter in a box does nothing")
        << "mailEdit" << int(Qt::Key_Return) << true << false;
    QTest::newRow("Enter on the check box does nothing")
        << "apopBox" << int(Qt::Key_Enter) << true << false;
    QTest::newRow("Esc cancels") << "pop3Edit" << int(Qt::Key_Escape) << false << false;
    QTest::newRow("Enter on a focused 設定 presses it")
        << "saveButton" << int(Qt::Key_Return) << false << true;
}

void TestSettingsDialogs::serverKeys() {
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(bool, stillOpen);
    QFETCH(bool, saved);
    ServerDialog* f = m_server.get();
    f->pop3Edit->setText(QStringLiteral("pop.example.jp"));
    QWidget* w = f->findChild<QWidget*>(target);
    QVERIFY(w);
    w->setFocus();
    QTest::keyClick(w, Qt::Key(key));
    QCOMPARE(m_server.isLoaded(), stillOpen);
    QCOMPARE(QFile::exists(m_folders->workFile("vbmail.ini")), saved);
    QCOMPARE(m_inUse.pop3Server, saved ? QStringLiteral("pop.example.jp") : QString());
}

void TestSettingsDialogs::serverSave_data() {
    QTest::addColumn<int>("flagBefore");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("boxState"); // -1: left alone
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("all empty") << 0 << QStringList{"", "", ""} << -1
                               << QByteArray("SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n");
    QTest::newRow("APOP ticked") << 0
                                 << QStringList{"smtp.example.jp", "pop.example.jp",
                                                QStringLiteral("山田@example.jp")}
                                 << int(Qt::Checked)
                                 << "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=" +
                                        sjis(QStringLiteral("山田")) + "@example.jp\r\nAPOP=1\r\n";
    QTest::newRow("greyed box left alone")
        << 2 << QStringList{"s", "p", "m"} << -1
        << QByteArray("SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=2\r\n");
    QTest::newRow("hand-edited 9 saved as ticked")
        << 9 << QStringList{"s", "p", "m"} << -1
        << QByteArray("SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=1\r\n");
}

void TestSettingsDialogs::serverSave() {
    QFETCH(int, flagBefore);
    QFETCH(QStringList, fields);
    QFETCH(int, boxState);
    QFETCH(QByteArray, file);
    m_inUse.apopFlag = qint16(flagBefore);
    ServerDialog* f = m_server.get();
    f->smtpEdit->setText(fields[0]);
    f->pop3Edit->setText(fields[1]);
    f->mailEdit->setText(fields[2]);
    if (boxState >= 0)
        f->apopBox->setCheckState(Qt::CheckState(boxState));
    QTest::mouseClick(f->saveButton, Qt::LeftButton);
    QVERIFY(m_shown.isEmpty());
    QVERIFY(!m_server.isLoaded());
    QCOMPARE(TestFolders::read(m_folders->workFile("vbmail.ini")), file);
    QCOMPARE(m_inUse.smtpServer, fields[0]);
    QCOMPARE(m_inUse.pop3Server, fields[1]);
    QCOMPARE(m_inUse.mailAddress, fields[2]);
}

void TestSettingsDialogs::serverGreyedBoxLeavesGrey() {
    m_inUse.apopFlag = 2;
    ServerDialog* f = m_server.get();
    QList<Qt::CheckState> states;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(f->apopBox, Qt::LeftButton, {}, QPoint(6, f->apopBox->height() / 2));
        states.append(f->apopBox->checkState());
    }
    QCOMPARE(states, (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked}));
}

void TestSettingsDialogs::serverUnencodable() {
    ServerDialog* f = m_server.get();
    f->smtpEdit->setText(QStringLiteral("smtp.example.jp"));
    f->pop3Edit->setText(QStringLiteral("pop🐶.example.jp"));
    f->mailEdit->setText(QStringLiteral("me©example.jp"));
    QTest::mouseClick(f->saveButton, Qt::LeftButton);
    verifyErrorBox(m_shown, QStringLiteral("「POP3サーバー名」"));
    QVERIFY(m_shown[0].text.contains(QStringLiteral("「メールアドレス」")));
    QVERIFY(!m_shown[0].text.contains(QStringLiteral("SMTP")));
    QVERIFY(m_server.isLoaded());
    QVERIFY(!QFile::exists(m_folders->workFile("vbmail.ini")));
    QCOMPARE(m_inUse, ServerSettings());
}

void TestSettingsDialogs::serverUnwritable() {
    SKIP_WITHOUT_FULL_DISK();
    const QByteArray before("SMTP=a\r\nPOP3=b\r\nMAIL=c\r\nAPOP=0\r\n");
    TestFolders::write(m_folders->workFile("vbmail.ini"), before);
    ServerDialog* f = m_server.get();
    f->pop3Edit->setText(QStringLiteral("pop.example.jp"));
    {
        FullDisk full;
        QTest::mouseClick(f->saveButton, Qt::LeftButton);
    }
    verifyErrorBox(m_shown, m_folders->workFile("vbmail.ini"));
    QVERIFY(m_server.isLoaded());
    QCOMPARE(f->pop3Edit->text(), QStringLiteral("pop.example.jp"));
    QCOMPARE(TestFolders::read(m_folders->workFile("vbmail.ini")), before);
}

void TestSettingsDialogs::serverAfterFailedSave_data() {
    QTest::addColumn<QString>("then"); // how the dialog is left after the failed 設定
    QTest::addColumn<bool>("newInUse");
    QTest::newRow("中止") << "cancel" << false;
    QTest::newRow("Esc") << "escape" << false;
    QTest::newRow("close box") << "close" << false;
    QTest::newRow("設定 again once it can be saved") << "save" << true;
}

void TestSettingsDialogs::serverAfterFailedSave() {
    SKIP_WITHOUT_FULL_DISK();
    QFETCH(QString, then);
    QFETCH(bool, newInUse);
    const QString path = m_folders->workFile("vbmail.ini");
    const QByteArray before("SMTP=old-smtp\r\nPOP3=old-pop3\r\nMAIL=old-mail\r\nAPOP=0\r\n");
    TestFolders::write(path, before);
    loadServerSettings(m_inUse);
    const QStringList oldValues{"old-smtp", "old-pop3", "old-mail", "0"};
    const QStringList newValues{"new-smtp", "new-pop3", "new-mail", "1"};
    auto inUse = [this] {
        return QStringList{m_inUse.smtpServer, m_inUse.pop3Server, m_inUse.mailAddress,
                           QString::number(m_inUse.apopFlag)};
    };

    ServerDialog* f = m_server.get();
    f->smtpEdit->setText(newValues[0]);
    f->pop3Edit->setText(newValues[1]);
    f->mailEdit->setText(newValues[2]);
    f->apopBox->setChecked(true);
    {
        FullDisk full;
        QTest::mouseClick(f->saveButton, Qt::LeftButton);
    }
    verifyErrorBox(m_shown, path);
    QVERIFY(m_server.isLoaded());
    QCOMPARE(inUse(), oldValues);

    if (then == "cancel")
        QTest::mouseClick(f->cancelButton, Qt::LeftButton);
    else if (then == "escape")
        QTest::keyClick(f->pop3Edit, Qt::Key_Escape);
    else if (then == "close")
        f->close();
    else
        QTest::mouseClick(f->saveButton, Qt::LeftButton);
    QVERIFY(!m_server.isLoaded());
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(inUse(), newInUse ? newValues : oldValues);
    QCOMPARE(TestFolders::read(path),
             newInUse ? QByteArray("SMTP=new-smtp\r\nPOP3=new-pop3\r\nMAIL=new-mail\r\nAPOP=1\r\n")
                      : before);
    // The dialog opens again with the values in use.
    QCOMPARE(m_server->pop3Edit->text(), inUse()[1]);
}

void TestSettingsDialogs::settingsLoad_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("1") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n") << true;
    QTest::newRow("0") << QByteArray("[EXEINI]\r\nNUMBER=0\r\n") << false;
    QTest::newRow("2 leaves it as designed") << QByteArray("[EXEINI]\r\nNUMBER=2\r\n") << false;
}

void TestSettingsDialogs::settingsLoad() {
    QFETCH(QByteArray, file);
    QFETCH(bool, ticked);
    if (!file.isEmpty())
        TestFolders::write(m_folders->dataFile("ini.ini"), file);
    SettingsDialog* f = m_settings.get();
    QVERIFY(!f->isVisible());
    QCOMPARE(f->windowTitle(), QStringLiteral("設定"));
    QCOMPARE(f->hangUpBox->isChecked(), ticked);
}

void TestSettingsDialogs::hangUpAfterCheck_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("1") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n");
    QTest::newRow("0") << QByteArray("[EXEINI]\r\nNUMBER=0\r\n");
    QTest::newRow("2") << QByteArray("[EXEINI]\r\nNUMBER=2\r\n");
}

// The check reads the flag without loading the dialog, and gets what a load would show; once the
// dialog is loaded, its box counts, whatever the file says.
void TestSettingsDialogs::hangUpAfterCheck() {
    QFETCH(QByteArray, file);
    if (!file.isEmpty())
        TestFolders::write(m_folders->dataFile("ini.ini"), file);
    const bool unloaded = SettingsDialog::hangsUpAfterCheck(m_settings.loaded());
    QVERIFY(!m_settings.isLoaded());
    SettingsDialog* f = m_settings.get();
    QCOMPARE(unloaded, f->hangUpBox->isChecked());
    f->hangUpBox->setChecked(!unloaded);
    QCOMPARE(SettingsDialog::hangsUpAfterCheck(m_settings.loaded()), !unloaded);
}

void TestSettingsDialogs::hangUpFlagAtStartUp_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    QTest::newRow("missing clears") << QByteArray() << true << false;
    QTest::newRow("1 ticks") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n") << false << true;
    QTest::newRow("0 clears") << QByteArray("[EXEINI]\r\nNUMBER=0\r\n") << true << false;
    QTest::newRow("2 keeps ticked") << QByteArray("[EXEINI]\r\nNUMBER=2\r\n") << true << true;
    QTest::newRow("2 keeps clear") << QByteArray("[EXEINI]\r\nNUMBER=2\r\n") << false << false;
}

void TestSettingsDialogs::hangUpFlagAtStartUp() {
    QFETCH(QByteArray, file);
    QFETCH(bool, before);
    QFETCH(bool, after);
    if (!file.isEmpty())
        TestFolders::write(m_folders->dataFile("ini.ini"), file);
    QCOMPARE(hangUpTickedAfterRead(before), after);
}

void TestSettingsDialogs::settingsUnloadStores_data() {
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("ticked") << true << QByteArray("[EXEINI]\r\nNUMBER=1\r\n");
    QTest::newRow("clear") << false << QByteArray("[EXEINI]\r\nNUMBER=0\r\n");
}

void TestSettingsDialogs::settingsUnloadStores() {
    QFETCH(bool, ticked);
    QFETCH(QByteArray, file);
    TestFolders::write(m_folders->dataFile("ini.ini"), "[EXEINI]\r\nNUMBER=2\r\n");
    SettingsDialog* f = m_settings.get();
    f->showOrRaise();
    f->hangUpBox->setChecked(ticked);
    QVERIFY(!f->close()); // the close box: the window unloads itself
    QVERIFY(!m_settings.isLoaded());
    QCOMPARE(TestFolders::read(m_folders->dataFile("ini.ini")), file);
    QVERIFY(m_shown.isEmpty());
}

void TestSettingsDialogs::settingsUnloadWithoutDataFolder() {
    useFolders(false);
    SettingsDialog* f = m_settings.get();
    f->hangUpBox->setChecked(true);
    QVERIFY(f->unload());
    QVERIFY(m_shown.isEmpty());
    QVERIFY(!QFileInfo::exists(m_folders->dataFolder()));
    QCOMPARE(m_settings->hangUpBox->isChecked(), false);
}

void TestSettingsDialogs::settingsUnloadUnwritable() {
    SKIP_WITHOUT_FULL_DISK();
    const QByteArray before("[EXEINI]\r\nNUMBER=0\r\n");
    TestFolders::write(m_folders->dataFile("ini.ini"), before);
    SettingsDialog* f = m_settings.get();
    f->hangUpBox->setChecked(true);
    {
        FullDisk full;
        QVERIFY(f->unload());
    }
    verifyErrorBox(m_shown, m_folders->dataFile("ini.ini"));
    QVERIFY(!m_settings.isLoaded());
    QCOMPARE(TestFolders::read(m_folders->dataFile("ini.ini")), before);
}

void TestSettingsDialogs::settingsOpensBothDialogs() {
    TestFolders::write(m_folders->dataFile("iniIdPass.ini"), "[EXEINI]\r\nNAME=stored\r\n");
    SettingsDialog* f = m_settings.get();
    f->showOrRaise();
    QTest::mouseClick(f->accountButton, Qt::LeftButton);
    QTest::mouseClick(f->serverButton, Qt::LeftButton);
    QVERIFY(m_account->isVisible());
    QCOMPARE(m_account->idEdit->text(), QStringLiteral("stored"));
    QVERIFY(m_server->isVisible());
    QVERIFY(f->isVisible());

    // A second press keeps what was typed: the dialog is not loaded again.
    m_account->idEdit->setText(QStringLiteral("typed"));
    QTest::mouseClick(f->accountButton, Qt::LeftButton);
    QCOMPARE(m_account->idEdit->text(), QStringLiteral("typed"));
}

void TestSettingsDialogs::settingsAutomaticCheck_data() {
    QTest::addColumn<QByteArray>("before"); // ini.ini
    QTest::addColumn<int>("shown");         // the box at load
    QTest::addColumn<int>("set");           // what the user sets
    QTest::addColumn<QByteArray>("after");  // ini.ini after the unload
    QTest::newRow("turned on") << QByteArray("[EXEINI]\r\nNUMBER=1\r\n") << 0 << 15
                               << QByteArray("[EXEINI]\r\nNUMBER=1\r\nINTERVAL=15\r\n");
    QTest::newRow("changed") << QByteArray("[EXEINI]\r\nINTERVAL=5\r\nNUMBER=0\r\n") << 5 << 60
                             << QByteArray("[EXEINI]\r\nINTERVAL=60\r\nNUMBER=0\r\n");
    QTest::newRow("turned off") << QByteArray("[EXEINI]\r\nNUMBER=0\r\nINTERVAL=5\r\n") << 5 << 0
                                << QByteArray("[EXEINI]\r\nNUMBER=0\r\nINTERVAL=0\r\n");
    // Left as it was: a hand-edited value stays in the file, and still counts as off.
    QTest::newRow("nonsense left alone")
        << QByteArray("[EXEINI]\r\nNUMBER=0\r\nINTERVAL=often\r\n") << 0 << 0
        << QByteArray("[EXEINI]\r\nNUMBER=0\r\nINTERVAL=often\r\n");
}

// The interval takes effect as the box changes, and the unload stores it beside NUMBER.
void TestSettingsDialogs::settingsAutomaticCheck() {
    QFETCH(QByteArray, before);
    QFETCH(int, shown);
    QFETCH(int, set);
    QFETCH(QByteArray, after);
    TestFolders::write(m_folders->dataFile("ini.ini"), before);
    QList<int> told;
    m_intervalHeard = [&told](int minutes) { told << minutes; };
    const auto forget = qScopeGuard([this] { m_intervalHeard = {}; });
    SettingsDialog* f = m_settings.get();
    QCOMPARE(f->intervalBox->value(), shown);
    QCOMPARE(f->intervalBox->minimum(), 0);
    QCOMPARE(f->intervalBox->maximum(), 1440);
    f->showOrRaise();
    f->intervalBox->setValue(set);
    QList<int> expected;
    if (shown != 0)
        expected << shown;
    if (set != shown)
        expected << set;
    QCOMPARE(told, expected);
    QVERIFY(!f->close());
    QCOMPARE(TestFolders::read(m_folders->dataFile("ini.ini")), after);
    QVERIFY(m_shown.isEmpty());
}

void TestSettingsDialogs::settingsStartAtLogin() {
#ifdef Q_OS_WIN
    QSKIP("the autostart entry of Linux desktops");
#endif
    const QString entry = m_config.path() + QStringLiteral("/autostart/mokopon.desktop");
    SettingsDialog* f = m_settings.get();
    QVERIFY(!f->startAtLoginBox->isChecked());
    f->startAtLoginBox->setChecked(true);
    QVERIFY2(!QFileInfo::exists(entry), "written before the dialog closed");
    QVERIFY(f->unload());
    const QByteArray written = TestFolders::read(entry);
    QVERIFY2(written.contains("Exec=\"" +
                              QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\n"),
             written.constData());
    QVERIFY(written.contains("Path=" + QFile::encodeName(QDir::currentPath()) + "\n"));
    f = m_settings.get();
    QVERIFY(f->startAtLoginBox->isChecked());
    f->startAtLoginBox->setChecked(false);
    QVERIFY(f->unload());
    QVERIFY(!QFileInfo::exists(entry));
    QVERIFY(m_shown.isEmpty());

    // An entry that cannot be written is said.
    QVERIFY(QDir().mkpath(entry));
    f = m_settings.get();
    QVERIFY(f->startAtLoginBox->isChecked() == false);
    QDir().rmdir(entry);
    QVERIFY(QDir().mkpath(m_config.path() + QStringLiteral("/autostart")));
    PLANT_OR_SKIP(QStringLiteral("fifo"), entry);
    f->startAtLoginBox->setChecked(true);
    QVERIFY(f->unload());
    QCOMPARE(m_shown.size(), 1);
    QVERIFY2(m_shown[0].text.contains(QStringLiteral("mokopon.desktop")),
             qPrintable(m_shown[0].text));
}

void TestSettingsDialogs::saveNeverGoesThroughLinks_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    for (const char* file : {"vbmail.ini", "iniIdPass.ini", "ini.ini"})
        for (const char* kind : {"link", "fifo"})
            QTest::addRow("%s %s", file, kind) << file << kind;
}

void TestSettingsDialogs::saveNeverGoesThroughLinks() {
    QFETCH(QString, file);
    QFETCH(QString, kind);
    const QString path =
        file == "vbmail.ini" ? m_folders->workFile(file) : m_folders->dataFile(file);
    // A file the user could not otherwise write to stands in for a system file.
    const QString target = m_folders->workFile("target");
    const QByteArray targetBytes("[EXEINI]\r\nNUMBER=0\r\nSMTP=x\r\n");
    TestFolders::write(target, targetBytes);
    const QFileDevice::Permissions targetPermissions = QFileInfo(target).permissions();
    PLANT_OR_SKIP(kind, path, target);

    ::alarm(20); // a save that blocks ends the run here rather than at the test's time-out
    if (file == "vbmail.ini") {
        ServerDialog* f = m_server.get();
        f->pop3Edit->setText(QStringLiteral("pop.example.jp"));
        QTest::mouseClick(f->saveButton, Qt::LeftButton);
        QVERIFY(m_server.isLoaded());
    } else if (file == "iniIdPass.ini") {
        AccountDialog* f = m_account.get();
        f->idEdit->setText(QStringLiteral("user"));
        f->passwordEdit->setText(QStringLiteral("secret"));
        f->saveBox->setChecked(true);
        QTest::mouseClick(f->okButton, Qt::LeftButton);
        QVERIFY(m_account.isLoaded());
    } else {
        SettingsDialog* f = m_settings.get();
        f->hangUpBox->setChecked(true);
        QVERIFY(f->unload());
    }
    ::alarm(0);

    verifyErrorBox(m_shown, path);
    QCOMPARE(TestFolders::read(target), targetBytes);
    QCOMPARE(QFileInfo(target).permissions(), targetPermissions);
#ifndef Q_OS_WIN
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(kind == "link" ? S_ISLNK(st.st_mode) : S_ISFIFO(st.st_mode));
#endif
    // No temporary file is left beside it.
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const bool inWork = file == "vbmail.ini";
    QCOMPARE(QDir(m_folders->dataFolder()).entryList(all),
             inWork ? QStringList() : QStringList{file});
    QCOMPARE(QDir::current().entryList(all),
             (inWork ? QStringList{"target", "vbmail.ini"} : QStringList{"target"}));
}

void TestSettingsDialogs::screenshots() {
    const QString dir = qEnvironmentVariable("SETTINGS_SHOTS_DIR");
    if (dir.isEmpty())
        QSKIP("set SETTINGS_SHOTS_DIR to write the dialogs' pictures");
    QDir().mkpath(dir);
    TestFolders::write(m_folders->dataFile("iniIdPass.ini"),
                       "[EXEINI]\r\nNAME=" + sjis(QStringLiteral("山田太郎")) +
                           "\r\nNAME2=secret\r\n");
    TestFolders::write(m_folders->dataFile("ini.ini"), "[EXEINI]\r\nNUMBER=1\r\n");
    m_inUse = {.smtpServer = QStringLiteral("smtp.example.jp"),
               .pop3Server = QStringLiteral("pop.example.jp"),
               .mailAddress = QStringLiteral("taro@example.jp"),
               .apopFlag = 1};
    QList<QPair<QString, QWidget*>> windows{{"AccountDialog", m_account.get()},
                                            {"ServerDialog", m_server.get()},
                                            {"SettingsDialog", m_settings.get()}};
    for (const auto& [name, window] : windows) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(window->grab().save(dir + u'/' + name + ".png"));
#ifdef Q_OS_WIN
        // Wine's prefix has no Japanese font, so the captions are measured in a stand-in.
        continue;
#endif
        // Every caption is drawn whole: the ink of its text lies inside its box.
        for (QLabel* label : window->findChildren<QLabel*>()) {
            const QString text = QString(label->text()).remove(u'&');
            const QRect ink = label->fontMetrics().tightBoundingRect(text);
            QVERIFY2(ink.right() < label->width() && ink.height() <= label->height(),
                     qPrintable(name + ": " + text));
        }
    }
}

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
