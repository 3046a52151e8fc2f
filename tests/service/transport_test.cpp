// The HTTPS transport against the development service: what goes over the
// wire, what comes back, and how failures are reported.
#include <gtest/gtest.h>

#include <thread>

#include "common/base64.h"
#include "common/masking.h"
#include "service/content_data.h"
#include "service/device_identity.h"
#include "service/version_check.h"
#include "tests/service/raw_capture.h"
#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

class Transport : public ::testing::Test {
protected:
    void SetUp() override { SetPins(DefaultPins()); }
    HttpClient client;
};

// Header values travel without surrounding blanks.
std::string Trimmed(std::string value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
    return value;
}

std::string IdentityHeader() { return ToLowerAscii(UnmaskConstant(Config::kIdentityHeader)); }
std::string DescriptionHeader() { return ToLowerAscii(UnmaskConstant(Config::kDescriptionHeader)); }

} // namespace

TEST_F(Transport, BodiesArriveByteForByte) {
    const std::string form = std::string("pass=a&b c=d&id=\xD8\xA7\xD8\xB3\xD9\x85=\xE2\x82\xAC+%26\r\n\0\xFF", 34);
    nlohmann::json echo = EchoOf(client.Request(u"PUT", kPlatform + u"/echo/form?q=1", form,
                                                u"application/x-www-form-urlencoded"));
    EXPECT_EQ(echo["method"], "PUT");
    EXPECT_EQ(echo["path"], "/echo/form");
    EXPECT_EQ(echo["query"], "q=1");
    EXPECT_EQ(echo["body_base64"], Base64Encode(form));
    EXPECT_EQ(echo["headers"]["content-length"], std::to_string(form.size()));
    EXPECT_EQ(echo["headers"]["content-type"], "application/x-www-form-urlencoded");

    // Large enough that a client would normally ask "Expect: 100-continue"
    // first (over 1 MiB), small enough that its echo stays within the
    // transport's answer size cap.
    std::string large(3 * 512 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 % 251);
    echo = EchoOf(client.Request(u"PUT", kPlatform + u"/echo", large, u"application/octet-stream"));
    EXPECT_EQ(echo["body_length"], large.size());
    EXPECT_EQ(echo["body_base64"], Base64Encode(large));
    EXPECT_FALSE(echo["headers"].contains("expect"));
}

TEST_F(Transport, EmptyBodyAndContentType) {
    nlohmann::json echo = EchoOf(client.Request(u"PUT", kPlatform + u"/echo", "", u""));
    EXPECT_EQ(echo["body_length"], 0);
    EXPECT_EQ(echo["headers"].value("content-length", "absent"), "0");
    EXPECT_FALSE(echo["headers"].contains("content-type"));

    echo = EchoOf(client.Get(kPlatform + u"/echo"));
    EXPECT_EQ(echo["method"], "GET");
    EXPECT_FALSE(echo["headers"].contains("content-type"));
    EXPECT_EQ(echo["headers"].value("content-length", "0"), "0");
}

TEST_F(Transport, OnlyTheClientsOwnHeadersAreAdded) {
    const nlohmann::json echo = EchoOf(client.Get(kHost2 + u"/echo"));
    const nlohmann::json& headers = echo["headers"];
    EXPECT_EQ(headers.value("user-agent", ""), UnmaskConstant(Config::kUserAgent));
    EXPECT_EQ(headers.value("host", ""), "127.0.0.2:47443");
    EXPECT_FALSE(headers.contains("accept"));
    EXPECT_FALSE(headers.contains("expect"));
    EXPECT_FALSE(headers.contains("accept-encoding"));
    EXPECT_FALSE(headers.contains(IdentityHeader()));
}

