// HttpRequest through a proxy: a real tinyproxy with basic authentication, and a raw server in the
// proxy's place to see exactly what a proxy is sent.

#include <gtest/gtest.h>

#include "http/base64.h"
#include "http_test_util.h"
#include "local_servers.h"

namespace qj {
namespace {

using test::Exchange;
using test::LibServer;
using test::RawRequest;
using test::RawServer;

void ReplyOk(test::SocketId socket, const RawRequest&) {
    RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
}

class ProxyTest : public ::testing::Test {
protected:
    ProxyTest() : tls_(true), proxy_("qj", "s3cret") {
        for (LibServer* server : {&plain_, &tls_}) {
            server->server().Get("/via", [this](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard lock(mutex_);
                ++arrived_;
                proxyAuthorizationForwarded_ |= request.has_header("Proxy-Authorization");
                response.set_content("through", "text/plain");
            });
            server->Start();
        }
    }

    // The plain server and the TLS one (on Windows the Linux peer, which counts nothing here but
    // says in its reply whether Proxy-Authorization reached it).
    std::vector<std::string> Urls() {
        return {plain_.Url("/via"), test::kInProcessTls ? tls_.Url("/via") : test::PeerTlsUrl("/via")};
    }
    int counted() const { return test::kInProcessTls ? 2 : 1; }

    int arrived() {
        std::lock_guard lock(mutex_);
        return arrived_;
    }

    LibServer plain_;
    LibServer tls_;
    test::TinyProxy proxy_;
    std::mutex mutex_;
    int arrived_ = 0;
    bool proxyAuthorizationForwarded_ = false;
};

TEST_F(ProxyTest, TheRightPasswordGetsThroughForHttpAndHttps) {
    ASSERT_TRUE(proxy_.running());
    for (const std::string& url : Urls()) {
        ASSERT_FALSE(url.empty()) << "no TLS server";
        Exchange exchange(url);
        exchange.params.proxy = proxy_.Address();
        exchange.params.proxyUser = "qj";
        exchange.params.proxyPassword = "s3cret";
        EXPECT_EQ(exchange.Run(), "through") << exchange.error;
        EXPECT_EQ(exchange.status, 200);
    }
    EXPECT_EQ(arrived(), counted());
    EXPECT_FALSE(proxyAuthorizationForwarded_);
}

TEST_F(ProxyTest, AWrongPasswordIsRefusedByTheProxy) {
    ASSERT_TRUE(proxy_.running());
    for (const std::string& url : Urls()) {
        ASSERT_FALSE(url.empty()) << "no TLS server";
        Exchange exchange(url);
        exchange.params.proxy = proxy_.Address();
        exchange.params.proxyUser = "qj";
        exchange.params.proxyPassword = "wrong";
        EXPECT_EQ(exchange.Run().find("through"), Bytes::npos);
        // This tinyproxy answers 401 where 407 is due; either is the proxy's refusal, reported as such.
        EXPECT_TRUE(exchange.status == 401 || exchange.status == 407) << exchange.status;
        EXPECT_FALSE(exchange.responseHeaders.empty());
    }
    EXPECT_EQ(arrived(), 0);
}

// The tunnel the endpoints ask for, to an http server too: through it the proxy sees neither the
// request nor the reply, and its own refusal or absence is reported as such.
TEST_F(ProxyTest, ATunnelCarriesTheExchangeAndReportsTheProxysOwnRefusal) {
    ASSERT_TRUE(proxy_.running());
    for (const std::string& url : Urls()) {
        ASSERT_FALSE(url.empty()) << "no TLS server";
        for (const char* password : {"s3cret", "wrong"}) {
            SCOPED_TRACE(url + " " + password);
            Exchange exchange(url);
            bool refused = true;
            bool unreachable = true;
            exchange.params.proxy = proxy_.Address();
            exchange.params.proxyTunnel = true;
            exchange.params.proxyUser = "qj";
            exchange.params.proxyPassword = password;
            const Bytes body = exchange.Run();
            refused = exchange.refusedByProxy;
            unreachable = exchange.proxyUnreachable;
            EXPECT_FALSE(unreachable);
            if (std::string(password) == "s3cret") {
                EXPECT_EQ(body, "through") << exchange.error;
                EXPECT_EQ(exchange.status, 200);
                EXPECT_FALSE(refused);
            } else {
                EXPECT_EQ(body, "");
                EXPECT_TRUE(exchange.status == 401 || exchange.status == 407) << exchange.status;
                EXPECT_TRUE(refused);
                EXPECT_FALSE(exchange.responseHeaders.empty());
            }
        }
    }
    EXPECT_EQ(arrived(), counted());
    EXPECT_FALSE(proxyAuthorizationForwarded_);

    Exchange nobody(plain_.Url("/via"));
    bool unreachable = false;
    const test::RefusingPort refusing;
    nobody.params.proxy = "127.0.0.1:" + std::to_string(refusing.port());
    nobody.params.proxyTunnel = true;
    EXPECT_EQ(nobody.Run(), "");
    unreachable = nobody.proxyUnreachable;
    EXPECT_EQ(nobody.status, 0);
    EXPECT_TRUE(unreachable);
}

// What a proxy is told when it opens a tunnel: the server's name and its own credentials, no line
// of the request (an API key in it must not reach the proxy).
TEST(ProxyWire, ATunnelRequestCarriesOnlyHostAndProxyCredentials) {
    RawServer proxy([](test::SocketId socket, const RawRequest&) {
        RawServer::Send(socket, "HTTP/1.1 403 Forbidden\r\nX-Proxy: no\r\nContent-Length: 0\r\n\r\n");
    });
    Exchange exchange("http://127.0.0.1:9/v1/chat");
    exchange.params.proxy = "127.0.0.1:" + std::to_string(proxy.port());
    exchange.params.proxyTunnel = true;
    exchange.params.proxyUser = "u";
    exchange.params.proxyPassword = "p";
    exchange.params.method = 1;
    exchange.params.body = "{}";
    exchange.headers = "Authorization: Bearer sk-secret\r\nContent-Type: application/json";
    exchange.params.addDefaultHeaders = false;
    EXPECT_EQ(exchange.Run(), "");
    EXPECT_EQ(exchange.status, 403);
    EXPECT_TRUE(exchange.refusedByProxy);
    EXPECT_EQ(exchange.responseHeaders, "X-Proxy: no\r\nContent-Length: 0");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].RequestLine(), "CONNECT 127.0.0.1:9 HTTP/1.1");
    EXPECT_EQ(proxy.Requests()[0].HeaderLines(),
              (std::vector<std::string>{"Host: 127.0.0.1:9", "Proxy-Authorization: Basic " + Base64Encode("u:p")}));
}

