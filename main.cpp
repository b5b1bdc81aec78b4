// The desktop puppy that checks POP3 mail. This file holds the program's parts, made in one place,
// and its start-up steps, in their order.

#include "AccountDialog.h"
#include "AutoCheck.h"
#include "CharacterPlace.h"
#include "CheckMail.h"
#include "Companion.h"
#include "ControlPanel.h"
#include "DataFiles.h"
#include "KnownTlsServers.h"
#include "LazyWindow.h"
#include "MailClient.h"
#include "MessageBoxes.h"
#include "NewMailNotice.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "ProgramState.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "StartupCharacter.h"
#include "Twips.h"

#include <QApplication>
#include <QScreen>

namespace {

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

// The program's parts and how they reach each other. Every window but the startup character is
// made at its first use: the dialogs' text brings up the font database, which a dozing character
// never needs.
class Mokopon {
  public:
    Mokopon()
        : m_boxes([this] { return centredMonitor(); }),
          // The mail session of both checks, by hand and automatic; it starts a mail process
          // for each connection.
          m_mail({.options = {{MailOptionReceiveBuffer, kMailReceiveBufferBytes}},
                  .tlsMemory = &knownTlsServers()}),
          m_autoCheck([this] { return automaticCheckRequest(); },
                      dataFolderPath() + QStringLiteral("/seen-uidl.txt"), m_mail) {
        QObject::connect(&m_autoCheck, &AutoCheck::newMail, &m_autoCheck,
                         [this](qint32 count) { reportMailCount(count, checkWindows()); });
        QObject::connect(&m_autoCheck, &AutoCheck::failed, &m_autoCheck,
                         [this](const QString& text, bool couldNotConnect) {
                             // The boxes a check by hand shows for the same failures.
                             m_boxes.tell(text,
                                          couldNotConnect ? MessageBoxes::Icon::Critical
                                                          : MessageBoxes::Icon::NoIcon,
                                          QStringLiteral("エラー"));
                         });
    }

    // The startup character, loaded; placed at the pointer, or with rememberedStartPlace where it
    // stood last time. It shows once the start-up steps are done.
    StartupCharacter* placeCharacter(bool rememberedStartPlace) {
        StartupCharacter* character = m_character.get();
        if (rememberedStartPlace) {
            const QPointF at =
                rememberedPlace(QSizeF(character->widthTwips(), character->heightTwips()));
            character->moveToTwips(float(at.x()), float(at.y()));
            rememberPlaces(character);
        }
        QObject::connect(character, &StartupCharacter::doubleClicked, character,
                         [this] { m_panel->showOrRaise(); });
        return character;
    }

    void loadSettings() { loadServerSettings(m_servers); }

    // On a first start, the dialogs that ask for what is missing. With nothing to ask, the
    // settings and account dialogs load when first used; the hang-up flag and the account are
    // read from their files until then.
    void askForWhatIsMissing() {
        const bool complete = !m_servers.pop3Server.isEmpty() &&
                              !readAccountValue(QStringLiteral("NAME")).isEmpty() &&
                              !readAccountValue(QStringLiteral("NAME2")).isEmpty();
        if (complete)
            return;
        // The hang-up flag lives in the settings dialog's check box: its load, hidden, reads it.
        m_settings.get();
        if (m_servers.pop3Server.isEmpty())
            m_server->showOrRaise();
        // The account dialog's load reads the stored account; it stays loaded, hidden when
        // complete.
        AccountDialog* account = m_account.get();
        if (!account->hasAccount())
            account->showOrRaise();
    }

    // The automatic check, off unless the settings dialog turned it on; from now on the dialog's
    // interval box sets it.
    void startAutomaticCheck() {
        m_autoCheck.setInterval(readCheckInterval());
        m_automaticCheckStarted = true;
    }

  private:
    // The notice, the dialogs and the message boxes open in the middle of the monitor the
    // character stands on.
    QRect centredMonitor() const {
        const StartupCharacter* c = m_character.loaded();
        return c ? c->monitorGeometry() : QRect();
    }

    CharacterWindow::Surroundings characterSurroundings() {
        // A mail process waiting on a server would hold the connection and the password after a
        // right click ends the program (where the system does not end it with the program).
        return {m_boxes, [] {
                    MailClient::stop();
                    Program::endAtOnce();
                }};
    }

