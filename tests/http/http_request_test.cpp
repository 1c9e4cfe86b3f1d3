// HttpRequest against in-process cpp-httplib servers, plain and TLS: what the server received and
// what the caller reads back.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "http_test_util.h"
#include "local_servers.h"

namespace qj {
namespace {

using test::Exchange;
using test::LibServer;
using test::Utf8;

struct Seen {
    std::string method;
    std::string body;
    httplib::Headers headers;
    int remotePort = 0;
};

// A server that records every request and answers each path in its own way.
class HttpRequestTest : public ::testing::Test {
protected:
    explicit HttpRequestTest(bool tls = false) : server_(tls) {
        auto& s = server_.server();
        const auto record = [this](const httplib::Request& request, httplib::Response& response) {
            record_(request);
            response.set_content("echo:" + request.body, "text/plain");
        };
        s.Get("/echo", record);
        s.Post("/echo", record);
        s.Put("/echo", record);
        s.Get("/reply", [this](const httplib::Request& request, httplib::Response& response) {
            record_(request);
            response.status = 201;
            response.set_header("X-Reply", Utf8(u8"中文"));
            response.set_header("Set-Cookie", "sid=9; Path=/; HttpOnly");
            response.set_header("Set-Cookie", "lang=deleted");
            response.set_header("Set-Cookie", "fresh=1");
            response.set_content(std::string("bin\0ary", 7), "application/octet-stream");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& response) {
            std::string body(24 << 20, '\0');
            for (std::size_t i = 0; i < body.size(); ++i) {
                body[i] = static_cast<char>(i * 7 % 251);
            }
            response.set_content(body, "application/octet-stream");
        });
        s.Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
            server_.Stall(20000);
            response.set_content("late", "text/plain");
        });
        s.Get("/slow", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 10) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                sink.write("ab", 2);
                return true;
            });
        });
        s.Get("/stall-mid-body", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset > 0) {
                    server_.Stall(20000);
                    sink.done();
                    return true;
                }
                sink.write("first", 5);
                return true;
            });
        });
        const auto redirect = [this](const httplib::Request& request, httplib::Response& response) {
            record_(request);
            const int hops = std::stoi(request.get_param_value("n"));
            const int code = std::stoi(request.get_param_value("code"));
            if (hops == 0) {
                response.set_header("X-Final", "yes");
                response.set_content("arrived", "text/plain");
                return;
            }
            response.set_redirect("/hop?code=" + std::to_string(code) + "&n=" + std::to_string(hops - 1), code);
            response.set_header("X-Hop", "yes");
        };
        s.Get("/hop", redirect);
        s.Post("/hop", redirect);
        s.Put("/hop", redirect);
        server_.Start();
    }

    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    void record_(const httplib::Request& request) {
        std::lock_guard lock(mutex_);
        seen_.push_back({request.method, request.body, request.headers, request.remote_port});
    }

    LibServer server_;
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

TEST_F(HttpRequestTest, PostSendsGbkTextAsUtf8AndDefaultHeaders) {
    Exchange exchange(server_.Url("/echo"));
    exchange.params.method = 1;
    exchange.params.body = "关键词 text";
    const Bytes reply = exchange.Run();

    ASSERT_EQ(seen().size(), 1u);
    const Seen request = seen()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, Utf8(u8"关键词 text"));
    EXPECT_EQ(reply, "echo:" + Utf8(u8"关键词 text"));
    EXPECT_EQ(exchange.status, 200);
    EXPECT_EQ(request.headers.count("Accept"), 1u);
    EXPECT_EQ(request.headers.find("Accept")->second, "*/*");
    EXPECT_EQ(request.headers.find("Referer")->second, server_.Url("/echo"));
    EXPECT_EQ(request.headers.find("Content-Type")->second, "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headers.find("Content-Length")->second, std::to_string(request.body.size()));
    EXPECT_EQ(request.headers.count("Expect"), 0u);
    // The caller's block comes back with the default lines, normalised.
    EXPECT_EQ(exchange.headers.substr(0, 14), "Accept: */*\r\nR");
    EXPECT_TRUE(exchange.error.empty());
}

