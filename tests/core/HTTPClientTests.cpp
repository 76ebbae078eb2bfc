#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Net/CurlHTTPClient.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

using testing::CannedResponse;
using testing::TestHTTPServer;

HTTPRequest get(std::string url, std::vector<std::pair<std::string, std::string>> headers = {}) {
  HTTPRequest request;
  request.url = std::move(url);
  request.headers = std::move(headers);
  return request;
}

std::optional<std::string> headerOf(const HTTPResponse& response, std::string_view name) {
  for (const auto& [key, value] : response.headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

// A loopback port on which nothing listens.
uint16_t closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// An IPv4 address of this machine that is not a loopback one, or none.
std::optional<std::string> nonLoopbackAddress() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::string> found;
  for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) found = text;
  }
  ::freeifaddrs(list);
  return found;
}

TEST(CurlHTTPClient, SendsOneRequestWithItsHeadersAndReturnsTheAnswer) {
  TestHTTPServer server;
  server.respondWith(CannedResponse{200, {{"X-Answer", "yes"}, {"Content-Type", "application/json"}}, "{\"a\":1}"});
  CurlHTTPClient client;

  const HTTPResponse response = client.send(
      get(server.baseURL() + "/api/usage?x=1", {{"Authorization", "Bearer abc"}, {"User-Agent", "Tokvane/9"}}));

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "{\"a\":1}");
  EXPECT_EQ(headerOf(response, "X-Answer"), "yes");
  EXPECT_EQ(headerOf(response, "Content-Type"), "application/json");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/api/usage");
  EXPECT_EQ(requests[0].query, "x=1");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer abc");
  EXPECT_EQ(requests[0].header("User-Agent"), "Tokvane/9");
  EXPECT_TRUE(requests[0].body.empty());
  EXPECT_FALSE(requests[0].header("Content-Length").has_value());
  EXPECT_FALSE(requests[0].header("Cookie").has_value());
  EXPECT_FALSE(requests[0].header("Authorization").value().empty());
}

TEST(CurlHTTPClient, ReturnsEveryStatusAsAnAnswerAndNeverFollowsARedirect) {
  TestHTTPServer server;
  TestHTTPServer elsewhere;
  CurlHTTPClient client;
  for (const int status : {201, 301, 302, 303, 307, 308, 400, 401, 403, 404, 429, 500, 503}) {
    SCOPED_TRACE(status);
    const std::string body = "body of " + std::to_string(status);
    server.respondWith(CannedResponse{status, {{"Location", elsewhere.baseURL() + "/stolen"}}, body});
    const HTTPResponse response = client.send(get(server.baseURL() + "/x", {{"Authorization", "Bearer secret"}}));
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(response.body, body);
    EXPECT_EQ(headerOf(response, "Location"), elsewhere.baseURL() + "/stolen");
  }
  EXPECT_EQ(elsewhere.requestCount(), 0u);
}

TEST(CurlHTTPClient, KeepsNoCookiesAndNoCacheBetweenRequests) {
  TestHTTPServer server;
  server.respondWith(CannedResponse{200,
                                    {{"Set-Cookie", "session=abc; Path=/"},
                                     {"Cache-Control", "max-age=3600"},
                                     {"ETag", "\"v1\""},
                                     {"Last-Modified", "Wed, 01 Oct 2025 12:00:00 GMT"}},
                                    "first"});
  CurlHTTPClient client;
  EXPECT_EQ(client.send(get(server.baseURL() + "/same")).body, "first");
  server.respondWith(CannedResponse{200, {}, "second"});
  EXPECT_EQ(client.send(get(server.baseURL() + "/same")).body, "second");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_FALSE(request.header("Cookie").has_value());
    EXPECT_FALSE(request.header("If-None-Match").has_value());
    EXPECT_FALSE(request.header("If-Modified-Since").has_value());
  }
}

TEST(CurlHTTPClient, RefusesAnAnswerLargerThanOneMebibyte) {
  struct Case {
    size_t size;
    bool withLength;
    bool accepted;
  };
  const size_t limit = CurlHTTPClient::maxBodyBytes;
  const Case cases[] = {
      {limit, true, true},
      {limit + 1, true, false},
      {limit, false, true},
      {limit + 1, false, false},
      {8 * limit, false, false},
  };
  TestHTTPServer server;
  CurlHTTPClient client;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.withLength ? " with length" : " without length"));
    CannedResponse canned{200, {}, std::string(c.size, 'x')};
    canned.omitContentLength = !c.withLength;
    server.respondWith(canned);
    if (c.accepted) {
      EXPECT_EQ(client.send(get(server.baseURL() + "/big")).body.size(), c.size);
    } else {
      EXPECT_THROW(client.send(get(server.baseURL() + "/big")), HTTPTransportError);
    }
  }
}

