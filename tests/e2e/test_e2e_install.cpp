// This build installed into a temporary prefix and packaged as a .deb, and the installed program
// started as an unprivileged user on a private X desktop: it keeps its files in that user's XDG
// folders, owner-only, and writes nothing beside its executable or in its working folder.

#include "E2e.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;

namespace {

constexpr uid_t kNobody = 65534;

// Runs a command to its end; its output, both channels, goes to out.
int run(const QString& program, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished(3000);
        return -1;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Every file and folder under root, as "relative path mode".
QStringList tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        entries << QStringLiteral("%1 %2")
                       .arg(QDir(root).relativeFilePath(path))
                       .arg(st.st_mode & 07777, 0, 8);
    }
    entries.sort();
    return entries;
}

struct Owner {
    uid_t uid = 0;
    mode_t mode = 0;
    bool operator==(const Owner&) const = default;
};
Owner ownerOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {uid_t(-1), 0};
    return {st.st_uid, mode_t(st.st_mode & 07777)};
}
char* toString(const Owner& o) {
    return QTest::toString(QStringLiteral("uid %1 mode %2").arg(o.uid).arg(o.mode, 0, 8));
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A folder of nobody's own (the user the installed program runs as).
bool makeOwnFolder(const QString& path) {
    return QDir().mkpath(path) &&
           ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
}

} // namespace

class TestE2eInstall : public QObject {
    Q_OBJECT
    Desktop d;
    QTemporaryDir root;
    QProcess* program = nullptr;
    QString prefix;
    QString package;
    QStringList packageFiles;

    // The installed files under prefix, as the package names them (./usr/...).
    QStringList installedFiles() const {
        QStringList files;
        for (const QString& entry : tree(prefix))
            if (QFileInfo(prefix + u'/' + entry.section(u' ', 0, 0)).isFile())
                files << QStringLiteral("./usr/") + entry.section(u' ', 0, 0);
        files.sort();
        return files;
    }

