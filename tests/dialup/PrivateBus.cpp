#include "PrivateBus.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <csignal>

#include <sys/prctl.h>

PrivateBus::PrivateBus() {
    QDir(m_dir.path()).mkpath(QStringLiteral("services"));
}

PrivateBus::~PrivateBus() {
    stop();
}

void PrivateBus::stop() {
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000))
            m_daemon.kill();
        m_daemon.waitForFinished(1000);
    }
}

bool PrivateBus::restart() {
    const QString address = m_address;
    stop();
    QFile::remove(m_dir.filePath(QStringLiteral("bus")));
    if (!start())
        return false;
    if (m_address != address) {
        m_error = QStringLiteral("address changed to ") + m_address;
        return false;
    }
    return true;
}

bool PrivateBus::start() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon not found (package dbus)");
        return false;
    }
    if (!m_dir.isValid() || !QDir(serviceDir()).exists()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = config.errorString();
        return false;
    }
    config.write(QStringLiteral(
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:path=%1</listen>\n"
                     "  <servicedir>%2</servicedir>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n")
                     .arg(m_dir.filePath(QStringLiteral("bus")), serviceDir())
                     .toUtf8());
    config.close();

    m_daemon.setProgram(daemon);
    m_daemon.setArguments({QStringLiteral("--config-file=") + config.fileName(),
                           QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    // A test that crashes must not leave its daemon behind.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) {
        m_error = m_daemon.errorString();
        return false;
    }
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(5000)) {
            m_error = QStringLiteral("dbus-daemon printed no address: ") +
                      QString::fromLocal8Bit(m_daemon.readAllStandardError());
            return false;
        }
    }
    // Without the daemon's guid, the address stays valid for a restarted daemon.
    m_address =
        QString::fromUtf8(m_daemon.readLine()).trimmed().section(QStringLiteral(",guid="), 0, 0);
    return !m_address.isEmpty();
}
