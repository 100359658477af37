#include "DemoSite.h"

namespace {

QString demoUrl(int host, const QString &path = QStringLiteral("/"))
{
    return QStringLiteral("http://127.0.0.%1:%2%3").arg(host).arg(QLatin1String(PortPlaceholder), path);
}

QByteArray siteAddress(int host, quint16 port, const char *path = "/")
{
    return "http://127.0.0." + QByteArray::number(host) + ':' + QByteArray::number(port) + path;
}

HttpReply html(const QByteArray &title, const QByteArray &body, const QByteArray &head = {})
{
    HttpReply r;
    r.contentType = "text/html; charset=utf-8";
    r.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title>" + head
             + "</head>\n<body style=\"font-family:sans-serif\">\n" + body + "\n</body></html>\n";
    return r;
}

HttpReply notFound()
{
    HttpReply r = html("Not found", "<h1>Not found</h1>");
    r.status = 404;
    return r;
}

} // namespace

DemoFamily demoFamily()
{
    DemoFamily f;
    f.names[0] = QStringLiteral("Anna");
    f.names[1] = QStringLiteral("Ben");
    f.names[2] = QStringLiteral("Cara");
    f.names[3] = QStringLiteral("Dan");
    f.privateOwner = QStringLiteral("1000000000000000001");
    auto site = [&f](const QString &url, const QString &name, const QString &comments, const QString &logo,
                     QList<int> ticked, const QString &owner = QString()) {
        f.sites.append({{url, name, comments, QStringLiteral("3"), QStringLiteral("12"), logo}, owner, ticked});
    };
    site(demoUrl(2), "Plain Pond", "A plain page with a colour box, a list and a link to a second page of its own.", "P_gif.gif", {1, 2, 3, 4});
    site(demoUrl(3), "Frame Pond", "A page made of a frame from the same site.", "F_gif.gif", {1, 2});
    site(demoUrl(4), "Pop-up Pond", "Opens pop-up windows: one allowed, one not, and a new-window link.",
         "default_logo.gif", {1});
    site(demoUrl(5), "Link Pond", "Its link leads to a site no child has.", "L_gif.gif", {1});
    site(demoUrl(5, "/download.htm"), "Download Pond", "A link to a file that downloads.", "D_gif.gif", {1});
    site(demoUrl(5, "/script-error.htm"), "Broken Pond", "A page whose script fails.", "B_gif.gif", {1});
    site(demoUrl(5, "/data-link.htm"), "Data Pond", "A link to a data: address.", "default_logo.gif", {1});
    site(demoUrl(6), "Window Pond", "A page with an inline frame from a site no child has.", "W_gif.gif", {1});
    site(demoUrl(7), "Jump Pond", "The server sends it on to a site no child has.", "J_gif.gif", {1});
    site(demoUrl(8), "Refresh Pond", "The page refreshes itself to a site no child has.", "R_gif.gif", {1});
    site(demoUrl(9), "Stranger Pond", "Ticked for nobody: the filter blocks it.", "S_gif.gif", {});
    site(demoUrl(2, "/garden.htm"), "Our Garden", "A private site of the demo installation.", "O_gif.gif", {1},
         f.privateOwner);
    return f;
}

int demoHostNumber(const QByteArray &localAddress)
{
    if (!localAddress.startsWith("127.0.0."))
        return 0;
    bool ok = false;
    const int n = localAddress.mid(8).toInt(&ok);
    return ok && n >= FirstDemoHost && n <= LastDemoHost ? n : 0;
}