TEST_F(HttpRequestTest, BodyBytesWinAndTravelByteForByte) {
    const Bytes binary("\x00\xFF\xB0\xA1\r\n", 6);
    Exchange exchange(server_.Url("/echo"));
    exchange.params.method = 3;
    exchange.params.body = "ignored";
    exchange.params.bodyBytes = binary;
    exchange.Run();
    ASSERT_EQ(seen().size(), 1u);
    EXPECT_EQ(seen()[0].method, "PUT");
    EXPECT_EQ(seen()[0].body, binary);
    // PUT gets no default Content-Type and the transport adds none of its own.
    EXPECT_EQ(seen()[0].headers.count("Content-Type"), 0u);
}

TEST_F(HttpRequestTest, ReadsStatusHeadersCookiesAndBinaryBody) {
    Exchange exchange(server_.Url("/reply"));
    Text cookies = "Cookie: sid=1; uid=2";
    Text cookiesOut = "stale";
    exchange.cookies = &cookies;
    exchange.cookiesOut = &cookiesOut;
    const Bytes reply = exchange.Run();

    EXPECT_EQ(reply, std::string("bin\0ary", 7));
    EXPECT_EQ(exchange.status, 201);
    EXPECT_NE(exchange.responseHeaders.find("X-Reply: 中文"), Text::npos);  // converted to GBK
    EXPECT_EQ(exchange.responseHeaders.find("\r\n\r\n"), Text::npos);
    EXPECT_NE(exchange.responseHeaders.substr(exchange.responseHeaders.size() - 2), "\r\n");
    ASSERT_EQ(seen().size(), 1u);
    EXPECT_EQ(seen()[0].headers.find("Cookie")->second, "sid=1; uid=2");
    // The reply's cookies replace the old ones of the same name; the deleted one is gone.
    EXPECT_EQ(cookiesOut, "sid=9; fresh=1; uid=2");
    EXPECT_EQ(cookies, cookiesOut);
}

TEST_F(HttpRequestTest, CookiesWithoutMergingAndWithoutCookieText) {
    Exchange withoutJar(server_.Url("/reply"));
    Text collected;
    withoutJar.cookiesOut = &collected;
    withoutJar.Run();
    EXPECT_EQ(collected, "sid=9; lang=deleted; fresh=1");
    EXPECT_EQ(seen()[0].headers.count("Cookie"), 0u);

    Exchange noMerge(server_.Url("/reply"));
    Text cookies = "a=1";
    Text out;
    noMerge.cookies = &cookies;
    noMerge.cookiesOut = &out;
    noMerge.params.mergeCookies = false;
    noMerge.Run();
    EXPECT_EQ(cookies, "a=1");
    EXPECT_EQ(out, "sid=9; lang=deleted; fresh=1");
}

TEST_F(HttpRequestTest, RedirectsAreFollowedAndOnlyTheFinalHeadersRemain) {
    Exchange exchange(server_.Url("/hop?code=302&n=3"));
    const Bytes reply = exchange.Run();
    EXPECT_EQ(reply, "arrived");
    EXPECT_EQ(exchange.status, 200);
    EXPECT_NE(exchange.responseHeaders.find("X-Final: yes"), Text::npos);
    EXPECT_EQ(exchange.responseHeaders.find("X-Hop"), Text::npos);
    EXPECT_EQ(exchange.responseHeaders.find("Location"), Text::npos);
    EXPECT_EQ(seen().size(), 4u);
}

TEST_F(HttpRequestTest, NoRedirectReturnsTheRedirectItself) {
    Exchange exchange(server_.Url("/hop?code=301&n=2"));
    exchange.params.noRedirect = true;
    exchange.Run();
    EXPECT_EQ(exchange.status, 301);
    EXPECT_NE(exchange.responseHeaders.find("Location: /hop?code=301&n=1"), Text::npos);
    EXPECT_EQ(seen().size(), 1u);
}

