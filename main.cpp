// The desktop puppy that checks POP3 mail.

#include "Form1.h"
#include "WindowRegistry.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Wayland lets no client place its windows or read the pointer; run through XWayland there.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("mokopon"));
    // The program ends on its own terms, never because a window closed.
    app.setQuitOnLastWindowClosed(false);

    win<Form1>()->Show();
    return app.exec();
}