    // Starts the program at executable as nobody, with the given home and the settings folder
    // $XDG_CONFIG_HOME, and the data folder left to its default.
    QProcess* startAsNobody(const QString& executable, const QString& home) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/settings"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        program = d.launchCommand(
            QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=%1").arg(kNobody), QStringLiteral("--regid=%1").arg(kNobody),
             QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("env"),
             QStringLiteral("-u"), QStringLiteral("XDG_DATA_HOME"), executable},
            home + QStringLiteral("/work"), env);
        return program;
    }

  private slots:
    void initTestCase() {
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
        // nobody reaches the installed copies through the temporary folder.
        QVERIFY(QFile::setPermissions(
            root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                             QFileDevice::ReadOther | QFileDevice::ExeOther));
        prefix = root.path() + QStringLiteral("/usr");
        QString out;
        QVERIFY2(run(QStringLiteral("cmake"),
                     {QStringLiteral("--install"), QStringLiteral(MOKOPON_BUILD_DIR),
                      QStringLiteral("--prefix"), prefix},
                     &out) == 0,
                 qPrintable(out));
        const QString debs = root.path() + QStringLiteral("/deb");
        QVERIFY2(run(QStringLiteral("cpack"),
                     {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), debs,
                      QStringLiteral("--config"),
                      QStringLiteral(MOKOPON_BUILD_DIR "/CPackConfig.cmake")},
                     &out) == 0,
                 qPrintable(out));
        const QStringList found = QDir(debs).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(found.size(), 1);
        package = debs + u'/' + found.first();
        QVERIFY2(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), package}, &out) == 0,
                 qPrintable(out));
        qInfo("%s", qPrintable(out));
        for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
            if (line.startsWith(u'-'))
                packageFiles << line.section(u' ', -1);
        packageFiles.sort();
    }

    void cleanup() { endProgram(d, program); }

    void packageHoldsWhatTheInstallInstalls() { QCOMPARE(packageFiles, installedFiles()); }

    void packageHoldsTheProgramAndItsFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("the executable") << QStringLiteral("bin/mokopon");
        QTest::newRow("the sound output module") << QStringLiteral(MOKOPON_SOUND_MODULE_INSTALLED);
        QTest::newRow("the mail process") << QStringLiteral(MOKOPON_MAIL_PROCESS_INSTALLED);
        QTest::newRow("the bark") << QStringLiteral("share/mokopon/Sound/Kouka.wav");
        QTest::newRow("the home page") << QStringLiteral("share/mokopon/hp/index.html");
        QTest::newRow("the menu entry") << QStringLiteral("share/applications/mokopon.desktop");
        QTest::newRow("the icon every theme has")
            << QStringLiteral("share/icons/hicolor/48x48/apps/mokopon.png");
    }
    void packageHoldsTheProgramAndItsFiles() {
        QFETCH(QString, file);
        QVERIFY2(packageFiles.contains(QStringLiteral("./usr/") + file), qPrintable(file));
    }

    void packageDeclaresWhatItNeeds() {
        QString out;
        QCOMPARE(run(QStringLiteral("dpkg-deb"),
                     {QStringLiteral("-f"), package, QStringLiteral("Depends")}, &out),
                 0);
        // The libraries found by dpkg-shlibdeps (Qt Network for the mail process, the sound
        // server's client library and the WAV decoder for the sound module), and the platform
        // plugin Qt loads.
        for (const char* needed :
             {"libqt6widgets6", "libqt6network6", "libpulse0", "libsndfile1", "qt6-qpa-plugins"})
            QVERIFY2(out.contains(QLatin1String(needed)), qPrintable(out));
    }

    void menuEntryStartsTheProgramWithItsIcon() {
        const QString entry = prefix + QStringLiteral("/share/applications/mokopon.desktop");
        QString out;
        QVERIFY2(run(QStringLiteral("desktop-file-validate"), {entry}, &out) == 0, qPrintable(out));
        const QString text = QString::fromUtf8(fileBytes(entry));
        auto value = [&](const QString& key) {
            return QRegularExpression(
                       QStringLiteral("^%1=(.*)$").arg(QRegularExpression::escape(key)),
                       QRegularExpression::MultilineOption)
                .match(text)
                .captured(1);
        };
        QCOMPARE(value(QStringLiteral("Name[ja]")), QStringLiteral("モコポン"));
        QVERIFY(QFileInfo(prefix + QStringLiteral("/bin/") + value(QStringLiteral("Exec")))
                    .isExecutable());
        // Every size of the icon is the size its folder names.
        int sizes = 0;
        QDirIterator it(prefix + QStringLiteral("/share/icons/hicolor"),
                        {value(QStringLiteral("Icon")) + QStringLiteral(".png")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const int size = path.section(u'/', -3, -3).section(u'x', 0, 0).toInt();
            QCOMPARE(QImage(path).size(), QSize(size, size));
            ++sizes;
        }
        QVERIFY2(sizes >= 4, "too few icon sizes");
    }

    void installedCopyKeepsItsFilesInTheXdgFolders_data() {
        QTest::addColumn<QString>("copy");       // the executable's folder
        QTest::addColumn<QString>("everything"); // and the folder of all the copy's files
        QTest::newRow("installed under a prefix")
            << QStringLiteral("usr/bin") << QStringLiteral("usr");
        QTest::newRow("unpacked where its user cannot write")
            << QStringLiteral("unpacked") << QStringLiteral("unpacked");
    }
    void installedCopyKeepsItsFilesInTheXdgFolders() {
        if (::geteuid() != 0)
            QSKIP("starting the program as another user (nobody) needs root");
        QFETCH(QString, copy);
        QFETCH(QString, everything);
        const QString folder = root.path() + u'/' + copy;
        if (!QFileInfo::exists(folder))
            QCOMPARE(run(QStringLiteral("cp"), {QStringLiteral("-r"), d.programFolder(), folder}),
                     0);
        const QString home = root.path() + QStringLiteral("/home-") +
                             QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-');
        for (const char* sub : {"", "/work", "/runtime"})
            QVERIFY(makeOwnFolder(home + QLatin1String(sub)));
        QVERIFY(QFile::setPermissions(home + QStringLiteral("/runtime"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner));
        const QStringList copyBefore = tree(root.path() + u'/' + everything);
        const QString data = home + QStringLiteral("/.local/share/mokopon/★MailData");
        const QString settings = home + QStringLiteral("/settings/mokopon");

        startAsNobody(folder + QStringLiteral("/mokopon"), home);
        const QString server = d.waitForWindow(kServerTitle);
        QVERIFY2(!server.isEmpty(), "the server dialog did not open");
        d.saveScreenshot(shotPath(QStringLiteral("install-first-start-%1.png").arg(everything)));
        // The folders are there from the start, each readable by nobody alone.
        for (const QString& made :
             {home + QStringLiteral("/.local"), home + QStringLiteral("/.local/share"),
              home + QStringLiteral("/.local/share/mokopon"), data,
              home + QStringLiteral("/settings"), settings})
            QCOMPARE(ownerOf(made), (Owner{kNobody, 0700}));

        // The server, typed into the POP3 box and saved with 設定.
        d.activate(server);
        QThread::msleep(150);
        d.key(QStringLiteral("alt+p"));
        d.typeKeys(QStringLiteral("pop.example.org"));
        clickControl(d, server, 660, 2520, 972, 372);
        QVERIFY2(d.waitGone(kServerTitle), "設定 did not close the server dialog");
        QVERIFY(fileBytes(settings + QStringLiteral("/vbmail.ini"))
                    .startsWith("SMTP=\r\nPOP3=pop.example.org\r\n"));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(ownerOf(settings + QStringLiteral("/vbmail.ini")),
                 (Owner{kNobody, mode_t(0666 & ~mask)}));

        // The account, saved: the file with the password is nobody's alone.
        const QString account = d.waitForWindow(kAccountTitle);
        QVERIFY2(!account.isEmpty(), "the account dialog did not open");
        fillAccount(d, account, QStringLiteral("taro"), QStringLiteral("secret"));
        d.key(QStringLiteral("Return"));
        QVERIFY2(d.waitGone(kAccountTitle), "Enter did not close the account dialog");
        QCOMPARE(fileBytes(data + QStringLiteral("/iniIdPass.ini")),
                 QByteArray("[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n"));
        QCOMPARE(ownerOf(data + QStringLiteral("/iniIdPass.ini")), (Owner{kNobody, 0600}));
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());

        // The next start reads both back and asks nothing. Its server is a listener of the test's
        // own, so that a check shows the copy finds its mail process.
        endProgram(d, program);
        QTcpServer pop3;
        QVERIFY(pop3.listen(QHostAddress::LocalHost));
        QFile ini(settings + QStringLiteral("/vbmail.ini"));
        QVERIFY(ini.open(QIODevice::ReadWrite));
        const QByteArray local = "127.0.0.1:" + QByteArray::number(pop3.serverPort());
        const QByteArray text = ini.readAll().replace("pop.example.org", local);
        QVERIFY(ini.seek(0) && ini.write(text) == text.size() && ini.resize(text.size()));
        ini.close();
        startAsNobody(folder + QStringLiteral("/mokopon"), home);
        const QString character = d.waitForWindow(kCharacterTitle);
        QVERIFY(!character.isEmpty());
        QVERIFY(!waitUntil(
            [&] {
                return !d.findWindows(kServerTitle).isEmpty() ||
                       !d.findWindows(kAccountTitle).isEmpty();
            },
            1000));
        const QString panel = openPanel(d, character);
        QVERIFY(!panel.isEmpty());
        d.click(d.info(panel).geometry.topLeft() + panelButton(PanelButton::Check));
        QVERIFY2(pop3.waitForNewConnection(20000), "the check reached no server");

        // Nothing beside the executable, nothing in the working folder.
        QCOMPARE(tree(root.path() + u'/' + everything), copyBefore);
        QCOMPARE(tree(home + QStringLiteral("/work")), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestE2eInstall)
#include "test_e2e_install.moc"
