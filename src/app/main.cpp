#include "app/ProgramServices.h"
#include "browsing/MainWindow.h"
#include "shell/DisplayPlatform.h"
#include "shell/Identity.h"
#include "shell/SingleInstance.h"
#include "shell/StartupPaths.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

const char Usage[] = "Usage: tadpole [--verbose] [1 | 2]\n"
                     "A web browser for young children: each child sees a menu of sites a parent\n"
                     "has chosen, and nothing else.\n"
                     "\n"
                     "  (nothing)   ask the public portal\n"
                     "  1           ask the portal on this computer\n"
                     "  2           ask the portal on the local network\n"
                     "  --verbose   show the web engine's own messages too (or TADPOLE_VERBOSE=1)\n"
                     "  -h, --help  show this help and end\n"
                     "  --version   show the version and end\n";

// Help and version are answered before any window is made; an option the
// program does not know is an error, never a start of the locked window.
// Returns the exit code when the program ends here.
std::optional<int> answeredWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("tadpole %s\n", qPrintable(Identity::longVersion()));
            return 0;
        }
        if (arg == "--verbose")
            continue;
        if (arg.startsWith('-')) {
            std::fprintf(stderr, "tadpole: unknown option %s\n%s", arg.constData(), Usage);
            return 2;
        }
    }
    return std::nullopt;
}

// What the web engine says at every start (its set-up, the sandbox and the
// graphics it found) is for someone looking into a fault, not for a parent.
bool engineChatter(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return true;
    if (context.category && QByteArrayView(context.category).startsWith("qt.webengine"))
        return true;
    return type == QtWarningMsg
           && (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))
               || text.startsWith(QLatin1String("No suitable graphics backend found"))
               || text.startsWith(QLatin1String("WebEngineContext used before QtWebEngineCore::initialize()")));
}

QtMessageHandler qtDefaultHandler = nullptr;

// The portal's choice is the rest of the command line, as one text.
QStringList withoutVerbose(QStringList arguments)
{
    arguments.removeAll(QStringLiteral("--verbose"));
    return arguments;
}

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (engineChatter(type, context, text))
        return;
    if (qtDefaultHandler)
        qtDefaultHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

bool verbose(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (QByteArrayView(argv[i]) == "--verbose")
            return true;
    return qEnvironmentVariableIntValue("TADPOLE_VERBOSE") != 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> code = answeredWithoutWindow(argc, argv))
        return *code;
    const QByteArray platform = DisplayPlatform::preferred(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                                           qgetenv("WAYLAND_DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
    if (!verbose(argc, argv)) {
        qtDefaultHandler = qInstallMessageHandler(quietHandler);
        // The engine's own processes write their log lines straight to standard error
        // (a graphics context retried under Xvfb, say): only fatal ones, unless asked.
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--log-level"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3 " + flags);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tadpole"));
    const QString limits = DisplayPlatform::limitsOn(QGuiApplication::platformName());
    if (!limits.isEmpty())
        std::fprintf(stderr, "tadpole: %s\n", qPrintable(limits));

    // Before the web engine starts: a second copy of the program only hands over to the first.
    const QString defaultFolder = defaultAppFolder();
    const QString folder = AppFolderFor(QCoreApplication::applicationDirPath(), defaultFolder);
    SingleInstance instance(folder);
    switch (instance.start()) {
    case SingleInstance::Start::Claimed: break;
    case SingleInstance::Start::HandedOver:
        std::fprintf(stderr, "tadpole: Tadpole is already running for %s; its window came to the front.\n", qPrintable(folder));
        return 0;
    case SingleInstance::Start::NotAnswered:
        std::fprintf(stderr, "tadpole: Tadpole is already running for %s but does not answer; end it, then start Tadpole again.\n",
                     qPrintable(folder));
        return 1;
    }

    ProgramServices outside;
    // The text after the program's name: its arguments joined as one.
    MainWindow browser(outside.services(QCoreApplication::applicationDirPath(), defaultFolder,
                                        withoutVerbose(QCoreApplication::arguments().mid(1)).join(QLatin1Char(' '))));
    QObject::connect(&instance, &SingleInstance::comeForwardRequested, &browser, &MainWindow::comeForward);
    return app.exec();
}