    Characters characters() {
        Characters c;
        c.place = [this] {
            const StartupCharacter* character = m_character.get();
            return Characters::Place{character->leftTwips(), character->topTwips()};
        };
        // Both at once: the panel pins the character twenty times a second, and each placement
        // asks the window system where the window is.
        c.pin = [this](Characters::Place place) {
            m_character->moveToTwips(place.left, place.top);
        };
        c.standIn = [this] { m_companion->standIn(); };
        // A companion that never stood in has nothing to leave.
        c.park = [this] {
            if (Companion* companion = m_companion.loaded())
                companion->park();
            else
                m_character->showOrRaise();
        };
        c.hearTick = [this](QObject* context, std::function<void()> heard) {
            QObject::connect(m_character.get(), &CharacterWindow::ticked, context,
                             std::move(heard));
        };
        return c;
    }

    CheckWindows checkWindows() {
        return CheckWindows{
            [this] { return m_notice.get(); },
            [this] { return m_panel.get(); },
            [this] { return m_account.get(); },
            [this] { return m_server.get(); },
            [this] { return SettingsDialog::hangsUpAfterCheck(m_settings.loaded()); },
            m_boxes,
            [this](bool running) { m_autoCheck.manualCheck(running); }};
    }

    // What an automatic check needs; nothing while the server or the account is not set, which
    // the first start's dialogs ask for.
    std::optional<AutoCheck::Request> automaticCheckRequest() const {
        if (m_servers.pop3Server.isEmpty())
            return std::nullopt;
        AutoCheck::Request request{m_servers.pop3Server, readAccountValue(QStringLiteral("NAME")),
                                   readAccountValue(QStringLiteral("NAME2")),
                                   m_servers.apopFlag != 0};
        if (request.user.isEmpty() || request.password.isEmpty())
            return std::nullopt;
        return request;
    }

    // The server settings in use: read at the start, replaced by the server dialog once it has
    // saved them, read by every mail check.
    ServerSettings m_servers;
    BarkMode m_barkMode;
    ModalMessageBoxes m_boxes;
    MailClient m_mail;
    AutoCheck m_autoCheck;
    bool m_automaticCheckStarted = false;

    LazyWindow<StartupCharacter> m_character{
        [this] { return new StartupCharacter(m_barkMode, characterSurroundings()); }};
    LazyWindow<Companion> m_companion{
        [this] { return new Companion(*m_character.get(), characterSurroundings()); }};
    LazyWindow<ControlPanel> m_panel{[this] {
        return new ControlPanel(characters(),
                                {[this] { checkMail(m_mail, m_servers, checkWindows()); },
                                 [this] { m_settings->showOrRaise(); }, m_boxes, m_barkMode});
    }};
    LazyWindow<NewMailNotice> m_notice{
        [this] { return new NewMailNotice(m_barkMode, [this] { return centredMonitor(); }); }};
    LazyWindow<SettingsDialog> m_settings{[this] {
        return new SettingsDialog({[this] { m_account->showOrRaise(); },
                                   [this] { m_server->showOrRaise(); },
                                   [this](int minutes) {
                                       if (m_automaticCheckStarted)
                                           m_autoCheck.setInterval(minutes);
                                   },
                                   m_boxes, [this] { return centredMonitor(); }});
    }};
    LazyWindow<ServerDialog> m_server{[this] {
        return new ServerDialog(m_servers, m_boxes, [this] { return centredMonitor(); });
    }};
    LazyWindow<AccountDialog> m_account{[this] { return new AccountDialog(m_boxes); }};
};

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

    // One instance for each user: a second one ends quietly.
    if (Program::anotherInstanceRunning())
        return 0;
    // The folders an installed copy keeps its files in; a folder that cannot be made shows when a
    // save into it fails.
    ProgramFolders::createOwnFolders();
    // What an earlier instance's crash left behind. Only the instance that holds the lock may
    // clean up: no save of another one is under way.
    removeSaveLeftovers();

    Mokopon mokopon;
    // The character is placed before the settings load; it shows last.
    StartupCharacter* character = mokopon.placeCharacter(waylandSession);
    mokopon.loadSettings();
    mokopon.askForWhatIsMissing();
    mokopon.startAutomaticCheck();
    character->showOrRaise();
    return app.exec();
}