TEST(ProxyWire, CredentialsGoToTheProxyAsABasicHeader) {
    RawServer proxy(ReplyOk);
    const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy.port());

    Exchange withHeader("http://127.0.0.1:9/target");
    withHeader.params.proxy = proxyAddress;
    withHeader.params.proxyUser = "用户";
    withHeader.params.proxyPassword = "pw";
    withHeader.params.addDefaultHeaders = false;
    EXPECT_EQ(withHeader.Run(), "ok");

    Exchange serverTarget("http://127.0.0.1:9/target");
    serverTarget.params.proxy = proxyAddress;
    serverTarget.params.proxyUser = "u";
    serverTarget.params.credentialTarget = 0;
    serverTarget.params.addDefaultHeaders = false;
    EXPECT_EQ(serverTarget.Run(), "ok");

    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].RequestLine(), "GET http://127.0.0.1:9/target HTTP/1.1");
    // The user name's GBK bytes are encoded, as the program's code page has them.
    EXPECT_EQ(requests[0].HeaderLines(),
              test::OnTheWire({"Host: 127.0.0.1:9", "Proxy-Authorization: Basic " + Base64Encode("用户:pw")}));
    EXPECT_EQ(requests[1].HeaderLines(), test::OnTheWire({"Host: 127.0.0.1:9"}));
}

TEST(ProxyWire, UserWithoutProxySendsNoCredentials) {
    RawServer server(ReplyOk);
    Exchange exchange(server.Url("/direct"));
    exchange.params.proxyUser = "u";
    exchange.params.proxyPassword = "p";
    exchange.params.addDefaultHeaders = false;
    EXPECT_EQ(exchange.Run(), "ok");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].head.find("Authorization"), std::string::npos);
}

}  // namespace
}  // namespace qj