TEST_F(HttpRequestTest, PostBecomesGetOn301To303ButPutKeepsItsBodyOn307) {
    for (const char* code : {"301", "302", "303"}) {
        seen_.clear();
        Exchange exchange(server_.Url(std::string("/hop?n=1&code=") + code));
        exchange.params.method = 1;
        exchange.params.body = "payload";
        EXPECT_EQ(exchange.Run(), "arrived") << code;
        ASSERT_EQ(seen().size(), 2u);
        EXPECT_EQ(seen()[0].method, "POST");
        EXPECT_EQ(seen()[1].method, "GET") << code;
        EXPECT_EQ(seen()[1].body, "");
    }
    seen_.clear();
    Exchange put(server_.Url("/hop?n=1&code=307"));
    put.params.method = 3;
    put.params.body = "payload";
    EXPECT_EQ(put.Run(), "arrived");
    ASSERT_EQ(seen().size(), 2u);
    EXPECT_EQ(seen()[1].method, "PUT");
    EXPECT_EQ(seen()[1].body, "payload");
}

TEST_F(HttpRequestTest, TooManyRedirectsFail) {
    Exchange exchange(server_.Url("/hop?code=302&n=11"));
    EXPECT_EQ(exchange.Run(), "");
    EXPECT_EQ(exchange.status, 0);
    EXPECT_EQ(exchange.responseHeaders, "");
    EXPECT_EQ(seen().size(), 11u);
}

TEST_F(HttpRequestTest, EnormousBinaryReplyArrivesWhole) {
    Exchange exchange(server_.Url("/big"));
    const Bytes reply = exchange.Run();
    ASSERT_EQ(reply.size(), 24u << 20);
    bool intact = true;
    for (std::size_t i = 0; i < reply.size() && intact; ++i) {
        intact = reply[i] == static_cast<char>(i * 7 % 251);
    }
    EXPECT_TRUE(intact);
}

TEST_F(HttpRequestTest, AServerThatStopsAnsweringTimesOut) {
    const auto started = std::chrono::steady_clock::now();
    Exchange exchange(server_.Url("/stall"));
    Text cookies = "a=1";
    Text cookiesOut = "x";
    exchange.cookies = &cookies;
    exchange.cookiesOut = &cookiesOut;
    exchange.params.timeoutSeconds = 1;
    EXPECT_EQ(exchange.Run(), "");
    // The idle rule fires after about one second, not after a smoothed low-speed window.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(exchange.status, 0);
    EXPECT_EQ(exchange.responseHeaders, "");
    EXPECT_EQ(cookiesOut, "a=1");
    EXPECT_NE(exchange.error.find("no data moved"), Text::npos) << exchange.error;
}

TEST_F(HttpRequestTest, AStallInTheMiddleOfTheBodyTimesOut) {
    Exchange exchange(server_.Url("/stall-mid-body"));
    exchange.params.timeoutSeconds = 1;
    EXPECT_EQ(exchange.Run(), "");
    EXPECT_EQ(exchange.status, 0);
    EXPECT_EQ(exchange.responseHeaders, "");
}

TEST_F(HttpRequestTest, ASlowReplyThatKeepsComingIsNotCut) {
    // Five chunks 400 ms apart take twice the one-second time-out as a whole.
    Exchange exchange(server_.Url("/slow"));
    exchange.params.timeoutSeconds = 1;
    EXPECT_EQ(exchange.Run(), "ababababab") << exchange.error;
    EXPECT_EQ(exchange.status, 200);
}

// The caller hears of the final response once, on its own thread, when its body begins and before
// the exchange ends; redirects on the way are not reported.
TEST_F(HttpRequestTest, TheStartOfTheFinalReplyIsReportedOnceOnTheCallingThread) {
    for (const std::string path : {"/slow", "/hop?code=302&n=2"}) {
        SCOPED_TRACE(path);
        Exchange exchange(server_.Url(path));
        std::vector<std::pair<int, Text>> calls;
        bool sameThread = true;
        const auto caller = std::this_thread::get_id();
        exchange.params.onResponseStart = [&](int status, const Text& headers) {
            calls.emplace_back(status, headers);
            sameThread &= std::this_thread::get_id() == caller;
        };
        const Bytes body = exchange.Run();
        EXPECT_FALSE(body.empty());
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_TRUE(sameThread);
        EXPECT_EQ(calls[0].first, 200);
        EXPECT_EQ(calls[0].second, exchange.responseHeaders);
        EXPECT_EQ(calls[0].second.find("Location"), Text::npos);
    }
}

