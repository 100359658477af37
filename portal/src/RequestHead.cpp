// Boost first: Qt's keyword macros must not reach its headers.
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "RequestHead.h"

#include <cctype>
#include <utility>

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

bool isKnownMethod(std::string_view m)
{
    for (std::string_view known : {"PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "PATCH"}) {
        if (m == known)
            return true;
    }
    return false;
}

bool isServedMethod(std::string_view m)
{
    return m == "GET" || m == "HEAD" || m == "POST";
}

QByteArray toBytes(std::string_view s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

const char *headShapeFault(std::string_view head)
{
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n'))
            return "a bare CR in the request head";
        if (head[i] == '\n') {
            if (i == 0 || head[i - 1] != '\r')
                return "a bare LF in the request head";
            if (i + 1 < head.size() && (head[i + 1] == ' ' || head[i + 1] == '\t'))
                return "a folded header line";
        }
    }
    return nullptr;
}

std::optional<std::string_view> pathAndQuery(std::string_view target)
{
    if (!target.empty() && target.front() == '/')
        return target;
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (startsWithNoCase(target, scheme)) {
            const std::string_view rest = target.substr(scheme.size());
            const size_t end = rest.find_first_of("/?");
            if (end == 0 || rest.empty())
                return std::nullopt;  // no host
            if (end == std::string_view::npos)
                return std::string_view("/");
            return rest.substr(end);
        }
    }
    return std::nullopt;
}

QByteArray escapedForLog(std::string_view raw)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(qsizetype(raw.size()));
    for (const char ch : raw) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x21 || b > 0x7e) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

HttpRequest handlerRequest(std::string_view method, std::string_view target)
{
    HttpRequest r;
    r.method = toBytes(method);
    r.target = toBytes(target);
    const std::string_view pq = pathAndQuery(target).value_or(std::string_view());
    const size_t q = pq.find('?');
    r.path = toBytes(pq.substr(0, q));
    if (r.path.isEmpty())
        r.path = "/";  // an absolute-form target with no path ("http://host?t=1")
    r.rawQuery = q == std::string_view::npos ? QByteArray() : toBytes(pq.substr(q + 1));
    return r;
}

std::optional<HttpReply> unservedMethodReply(std::string_view method)
{
    if (isServedMethod(method))
        return std::nullopt;
    if (!isKnownMethod(method))
        return HttpReply::text(501, "method not implemented\n");
    HttpReply reply = HttpReply::text(405, "method not allowed\n");
    reply.addHeader("Allow", "GET, HEAD, POST");
    return reply;
}

struct RequestReader::Impl {
    HttpLimits limits;
    std::optional<http::request_parser<http::string_body>> parser;
    size_t headParsed = 0;  // bytes of the head the parser has taken
    bool expectsContinue = false;
    Refusal refusal;

    Progress refuse(int status, const QByteArray &reason)
    {
        refusal = {status, reason};
        return Progress::Refused;
    }

    Progress refuseParse(beast::error_code ec, std::string_view received)
    {
        if (ec == http::error::header_limit) {
            const size_t lineEnd = received.find('\n');
            const size_t lineCap = size_t(limits.maxTargetBytes) + 32;  // method, spaces, version
            if ((lineEnd == std::string_view::npos ? received.size() : lineEnd) > lineCap)
                return refuse(414, "request line too long");
            return refuse(431, "request head too large");
        }
        if (ec == http::error::body_limit)
            return refuse(413, "request body too large");
        if (ec == http::error::bad_method || ec == http::error::bad_target || ec == http::error::bad_version)
            return refuse(400, "malformed request line");
        if (ec == http::error::bad_content_length)
            return refuse(400, "malformed Content-Length");
        if (ec == http::error::bad_transfer_encoding)
            return refuse(400, "malformed Transfer-Encoding");
        return refuse(400, "malformed header field");
    }

