// The desktop puppy that checks POP3 mail. This file wires the windows together and holds the
// program's start-up steps, in their order.

#include "AccountDialog.h"
#include "AutoCheck.h"
#include "CharacterPlace.h"
#include "CheckMail.h"
#include "ControlPanel.h"
#include "DataFiles.h"
#include "KnownTlsServers.h"
#include "MailClient.h"
#include "MessageBoxes.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "StartupCharacter.h"
#include "Twips.h"
#include "WindowRegistry.h"
#include "WindowWiring.h"

#include <QApplication>
#include <QScreen>

namespace {

// The server settings in use: read at the start, replaced by the server dialog once it has saved
// them, read by every mail check.
ServerSettings& serversInUse() {
    static ServerSettings servers;
    return servers;
}

AutoCheck* automaticCheck = nullptr;

// First of all: one instance, the folders an installed copy keeps its files in, and what an
// earlier instance's crash left behind.
bool claimThisDesktop() {
    if (Program::anotherInstanceRunning())
        return false;
    // A folder that cannot be made shows when a save into it fails.
    ProgramFolders::createOwnFolders();
    // Only the instance that holds the lock may clean up: no save of another one is under way.
    removeSaveLeftovers();
    return true;
}

// Settings, the mail library, and on a first start the dialogs that ask for what is missing.
void afterCharacterPlaced() {
    loadServerSettings(serversInUse());

    // A mail process waiting on a server would hold the connection and the password after a
    // right click ends the program (where the system does not end it with the program).
    Program::setEndFirst([] { MailClient::stop(); });

    // With nothing to ask, the settings and account dialogs load when first used: their text
    // brings up the font database, which a dozing character never needs. The hang-up flag and the
    // account are read from their files until then.
    const bool complete = !serversInUse().pop3Server.isEmpty() &&
                          !readAccountValue(QStringLiteral("NAME")).isEmpty() &&
                          !readAccountValue(QStringLiteral("NAME2")).isEmpty();
    if (!complete) {
        // The hang-up flag lives in the settings dialog's check box: its load, hidden, reads it.
        win<SettingsDialog>();
        if (serversInUse().pop3Server.isEmpty())
            win<ServerDialog>()->showOrRaise();
        // The account dialog's load reads the stored account; it stays loaded, hidden when
        // complete.
        AccountDialog* account = win<AccountDialog>();
        if (!account->hasAccount())
            account->showOrRaise();
    }

    // Last: the automatic check, off unless the settings dialog turned it on.
    automaticCheck->setInterval(readCheckInterval());
    SettingsDialog::setIntervalListener([](int minutes) { automaticCheck->setInterval(minutes); });
    setManualCheckObserver([](bool running) { automaticCheck->manualCheck(running); });
}

// What an automatic check needs; nothing while the server or the account is not set, which the
// first start's dialogs ask for.
std::optional<AutoCheck::Request> automaticCheckRequest() {
    const ServerSettings& servers = serversInUse();
    if (servers.pop3Server.isEmpty())
        return std::nullopt;
    AutoCheck::Request request{servers.pop3Server, readAccountValue(QStringLiteral("NAME")),
                               readAccountValue(QStringLiteral("NAME2")), servers.apopFlag != 0};
    if (request.user.isEmpty() || request.password.isEmpty())
        return std::nullopt;
    return request;
}

// Where the character starts when the pointer's place is unknown: where it stood last time, or
// the middle of the primary screen.
QPointF rememberedPlace(QSizeF size) {
    if (const std::optional<QPoint> place = CharacterPlace::read(CharacterPlace::filePath()))
        return *place;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect g = screen ? screen->geometry() : QRect();
    const float perX = Twips::perPixelX();
    const float perY = Twips::perPixelY();
    return QPointF((g.x() + (g.width() - qRound(size.width() / perX)) / 2) * perX,
                   (g.y() + (g.height() - qRound(size.height() / perY)) / 2) * perY);
}

// Keeps the character's place for the next start whenever it may have moved: the program can end
// at once, with nothing saved on the way out.
void rememberPlaces(const StartupCharacter* character) {
    auto keep = [character] {
        static QPoint kept(INT_MIN, INT_MIN);
        const QPoint now(qRound(character->leftTwips()), qRound(character->topTwips()));
        if (now == kept)
            return;
        kept = now;
        CharacterPlace::write(CharacterPlace::filePath(), now);
    };
    QObject::connect(character, &CharacterWindow::ticked, character, keep);
    QObject::connect(character, &CharacterWindow::dragEnded, character, keep);
}

} // namespace

int main(int argc, char* argv[]) {
    // Wayland lets no client place its windows or read the pointer; run through XWayland there.
    // XWayland knows the pointer only over its own windows, so the character starts where it
    // stood last time.
    const bool waylandSession = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && waylandSession)
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("mokopon"));
    // The program ends on its own terms, never because a window closed.
    app.setQuitOnLastWindowClosed(false);

    ServerDialog::setSettingsInUse(&serversInUse());
    // The mail session of both checks, by hand and automatic.
    MailClient mail({.options = {{MailOptionReceiveBuffer, kMailReceiveBufferBytes}},
                     .tlsMemory = &knownTlsServers()});
    ControlPanel::setMailCheck([&mail] { checkMail(mail, serversInUse()); });
    connectWindows();
    AutoCheck autoCheck(automaticCheckRequest, dataFolderPath() + QStringLiteral("/seen-uidl.txt"),
                        mail);
    automaticCheck = &autoCheck;
    QObject::connect(&autoCheck, &AutoCheck::newMail, &autoCheck, reportMailCount);
    QObject::connect(&autoCheck, &AutoCheck::failed, &autoCheck,
                     [](const QString& text, int style) {
                         showMessageBox(text, style, QStringLiteral("エラー"));
                     });

    // The notice and the dialogs open in the middle of the monitor the character stands on.
    ProgramWindow::setCentredOn([] {
        const StartupCharacter* c = WindowRegistry::loaded<StartupCharacter>();
        return c ? c->monitorGeometry() : QRect();
    });
    StartupCharacter::setStartupSteps(
        {claimThisDesktop, afterCharacterPlaced, waylandSession ? rememberedPlace : nullptr});
    StartupCharacter* character = win<StartupCharacter>();
    if (waylandSession)
        rememberPlaces(character);
    QObject::connect(character, &StartupCharacter::doubleClicked, character,
                     [] { win<ControlPanel>()->showOrRaise(); });
    character->showOrRaise();
    return app.exec();
}