HttpReply demoSitePage(int host, const QByteArray &path, quint16 port)
{
    const QByteArray stranger = siteAddress(9, port);
    switch (host) {
    case 2:
        if (path == "/")
            return html("Plain Pond", "<h1>Plain Pond</h1><p>Frogs sit on lily pads.</p>"
                                      "<p>Colour a frog: <input type=\"color\" id=\"frog-colour\" value=\"#3a9d4f\"></p>"
                                      "<select id=\"frog-of-the-day\" title=\"Frog of the day\" style=\"position: fixed; left: 400px; "
                                      "top: 16px; width: 200px; height: 32px\"><option>Hoppy</option><option>Lily</option></select>"
                                      "<p><a id=\"second\" href=\"/second.htm\">More frogs</a></p>");
        if (path == "/second.htm")
            return html("Plain Pond: more frogs", "<h1>More frogs</h1><p><a href=\"/\">Back</a></p>");
        if (path == "/garden.htm")
            return html("Our Garden", "<h1>Our Garden</h1><p>Sunflowers and snails.</p>");
        break;
    case 3:
        if (path == "/") {
            HttpReply r;
            r.contentType = "text/html; charset=utf-8";
            r.body = "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Frameset//EN\">\n<html><head><meta charset=\"utf-8\">"
                     "<title>Frame Pond</title></head>\n<frameset rows=\"100%\"><frame name=\"inner\" src=\"/inner.htm\">"
                     "</frameset></html>\n";
            return r;
        }
        if (path == "/inner.htm")
            return html("Frame Pond: inside", "<h1>Inside the frame</h1><p>Tadpoles grow legs.</p>");
        break;
    case 4:
        if (path == "/")
            return html("Pop-up Pond",
                        "<h1>Pop-up Pond</h1>\n"
                        "<p><button id=\"open-allowed\" onclick=\"window.open('" + siteAddress(2, port)
                            + "')\">Open Plain Pond</button></p>\n"
                            "<p><button id=\"open-blocked\" onclick=\"window.open('" + stranger
                            + "')\">Open Stranger Pond</button></p>\n"
                              "<p><a id=\"blank-link\" target=\"_blank\" href=\"" + siteAddress(2, port, "/second.htm")
                            + "\">More frogs in a new window</a></p>");
        break;
    case 5:
        if (path == "/")
            return html("Link Pond", "<h1>Link Pond</h1><p><a id=\"stranger-link\" href=\"" + stranger
                                         + "\">Visit Stranger Pond</a></p>");
        if (path == "/download.htm")
            return html("Download Pond", "<h1>Download Pond</h1><p><a id=\"download-link\" "
                                         "href=\"/files/pond-facts.txt\">Pond facts</a></p>");
        if (path == "/files/pond-facts.txt") {
            HttpReply r;
            r.contentType = "text/plain; charset=utf-8";
            r.addHeader("Content-Disposition", "attachment; filename=\"pond-facts.txt\"");
            r.body = "Frogs drink through their skin.\r\n";
            return r;
        }
        if (path == "/script-error.htm")
            return html("Broken Pond", "<h1>Broken Pond</h1><p>This page's script fails.</p>"
                                       "<script>thisFunctionDoesNotExist();</script>");
        if (path == "/data-link.htm")
            return html("Data Pond", "<h1>Data Pond</h1><p><a id=\"data-link\" "
                                     "href=\"data:text/html,%3Ch1%3EHello%20from%20data%3C%2Fh1%3E\">A data page</a></p>");
        break;
    case 6:
        if (path == "/")
            return html("Window Pond", "<h1>Window Pond</h1><iframe id=\"stranger-frame\" width=\"400\" height=\"200\" src=\""
                                           + stranger + "\"></iframe>");
        break;
    case 7:
        if (path == "/") {
            HttpReply r = html("Jump Pond", "<p>Moved to <a href=\"" + stranger + "\">Stranger Pond</a>.</p>");
            r.status = 302;
            r.addHeader("Location", stranger);
            return r;
        }
        break;
    case 8:
        if (path == "/")
            return html("Refresh Pond", "<h1>Refresh Pond</h1><p>Off to Stranger Pond...</p>",
                        "<meta http-equiv=\"refresh\" content=\"0; url=" + stranger + "\">");
        break;
    case 9:
        if (path == "/")
            return html("Stranger Pond", "<h1>Stranger Pond</h1><p>No child has this site ticked.</p>");
        break;
    default:
        break;
    }
    return notFound();
}

std::optional<HttpReply> productSitePage(const QByteArray &path)
{
    if (path == "/" || path == "/index.htm")
        return html("Tadpole", "<h1>Tadpole</h1><p>A web browser for young children.</p>");
    if (path == "/mail/mail.asp")
        return html("Ripple R-mail", "<h1>Ripple R-mail</h1><p>Children's mail is not offered by this portal.</p>");
    if (path == "/donate.htm")
        return html("Support Tadpole", "<h1>Support Tadpole</h1><p>Thank you for thinking of us.</p>");
    return std::nullopt;
}