TEST_F(Transport, DefaultHeadersAreReplacedByName) {
    client.SetHeader(u"X-Tovani-B", u"first");
    client.SetHeader(u"X-Tovani-A", u"a");
    client.SetHeader(u"X-Tovani-B", u"second");
    client.SetHeader(u"Content-Type", u"text/x-default");

    nlohmann::json echo = EchoOf(client.Get(kHost2 + u"/echo"));
    EXPECT_EQ(echo["headers"].value("x-tovani-b", ""), "second");
    EXPECT_EQ(echo["headers"].value("x-tovani-a", ""), "a");
    EXPECT_EQ(echo["headers"].value("content-type", ""), "text/x-default");

    // The request's own content type replaces a default of the same name.
    echo = EchoOf(client.Request(u"PUT", kHost2 + u"/echo", "{}", u"application/json"));
    EXPECT_EQ(echo["headers"].value("content-type", ""), "application/json");

    // Headers are per client.
    HttpClient other;
    echo = EchoOf(other.Get(kHost2 + u"/echo"));
    EXPECT_FALSE(echo["headers"].contains("x-tovani-a"));
}

TEST_F(Transport, HeadersGoOutInNameOrderAndEmptyValuesStayEmpty) {
    RawCapture capture;
    ASSERT_TRUE(capture.listening());
    client.SetHeader(u"X-c", u"3");
    client.SetHeader(u"X-Empty", u"");
    client.SetHeader(u"X-A", u"1");
    client.SetHeader(u"X-b", u"2");
    const HttpResponse r = client.Request(u"PUT", capture.Url("/form"), "a=1&b=\xC3\xA9", u"text/plain");
    EXPECT_EQ(r.statusCode, 200u) << r.error;
    EXPECT_EQ(r.body, "ok");

    const std::string request = capture.Request();
    const std::size_t end = request.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << request;
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "PUT /form HTTP/1.1");
    EXPECT_EQ(request.substr(end + 4), "a=1&b=\xC3\xA9");

    // The client's headers in the order of their names' code units, then the
    // content type; nothing the library would add on its own.
    std::vector<std::string> ours;
    std::string line;
    const std::string head = request.substr(0, end + 2);
    for (std::size_t at = head.find("\r\n") + 2; at < head.size();) {
        const std::size_t next = head.find("\r\n", at);
        line = head.substr(at, next - at);
        at = next + 2;
        const std::string name = ToLowerAscii(line.substr(0, line.find(':')));
        EXPECT_NE(name, "accept");
        EXPECT_NE(name, "expect");
        EXPECT_NE(name, "transfer-encoding");
        if (name == "content-length") EXPECT_EQ(line, "Content-Length: 8");
        if (name.rfind("x-", 0) == 0 || name == "content-type") ours.push_back(Trimmed(line));
    }
    // (The capture is plain HTTP: no identity headers among them.)
    const std::vector<std::string> expected = {"X-A: 1", "X-Empty:", "X-b: 2", "X-c: 3", "Content-Type: text/plain"};
    EXPECT_EQ(ours, expected) << request;
}

TEST_F(Transport, IdentityHeadersGoToPlatformHostsOnly) {
    const WString identityName = Utf8ToWide(UnmaskConstant(Config::kIdentityHeader));
    client.SetHeader(identityName, u"from-defaults");
    client.SetHeader(Utf8ToWide(UnmaskConstant(Config::kDescriptionHeader)), u"description-from-defaults");
    client.SetHeader(u"X-Tovani-Default", u"d");
    const std::string identity = WideToUtf8(GetDeviceIdentity());
    const std::string description = Trimmed(WideToUtf8(GetDeviceDescription()));

    // Over https to the platform host: the identity values win over defaults of the same names.
    nlohmann::json echo = EchoOf(client.Get(kPlatform + u"/echo"));
    EXPECT_EQ(echo["headers"].value(IdentityHeader(), ""), identity.empty() ? "from-defaults" : identity);
    EXPECT_EQ(echo["headers"].value(DescriptionHeader(), ""), description);
    EXPECT_EQ(echo["headers"].value("x-tovani-default", ""), "d");

    // Anywhere else (another host, or the platform host in clear text) no
    // identity at all, whoever set it among the defaults.
    for (const WString& base : {kHost2, kHttp}) {
        echo = EchoOf(client.Get(base + u"/echo"));
        SCOPED_TRACE(echo["listener"].get<std::string>());
        EXPECT_FALSE(echo["headers"].contains(IdentityHeader())) << echo.dump();
        EXPECT_FALSE(echo["headers"].contains(DescriptionHeader())) << echo.dump();
        EXPECT_EQ(echo["headers"].value("x-tovani-default", ""), "d");
    }
}

