// The desktop puppy that checks POP3 mail. This file wires the windows together and holds the
// program's start-up steps, in their order.

#include "AccountDialog.h"
#include "AutoCheck.h"
#include "CheckMail.h"
#include "ControlPanel.h"
#include "DataFiles.h"
#include "KnownTlsServers.h"
#include "MsgBox.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "SharedSettings.h"
#include "StartupCharacter.h"
#include "WindowRegistry.h"
#include "nMail.h"

#include <QApplication>
#include <QLineEdit>

namespace {

AutoCheck* automaticCheck = nullptr;

// First of all: one instance, the folders an installed copy keeps its files in, and what an
// earlier instance's crash left behind.
bool claimThisDesktop() {
    if (Program::anotherInstanceRunning())
        return false;
    // A folder that cannot be made shows when a save into it fails.
    ProgramFolders::createOwnFolders();
    // Only the instance that holds the lock may clean up: no save of another one is under way.
    RemoveSaveLeftovers();
    return true;
}

// Settings, the mail library, and on a first start the dialogs that ask for what is missing.
void afterCharacterPlaced() {
    // The hang-up flag lives in the settings dialog's check box, which this loads hidden.
    ApplyHangUpFlagTo(win<SettingsDialog>()->Check1);
    LoadServerSettings();

    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
    NMailSetTlsServerMemory(&knownTlsServers());

    if (Pop3Server.isEmpty())
        win<ServerDialog>()->Show();
    AccountDialog* account = win<AccountDialog>();
    if (account->IdText->text().isEmpty() || account->PassText->text().isEmpty())
        account->Show();

    // Last: the automatic check, off unless the settings dialog turned it on.
    automaticCheck->setInterval(ReadCheckInterval());
    SettingsDialog::setIntervalListener([](int minutes) { automaticCheck->setInterval(minutes); });
    setManualCheckObserver([](bool running) { automaticCheck->manualCheck(running); });
}

// What an automatic check needs; nothing while the server or the account is not set, which the
// first start's dialogs ask for.
std::optional<AutoCheck::Request> automaticCheckRequest() {
    if (Pop3Server.isEmpty())
        return std::nullopt;
    AutoCheck::Request request{Pop3Server, ReadAccountValue(QStringLiteral("NAME")),
                               ReadAccountValue(QStringLiteral("NAME2")), ApopFlag != 0};
    if (request.user.isEmpty() || request.password.isEmpty())
        return std::nullopt;
    return request;
}

} // namespace

int main(int argc, char* argv[]) {
    // Wayland lets no client place its windows or read the pointer; run through XWayland there.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("mokopon"));
    // The program ends on its own terms, never because a window closed.
    app.setQuitOnLastWindowClosed(false);

    AutoCheck autoCheck(automaticCheckRequest, dataFolderPath() + QStringLiteral("/seen-uidl.txt"));
    automaticCheck = &autoCheck;
    QObject::connect(&autoCheck, &AutoCheck::newMail, &autoCheck, reportMailCount);
    QObject::connect(
        &autoCheck, &AutoCheck::failed, &autoCheck,
        [](const QString& text, int style) { MsgBox(text, style, QStringLiteral("エラー")); });

    // The notice and the dialogs open in the middle of the monitor the character stands on.
    ProgramWindow::setCentredOn([] {
        const StartupCharacter* c = WindowRegistry::loaded<StartupCharacter>();
        return c ? c->monitorGeometry() : QRect();
    });
    StartupCharacter::setStartupSteps({claimThisDesktop, afterCharacterPlaced});
    StartupCharacter* character = win<StartupCharacter>();
    QObject::connect(character, &StartupCharacter::doubleClicked, character,
                     [] { win<ControlPanel>()->Show(); });
    character->Show();
    return app.exec();
}