    // The checks Beast leaves to its user, once the head is parsed.
    std::optional<Refusal> headRefusal() const
    {
        const auto &req = parser->get();
        int fields = 0, hosts = 0, lengths = 0;
        bool transferEncoding = false;
        for (const auto &f : req) {
            ++fields;
            if (f.name() == http::field::host)
                ++hosts;
            else if (f.name() == http::field::content_length)
                lengths += f.value().find_first_not_of("0123456789") == std::string_view::npos ? 1 : 2;
            else if (f.name() == http::field::transfer_encoding)
                transferEncoding = true;
        }
        if (fields > limits.maxHeaders)
            return Refusal{431, "too many header fields"};
        if (req.target().size() > size_t(limits.maxTargetBytes))
            return Refusal{414, "request target too long"};
        // Beast refuses two Content-Length fields that differ; two equal ones are refused
        // too, as a proxy in front may have read the head differently. So is a list of
        // equal lengths in one field ("5, 5"), which Beast takes as one.
        if (lengths > 1)
            return Refusal{400, "more than one Content-Length field"};
        if (transferEncoding)
            return Refusal{501, "chunked request bodies are not accepted"};
        if (req.version() >= 11 ? hosts != 1 : hosts > 1)
            return Refusal{400, "an HTTP/1.1 request needs exactly one Host field"};
        if (isServedMethod(req.method_string()) && !pathAndQuery(req.target()))
            return Refusal{400, "request target must be a path"};
        return std::nullopt;
    }

    // Nothing once the head is whole and accepted: its body is read next.
    std::optional<Progress> readHead(std::string_view received, size_t *used)
    {
        beast::error_code ec;
        // The parser may take the request line before the fields are all here; the bytes
        // it took stay until the head is whole, to be checked.
        headParsed += parser->put(boost::asio::const_buffer(received.data() + headParsed, received.size() - headParsed), ec);
        if (ec == http::error::need_more)
            return Progress::NeedMore;
        if (ec)
            return refuseParse(ec, received);
        if (const char *fault = headShapeFault(received.substr(0, headParsed)))
            return refuse(400, fault);
        *used = headParsed;
        headParsed = 0;
        if (std::optional<Refusal> refused = headRefusal()) {
            refusal = *refused;
            return Progress::Refused;
        }
        const auto &req = parser->get();
        const auto expect = req.find(http::field::expect);
        expectsContinue = req.version() >= 11 && expect != req.end() && beast::iequals(expect->value(), "100-continue");
        parser->eager(true);
        return std::nullopt;
    }
};

RequestReader::RequestReader(const HttpLimits &limits) : d(std::make_unique<Impl>())
{
    d->limits = limits;
}

RequestReader::~RequestReader() = default;

void RequestReader::next()
{
    d->parser.emplace();
    d->parser->header_limit(std::uint32_t(d->limits.maxHeadBytes));
    d->parser->body_limit(std::uint64_t(d->limits.maxBodyBytes));
    d->parser->eager(false);
    d->headParsed = 0;
    d->expectsContinue = false;
}

RequestReader::Progress RequestReader::read(std::string_view received, size_t *used)
{
    *used = 0;
    if (!d->parser->is_header_done()) {
        if (const std::optional<Progress> head = d->readHead(received, used))
            return *head;
    }
    if (!d->parser->is_done() && received.size() > *used) {
        beast::error_code ec;
        const std::string_view rest = received.substr(*used);
        *used += d->parser->put(boost::asio::const_buffer(rest.data(), rest.size()), ec);
        if (ec && ec != http::error::need_more)
            return d->refuseParse(ec, received.substr(*used));
    }
    return d->parser->is_done() ? Progress::Done : Progress::NeedMore;
}

void RequestReader::refuseOverflow(std::string_view received)
{
    d->refuseParse(http::error::header_limit, received);
}

const Refusal &RequestReader::refusal() const
{
    return d->refusal;
}

bool RequestReader::headDone() const
{
    return d->parser->is_header_done();
}

bool RequestReader::takeExpectsContinue()
{
    return std::exchange(d->expectsContinue, false);
}

std::string_view RequestReader::method() const
{
    return d->parser->get().method_string();
}

std::string_view RequestReader::target() const
{
    return d->parser->get().target();
}

unsigned RequestReader::version() const
{
    return d->parser->get().version();
}

bool RequestReader::keepAlive() const
{
    return d->parser->get().keep_alive();
}

std::string_view RequestReader::field(std::string_view name) const
{
    const auto &head = d->parser->get();
    const auto it = head.find(name);
    return it == head.end() ? std::string_view() : std::string_view(it->value());
}