// The identity rides only on a connection the host's pins vouched for. With
// pinning off, or on a platform host the store has no pins for, the system's
// trust alone decides, and an interceptor whose authority it trusts would
// read every identity header: none goes, not even from the defaults.
TEST_F(Transport, IdentityOnlyOverAPinCheckedConnection) {
    std::vector<std::string> names = {IdentityHeader(), DescriptionHeader()};
    for (const std::string& name : UnmaskList(Config::kBrowserIdentityHeaders, Config::kBrowserIdentityHeadersCount))
        names.push_back(ToLowerAscii(name));
    const auto withIdentityDefaults = [&names](HttpClient& c) {
        for (const std::string& name : names) c.SetHeader(Utf8ToWide(name), u"from-defaults");
        c.SetHeader(u"X-Tovani-Default", u"d");
    };

    // Pinned: the identity goes (the device's own values where it has them).
    withIdentityDefaults(client);
    nlohmann::json echo = EchoOf(client.Get(kPlatform + u"/echo"));
    EXPECT_TRUE(echo["headers"].contains(IdentityHeader())) << echo.dump();

    HttpClient unpinned;
    unpinned.pinningDisabled = true;
    withIdentityDefaults(unpinned);
    echo = EchoOf(unpinned.Get(kPlatform + u"/echo"));
    for (const std::string& name : names) EXPECT_FALSE(echo["headers"].contains(name)) << "pinning off: " << name;
    EXPECT_EQ(echo["headers"].value("x-tovani-default", ""), "d");

    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient withoutPins;
    withIdentityDefaults(withoutPins);
    echo = EchoOf(withoutPins.Get(kPlatform + u"/echo"));
    for (const std::string& name : names) EXPECT_FALSE(echo["headers"].contains(name)) << "no pins for the host: " << name;
    EXPECT_EQ(echo["headers"].value("x-tovani-default", ""), "d");
}

// A link may name any service base. What is sent for it carries the client
// header, but the pins secret only ever goes with the pins request, and the
// machine's identity only over https to a platform host.
TEST_F(Transport, ALinksServiceGetsNeitherTheSecretNorTheIdentity) {
    ASSERT_TRUE(LoadDynamicPins());
    std::string message;
    // A genuine content request first: it leaves its headers among the shared client's defaults.
    ASSERT_TRUE(GetContentData(kPlatform, "video-1", "p", message).succeeded) << message;

    const std::string secret = "\r\nx-secret:";
    const std::string identity = "\r\n" + IdentityHeader() + ":";
    const std::string description = "\r\n" + DescriptionHeader() + ":";
    const std::string clientHeader = "\r\n" + ToLowerAscii(UnmaskConstant(Config::kClientHeader)) + ":";
    {
        RawCapture capture;
        ASSERT_TRUE(capture.listening());
        GetContentData(capture.Url(""), "id-1", "p", message);
        const std::string head = ToLowerAscii(capture.Request());
        EXPECT_EQ(head.rfind("put /api/", 0), 0u) << head;
        EXPECT_NE(head.find(clientHeader), std::string::npos) << head;
        for (const std::string& kept : {secret, identity, description}) EXPECT_EQ(head.find(kept), std::string::npos) << head;
    }
    {
        RawCapture capture;
        ASSERT_TRUE(capture.listening());
        CheckVersion(4.9, capture.Url(""));
        const std::string head = ToLowerAscii(capture.Request());
        EXPECT_EQ(head.rfind("get /api/", 0), 0u) << head;
        for (const std::string& kept : {secret, identity, description}) EXPECT_EQ(head.find(kept), std::string::npos) << head;
    }
    for (const WString& base : {kHost2, kHttp}) {
        const nlohmann::json echo = EchoOf(SharedClient().Get(base + u"/echo"));
        SCOPED_TRACE(echo["listener"].get<std::string>());
        for (const std::string& name : {std::string("x-secret"), IdentityHeader(), DescriptionHeader()})
            EXPECT_FALSE(echo["headers"].contains(name)) << name;
    }
    // The platform itself still gets the identity, and no secret.
    const nlohmann::json echo = EchoOf(SharedClient().Get(kPlatform + u"/echo"));
    EXPECT_FALSE(echo["headers"].contains("x-secret"));
    if (!GetDeviceIdentity().empty()) EXPECT_EQ(echo["headers"].value(IdentityHeader(), ""), WideToUtf8(GetDeviceIdentity()));
    EXPECT_EQ(echo["headers"].value(DescriptionHeader(), ""), Trimmed(WideToUtf8(GetDeviceDescription())));
}