TEST_F(HttpRequestTest, TheCancelFlagAbandonsTheExchange) {
    std::atomic<bool> cancel = false;
    Exchange exchange(server_.Url("/stall"));
    exchange.params.timeoutSeconds = 60;
    exchange.params.cancel = &cancel;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    EXPECT_EQ(exchange.Run(), "");
    stopper.join();
    EXPECT_EQ(exchange.status, 0);
    EXPECT_EQ(exchange.error, "cancelled");
}

TEST_F(HttpRequestTest, AReusedInstanceKeepsItsConnectionAndItsSettings) {
    HttpInstance instance;
    Exchange first(server_.Url("/echo"));
    first.params.reuseInstance = &instance;
    first.params.noRedirect = true;
    first.Run();
    Exchange second(server_.Url("/echo"));
    second.params.reuseInstance = &instance;
    second.Run();
    ASSERT_EQ(seen().size(), 2u);
    EXPECT_EQ(seen()[0].remotePort, seen()[1].remotePort);

    // Redirects stay switched off for the handle, as the first request left it.
    Exchange third(server_.Url("/hop?code=302&n=1"));
    third.params.reuseInstance = &instance;
    third.Run();
    EXPECT_EQ(third.status, 302);
}

TEST_F(HttpRequestTest, RequestsOnSeveralThreadsAtOnceShareNothing) {
    std::vector<std::thread> threads;
    std::atomic<int> good = 0;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            HttpInstance instance;
            for (int k = 0; k < 10; ++k) {
                Exchange exchange(server_.Url("/echo"));
                exchange.params.method = 1;
                exchange.params.body = std::to_string(t * 100 + k);
                exchange.params.reuseInstance = k % 2 ? &instance : nullptr;
                if (exchange.Run() == "echo:" + std::to_string(t * 100 + k) && exchange.status == 200) {
                    ++good;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good, 40);
}

TEST_F(HttpRequestTest, FailuresGiveEmptyValuesButTheTextStepsStillRun) {
    const char* urls[] = {"127.0.0.1/echo", "ftp://127.0.0.1/x", "", "http://127.0.0.1:1/refused"};
    for (const char* url : urls) {
        Exchange exchange(url);
        Text cookies = "Cookie: a=1; gone=deleted";
        Text cookiesOut = "stale";
        exchange.cookies = &cookies;
        exchange.cookiesOut = &cookiesOut;
        EXPECT_EQ(exchange.Run(), "") << url;
        EXPECT_EQ(exchange.status, 0) << url;
        EXPECT_EQ(exchange.responseHeaders, "") << url;
        EXPECT_FALSE(exchange.error.empty()) << url;
        EXPECT_EQ(cookiesOut, "a=1") << url;
        EXPECT_EQ(cookies, "a=1") << url;
        EXPECT_NE(exchange.headers.find("User-Agent: "), Text::npos) << url;
    }
}

class HttpsRequestTest : public HttpRequestTest {
protected:
    HttpsRequestTest() : HttpRequestTest(true) {}
};

TEST_F(HttpsRequestTest, ASelfSignedCertificateIsAccepted) {
    // Without a TLS library on Windows the server is the Linux peer, which echoes the same way.
    const std::string url = test::kInProcessTls ? server_.Url("/echo") : test::PeerTlsUrl("/echo");
    ASSERT_EQ(url.rfind("https://", 0), 0u) << "no TLS server";
    Exchange exchange(url);
    exchange.params.method = 1;
    exchange.params.body = "over tls";
    EXPECT_EQ(exchange.Run(), "echo:over tls");
    EXPECT_EQ(exchange.status, 200);
    if (test::kInProcessTls) {
        ASSERT_EQ(seen().size(), 1u);
        EXPECT_EQ(seen()[0].body, "over tls");
    }
}

}  // namespace
}  // namespace qj
