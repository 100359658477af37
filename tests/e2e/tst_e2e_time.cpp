#include "E2eSupport.h"
#include "support/VirtualDisplay.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// The real program under a clock twenty times as fast (wall and monotonic both)
// on a virtual X server: a 15-minute daily limit with 2 minutes used earlier
// today drains the toolbar's pond at 10, 5 and 1 minutes left, shows "time to
// finish" (which goes away by itself) and then "time is up", each seen in what
// the X server shows, and keeps the day's time used. With TADPOLE_SCREENSHOTS set to a folder, the
// three pictures are kept there for the README.
class tst_E2eTime : public QObject {
    Q_OBJECT

    VirtualDisplay m_screen;
    Display *m_x = nullptr;
    e2e::PortalProcess m_portal;
    QProcess m_browser;

    static Window mainWindow()
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Tadpole 2.0$"});
        xdotool.waitForFinished(10000);
        return xdotool.readAllStandardOutput().split('\n').value(0).toULong();
    }
    QImage grab(Window window) const
    {
        XWindowAttributes attributes;
        XImage *image = XGetWindowAttributes(m_x, window, &attributes) && attributes.map_state == IsViewable
            ? XGetImage(m_x, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap) : nullptr;
        if (!image)
            return {};
        QImage copy = QImage(reinterpret_cast<const uchar *>(image->data), image->width, image->height, image->bytes_per_line,
                             QImage::Format_RGB32).copy();
        XDestroyImage(image);
        return copy;
    }
    // Pixels of a flat colour of our pictures, at or below the toolbar.
    static int count(const QImage &image, QRgb colour, bool inToolbar)
    {
        int found = 0;
        for (int y = inToolbar ? 0 : 52; y < (inToolbar ? 52 : image.height()); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            found += int(std::count_if(line, line + image.width(), [colour](QRgb pixel) { return (pixel | 0xff000000) == colour; }));
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        if (m_screen.name().isEmpty() || QStandardPaths::findExecutable(QStringLiteral("faketime")).isEmpty())
            QSKIP("Xvfb and faketime are needed: scripts/setup-debian.sh installs them");
        qputenv("DISPLAY", m_screen.name());
        QVERIFY(m_portal.startFresh());
        QVERIFY(m_x = XOpenDisplay(m_screen.name().constData()));
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    }
    void cleanupTestCase()
    {
        m_browser.kill();
        m_browser.waitForFinished(5000);
    }

    void warningsAndTheTimeIsUpPictureAppear()
    {
        e2e::ProgramFolder folder(m_portal.host());
        QVERIFY(folder.write("control.ini", "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\ndaily=1\r\n"));
        QVERIFY(folder.write("timeused.txt", "day=" + QDate::currentDate().toString(Qt::ISODate).toLatin1() + "\r\nseconds=120\r\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        m_browser.setProcessEnvironment(env);
        m_browser.start(QStringLiteral("faketime"), {"-f", "+0 x20", folder.path("tadpole"), "1"});
        Window window = 0;
        QVERIFY(e2e::waitFor([&] { return (window = mainWindow()) != 0; }, 60000));

        const QString shots = qEnvironmentVariable("TADPOLE_SCREENSHOTS");
        QList<int> levels; // of the pond's water, each lower than the last
        QStringList seen;
        const auto see = [&](const QImage &image, bool shown, const QString &picture) {
            if (shown && !seen.contains(picture)) {
                seen << picture;
                QVERIFY(shots.isEmpty() || picture == "page-again" || image.scaledToWidth(800, Qt::SmoothTransformation).save(QDir(shots).filePath(picture + ".png")));
            }
        };
        QVERIFY2(e2e::waitFor([&] {
            const QImage image = grab(window);
            if (image.isNull())
                return false;
            const int water = count(image, 0xff2e9be6, true), sunset = count(image, 0xffffb347, false);
            const int night = count(image, 0xff1d2b53, false), most = image.height() * image.width() / 5;
            if (water > 0 && (levels.isEmpty() || water < levels.last()))
                levels << water;
            see(image, levels.size() == 2, "countdown"); // half drained, at 5 minutes
            see(image, sunset > most, "time-to-finish");
            see(image, seen.contains("time-to-finish") && sunset == 0 && night == 0, "page-again"); // gone by itself
            see(image, night > most, "time-is-up");
            return seen.contains("time-is-up");
        }, 150000), qPrintable(seen.join(", ")));
        QVERIFY2(levels.size() >= 3, qPrintable(QString::number(levels.size()))); // 10, 5 and 1 minutes left
        QCOMPARE(seen, (QStringList{"countdown", "time-to-finish", "page-again", "time-is-up"}));
        QCOMPARE(m_browser.state(), QProcess::Running); // STOP is locked: the picture waits for a grown-up
        const QByteArray used = folder.read("timeused.txt");
        QVERIFY2(used.split('=').last().trimmed().toInt() >= 14 * 60, used.constData());
    }
};

QTEST_GUILESS_MAIN(tst_E2eTime)
#include "tst_e2e_time.moc"