TEST_F(Transport, NonSuccessAnswersComeBackWhole) {
    HttpResponse r = client.Get(kPlatform + u"/redirect");
    EXPECT_EQ(r.statusCode, 302u);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "redirecting to /echo\n");

    r = client.Get(kPlatform + u"/status/404");
    EXPECT_EQ(r.statusCode, 404u);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "not here");

    // "ok" is exactly 200..299.
    const std::vector<std::pair<std::uint32_t, bool>> statuses = {{200, true}, {201, true}, {299, true},
                                                                  {300, false}, {500, false}, {599, false}};
    for (const auto& [status, ok] : statuses) {
        const std::string body = "{\"message\":\"status " + std::to_string(status) + "\"}";
        std::string encoded = Base64Encode(body);
        for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
        while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
        r = client.Get(kPlatform + u"/canned/" + Utf8ToWide(std::to_string(status) + "/" + encoded));
        EXPECT_EQ(r.statusCode, status);
        EXPECT_EQ(r.ok, ok) << status;
        EXPECT_EQ(r.body, body);
        EXPECT_EQ(r.error, "");
    }

    r = client.Get(kPlatform + u"/status/204");
    EXPECT_EQ(r.statusCode, 204u);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "");
}

TEST_F(Transport, UrlsThatCannotBeSplit) {
    const WString longHost(256, u'a');
    const WString longPath = u"/echo/" + WString(2042, u'x'); // 2048 units
    const std::vector<WString> urls = {
        u"",
        u"127.0.0.1/echo",
        u"ftp://127.0.0.1/echo",
        u"file:///etc/passwd",
        u"https://",
        u"https:///echo",
        u"https://" + longHost + u"/",
        u"http://" + longHost,
        kPlatform + longPath,
        u"https://127.0.0.1:99999/",
        u"https://127.0.0.1:4a/",
    };
    for (const WString& url : urls) {
        const HttpResponse r = client.Get(url);
        EXPECT_EQ(r.error, "Failed to parse URL") << WideToUtf8(url.substr(0, 60));
        EXPECT_EQ(r.statusCode, 0u);
        EXPECT_EQ(r.body, "");
    }

    // The limits themselves still pass.
    const HttpResponse atLimit = client.Get(kPlatform + longPath.substr(0, 2047));
    EXPECT_EQ(atLimit.statusCode, 200u) << atLimit.error;
    const WString label(63, u'a');
    const WString host255 = label + u"." + label + u"." + label + u"." + WString(55, u'a') + u".invalid";
    ASSERT_EQ(host255.size(), 255u);
    HttpClient plain;
    plain.pinningDisabled = true;
    const HttpResponse longName = plain.Get(u"https://" + host255 + u"/");
    EXPECT_TRUE(IsSendFailure(longName)) << longName.error;
}