TEST(CurlHTTPClient, SpeaksPlainHTTPOnlyToTheLoopbackAddress) {
  // Listening everywhere: a refused address would otherwise reach it.
  TestHTTPServer server(/*allInterfaces=*/true);
  CurlHTTPClient client;
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(client.send(get("http://localhost:" + port + "/ok")).status, 200);
  EXPECT_EQ(client.send(get("HTTP://127.0.0.1:" + port + "/ok")).status, 200);
  const size_t reached = server.requestCount();
  ASSERT_EQ(reached, 2u);

  std::vector<std::string> refused = {
      "http://example.com/api/oauth/usage",
      "http://10.0.0.1:" + port + "/",
      "http://127.0.0.2:" + port + "/",
      "http://127.0.0.1.example.com:" + port + "/",
      "http://localhost.example.com:" + port + "/",
      "ftp://127.0.0.1:" + port + "/",
      "file:///etc/passwd",
      "gopher://127.0.0.1:" + port + "/",
      "127.0.0.1:" + port + "/no-scheme",
      "not a url",
      "",
  };
  if (const auto address = nonLoopbackAddress()) {
    refused.push_back("http://" + *address + ":" + port + "/api/oauth/usage");
  } else {
    std::cout << "note: no non-loopback IPv4 address; plain HTTP to one is not exercised\n";
  }
  for (const auto& url : refused) {
    SCOPED_TRACE(url);
    EXPECT_THROW(client.send(get(url)), HTTPTransportError);
  }
  EXPECT_EQ(server.requestCount(), reached);
}

TEST(CurlHTTPClient, RefusesHeadersThatCouldSplitTheRequest) {
  TestHTTPServer server;
  CurlHTTPClient client;
  const std::vector<std::pair<std::string, std::string>> bad[] = {
      {{"Authorization", "Bearer abc\r\nX-Injected: 1"}},
      {{"Authorization", "Bearer abc\nX-Injected: 1"}},
      {{"Authorization", std::string("Bearer abc\0def", 14)}},
      {{"Bad Name", "v"}},
      {{"Bad:Name", "v"}},
      {{"", "v"}},
  };
  for (const auto& headers : bad) {
    EXPECT_THROW(client.send(get(server.baseURL() + "/x", headers)), HTTPTransportError);
  }
  HTTPRequest badMethod = get(server.baseURL() + "/x");
  badMethod.method = "GET /evil HTTP/1.1\r\n";
  EXPECT_THROW(client.send(badMethod), HTTPTransportError);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(CurlHTTPClient, FailsInTransportWhenNoHTTPAnswerComes) {
  CurlHTTPClient client;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(client.send(get("http://127.0.0.1:" + std::to_string(closedPort()) + "/")), HTTPTransportError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

  TestHTTPServer server;
  for (const char* raw : {"", "garbage without a status line\r\n\r\n", "HTTP/1.1 abc Nope\r\n\r\n",
                          "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"}) {
    SCOPED_TRACE(raw);
    CannedResponse canned;
    canned.raw = raw;
    server.respondWith(canned);
    EXPECT_THROW(client.send(get(server.baseURL() + "/")), HTTPTransportError);
  }
}

TEST(CurlHTTPClient, ServesSeveralThreadsAtOnce) {
  TestHTTPServer server;
  server.respondWith([](const testing::RecordedRequest& request) {
    CannedResponse canned{200, {}, "answer to " + request.path};
    canned.delaySeconds = 0.2;
    return canned;
  });
  CurlHTTPClient client;
  std::vector<std::future<HTTPResponse>> answers;
  for (int i = 0; i < 6; ++i) {
    answers.push_back(std::async(std::launch::async, [&, i] {
      return client.send(get(server.baseURL() + "/r" + std::to_string(i)));
    }));
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(answers[i].get().body, "answer to /r" + std::to_string(i));
}

}  // namespace
}  // namespace tokvane
