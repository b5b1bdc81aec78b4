#pragma once
// The program's windows, made as the program makes them at their first use, with message boxes
// that the test answers and a program end that fails the test.

#include "../app/AnsweringBoxes.h"
#include "AccountDialog.h"
#include "CheckMail.h"
#include "Companion.h"
#include "ControlPanel.h"
#include "LazyWindow.h"
#include "MailSession.h"
#include "NewMailNotice.h"
#include "ProgramState.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "StartupCharacter.h"

struct TestWindows {
    // The real boxes, for a test that reads the box the user gets; the answering ones otherwise.
    MessageBoxes* boxes;
    AnsweringBoxes answering;
    ModalMessageBoxes modal{[] { return QRect(); }};
    BarkMode barkMode;
    // The servers and the mail session a check by 受信 uses.
    ServerSettings servers;
    MailSession* mail = nullptr;

    TestWindows() : boxes(&answering) {}

    CharacterWindow::Surroundings surroundings() {
        return {*boxes, [] { qFatal("the program ended"); }};
    }
    CheckWindows checkWindows() {
        return CheckWindows{[this] { return notice.get(); },
                            [this] { return panel.get(); },
                            [this] { return account.get(); },
                            [this] { return server.get(); },
                            [this] { return SettingsDialog::hangsUpAfterCheck(settings.loaded()); },
                            *boxes,
                            {}};
    }
    Characters characters() {
        Characters c;
        c.place = [this] {
            return Characters::Place{character->leftTwips(), character->topTwips()};
        };
        c.pin = [this](Characters::Place p) { character->moveToTwips(p.left, p.top); };
        c.standIn = [this] { companion->standIn(); };
        c.park = [this] {
            if (Companion* parked = companion.loaded())
                parked->park();
            else
                character->showOrRaise();
        };
        c.hearTick = [this](QObject* context, std::function<void()> heard) {
            QObject::connect(character.get(), &CharacterWindow::ticked, context, std::move(heard));
        };
        return c;
    }

    LazyWindow<StartupCharacter> character{
        [this] { return new StartupCharacter(barkMode, surroundings()); }};
    LazyWindow<Companion> companion{
        [this] { return new Companion(*character.get(), surroundings()); }};
    LazyWindow<ControlPanel> panel{[this] {
        return new ControlPanel(characters(),
                                {[this] {
                                     if (!mail)
                                         qFatal("受信 without a mail session");
                                     checkMail(*mail, servers, checkWindows());
                                 },
                                 [this] { settings->showOrRaise(); }, *boxes, barkMode});
    }};
    LazyWindow<NewMailNotice> notice{[this] { return new NewMailNotice(barkMode, {}); }};
    LazyWindow<SettingsDialog> settings{[this] {
        return new SettingsDialog({[this] { account->showOrRaise(); },
                                   [this] { server->showOrRaise(); },
                                   {},
                                   *boxes,
                                   {}});
    }};
    LazyWindow<ServerDialog> server{[this] { return new ServerDialog(servers, *boxes, {}); }};
    LazyWindow<AccountDialog> account{[this] { return new AccountDialog(*boxes); }};
};