TEST_F(Transport, PlainHttpHasNoPreflightAndNoPinCheck) {
    // Any TLS look at this host would fail these pins; plain HTTP must not look.
    SetPins({Entry(u"127.0.0.1", {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})});
    client.SetHeader(u"X-Tovani-Default", u"d");
    const nlohmann::json echo = EchoOf(client.Request(u"PUT", kHttp + u"/echo", "a=1", u"text/plain"));
    EXPECT_EQ(echo["listener"], "http 127.0.0.1:47480");
    EXPECT_EQ(echo["body"], "a=1");
    EXPECT_EQ(echo["headers"].value("x-tovani-default", ""), "d");
    EXPECT_FALSE(echo["headers"].contains(IdentityHeader())) << "no identity in clear text";
}

TEST_F(Transport, FailuresBeforeAResponse) {
    HttpClient plain;
    plain.pinningDisabled = true;
    // Nothing listens there: the connection is refused while sending.
    HttpResponse r = plain.Get(u"https://127.0.0.9:1/");
    EXPECT_EQ(r.error, "WinHttpSendRequest failed: 12029");
    EXPECT_EQ(r.statusCode, 0u);
    r = plain.Get(u"http://127.0.0.9:1/");
    EXPECT_EQ(r.error, "WinHttpSendRequest failed: 12029");

    // A TLS port spoken to in plain HTTP takes the request and never answers it.
    r = plain.Get(u"http://127.0.0.1:47443/echo");
    EXPECT_EQ(r.error.rfind("WinHttpReceiveResponse failed: ", 0), 0u) << r.error;
    EXPECT_EQ(r.statusCode, 0u);
    EXPECT_EQ(r.body, "");
    EXPECT_FALSE(r.ok);
}

TEST_F(Transport, SlowAnswersWithinTheStallLimit) {
    const HttpResponse r = client.Get(kPlatform + u"/slow?ms=1500");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body, "slept 1500 ms\n");
}

TEST_F(Transport, OddRequestsFailCleanly) {
    const std::vector<std::pair<WString, WString>> requests = {
        {u"", kPlatform + u"/echo"},
        {u"GE T", kPlatform + u"/echo"},
        {u"GET\r\nX-Injected: 1", kPlatform + u"/echo"},
        {u"GET", kPlatform + u"/echo?a\r\nX-Injected: 1"},
        {u"GET", kPlatform + WString(u"/echo/\u00e9 \0\uffff", 10)},
        {u"GET", u"https://[::1/"},
        {u"GET", u"https://127.0.0.1:0/"},
        {u"GET", u"https://user@127.0.0.2:47443/echo#fragment"},
    };
    client.SetHeader(u"Bad Name", u"v");
    client.SetHeader(u"X-Tovani-Split", u"a\r\nX-Injected: 1");
    for (const auto& [method, url] : requests) {
        const HttpResponse r = client.Request(method, url, "", u"");
        SCOPED_TRACE(WideToUtf8(method) + " " + WideToUtf8(url));
        EXPECT_EQ(r.error.empty(), r.statusCode != 0) << r.error;
        EXPECT_EQ(r.ok, r.statusCode >= 200 && r.statusCode <= 299);
        if (r.ok) {
            const nlohmann::json echo = nlohmann::json::parse(r.body, nullptr, false);
            ASSERT_TRUE(echo.is_object()) << r.body;
            EXPECT_FALSE(echo["headers"].contains("x-injected"));
        }
    }
}

TEST_F(Transport, OneClientManyThreads) {
    client.SetHeader(u"X-Tovani-Default", u"d");
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                const WString base = (t + i) % 2 ? kPlatform : kHost2;
                const HttpResponse r = client.Request(u"PUT", base + u"/echo", std::to_string(t * 10 + i), u"text/plain");
                const nlohmann::json echo = nlohmann::json::parse(r.body, nullptr, false);
                if (!r.ok || echo.is_discarded() || echo["body"] != std::to_string(t * 10 + i)) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}
