#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tokvane::testing {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// A request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string path;   // without the query
  std::string query;  // after "?", empty when none
  HeaderFields headers;
  std::string body;

  // The first header of that name (any letter case), or none.
  std::optional<std::string> header(std::string_view name) const;
};

// What the server answers.
struct CannedResponse {
  int status = 200;
  HeaderFields headers;  // sent as given (Location, Set-Cookie, ...)
  std::string body;
  // Waits this long before answering (cut short when the server stops).
  double delaySeconds = 0;
  // Leaves out Content-Length, so the body ends when the connection closes.
  bool omitContentLength = false;
  // Sent verbatim in place of a well-formed answer (a misbehaving server).
  std::optional<std::string> raw;
};

// A small HTTP/1.1 server on 127.0.0.1 with a port of the system's choosing.
// Each connection carries one request, which is recorded and answered with
// the configured response; connections are served on their own threads.
class TestHTTPServer {
 public:
  using Handler = std::function<CannedResponse(const RecordedRequest&)>;

  // Listens on 127.0.0.1, or with `allInterfaces` on every IPv4 address of
  // this machine (to show that a request to a non-loopback address is refused).
  explicit TestHTTPServer(bool allInterfaces = false);
  ~TestHTTPServer();
  TestHTTPServer(const TestHTTPServer&) = delete;
  TestHTTPServer& operator=(const TestHTTPServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseURL() const;

  void respondWith(CannedResponse response);
  void respondWith(Handler handler);

  std::vector<RecordedRequest> requests() const;
  size_t requestCount() const;

 private:
  void acceptLoop();
  void serve(int connection);

  int listener_ = -1;
  int wakeFD_ = -1;
  uint16_t port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> connections_;
};

}  // namespace tokvane::testing
