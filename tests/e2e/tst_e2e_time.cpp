#include "E2eSupport.h"
#include "support/VirtualDisplay.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The flat colours of our time pictures: the pond's water, the sunset behind
// "time to finish" and the night sky of "time is up".
constexpr QRgb Water = 0xff2e9be6;
constexpr QRgb Sunset = 0xffffb347;
constexpr QRgb Night = 0xff1d2b53;
constexpr int ToolbarHeight = 52;

} // namespace

// The real program under a clock that runs thirty times as fast (the wall
// clock and the monotonic one both), on a virtual X server: a 15-minute limit
// shows the pond in the toolbar draining at 10, 5 and 1 minutes left, the
// "time to finish" picture, and at the end the "time is up" picture, each
// seen in what the X server shows. With TADPOLE_SCREENSHOTS set to a folder,
// the three are kept there as PNG files.
class tst_E2eTime : public QObject {
    Q_OBJECT

    VirtualDisplay m_screen;
    Display *m_x = nullptr;
    e2e::PortalProcess m_portal;
    QProcess m_browser;

    static QString run(const QString &program, const QStringList &arguments)
    {
        QProcess tool;
        tool.start(program, arguments);
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }
    static Window mainWindow()
    {
        return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                               QStringLiteral("^Tadpole 2.0$")}).section(QLatin1Char('\n'), 0, 0).toULong();
    }
    // What the X server shows of the window.
    QImage grab(Window window) const
    {
        XWindowAttributes attributes;
        if (!window || !XGetWindowAttributes(m_x, window, &attributes) || attributes.map_state != IsViewable)
            return {};
        XImage *image = XGetImage(m_x, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage copy = QImage(reinterpret_cast<const uchar *>(image->data), image->width, image->height, image->bytes_per_line,
                             QImage::Format_RGB32).copy();
        XDestroyImage(image);
        return copy;
    }
    static int count(const QImage &image, QRgb colour, int top, int bottom)
    {
        int found = 0;
        for (int y = top; y < std::min(bottom, image.height()); ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                found += (line[x] | 0xff000000) == colour;
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        if (m_screen.name().isEmpty())
            QSKIP("Xvfb could not be started");
        if (QStandardPaths::findExecutable(QStringLiteral("faketime")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("faketime and xdotool are needed: scripts/setup-debian.sh installs them");
        qputenv("DISPLAY", m_screen.name());
        QVERIFY(m_portal.start());
        QVERIFY(m_x = XOpenDisplay(m_screen.name().constData()));
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    }
    void cleanupTestCase()
    {
        m_browser.kill();
        m_browser.waitForFinished(5000);
        if (m_x)
            XCloseDisplay(m_x);
    }

    void warningsAndTheTimeIsUpPictureAppear()
    {
        e2e::ProgramFolder folder(m_portal.host());
        QVERIFY(folder.write(QStringLiteral("control.ini"), "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        m_browser.setProcessEnvironment(env);
        m_browser.start(QStringLiteral("faketime"), {QStringLiteral("-f"), QStringLiteral("+0 x30"), folder.path(QStringLiteral("tadpole")),
                                                      QStringLiteral("1")});
        QVERIFY(m_browser.waitForStarted());
        Window window = 0;
        QVERIFY(e2e::waitFor([&] { return (window = mainWindow()) != 0; }, 60000));

        const QString shots = qEnvironmentVariable("TADPOLE_SCREENSHOTS");
        const auto keep = [&](const QImage &image, const char *name) {
            if (!shots.isEmpty())
                QVERIFY(image.scaledToWidth(800, Qt::SmoothTransformation).save(QDir(shots).filePath(QLatin1String(name))));
        };
        // Water levels in the toolbar as they are first seen, the pictures in the order they come.
        QList<int> levels;
        QStringList seen;
        QImage lastPond;
        const bool ended = e2e::waitFor([&] {
            const QImage image = grab(window);
            if (image.isNull())
                return false;
            const int water = count(image, Water, 0, ToolbarHeight);
            if (water > 0 && (levels.isEmpty() || water < levels.last())) {
                levels << water;
                lastPond = image;
            }
            const int below = image.height() - ToolbarHeight;
            if (count(image, Sunset, ToolbarHeight, image.height()) > below / 4 && !seen.contains("time to finish")) {
                seen << "time to finish";
                keep(image, "time-to-finish.png");
            }
            if (count(image, Night, ToolbarHeight, image.height()) > below / 4) {
                seen << "time is up";
                keep(image, "time-is-up.png");
                return true;
            }
            if (levels.size() == 2 && seen.isEmpty() && !shots.isEmpty() && !QFile::exists(QDir(shots).filePath("countdown.png")))
                keep(image, "countdown.png");
            return false;
        }, 120000);
        QVERIFY2(ended, qPrintable(QStringLiteral("levels %1, seen %2").arg(levels.size()).arg(seen.join(", "))));
        // Full at 10 minutes, lower at 5, lower still at 1: three levels at least (the empty pond has no water).
        QVERIFY2(levels.size() >= 3, qPrintable(QString::number(levels.size())));
        QCOMPARE(seen, (QStringList{"time to finish", "time is up"}));
        QCOMPARE(m_browser.state(), QProcess::Running); // STOP is locked: the picture waits for a grown-up
    }
};

QTEST_GUILESS_MAIN(tst_E2eTime)
#include "tst_e2e_time.moc"
