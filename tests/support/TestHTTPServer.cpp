#include "tests/support/TestHTTPServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace tokvane::testing {

namespace {

constexpr size_t maxRequestBytes = 4 * 1024 * 1024;

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

void sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return;  // the client went away
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

// Reads one request; none when the client closed or sent garbage.
std::optional<RecordedRequest> readRequest(int fd) {
  std::string data;
  char buffer[16384];
  size_t headerEnd = std::string::npos;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || data.size() > maxRequestBytes) return std::nullopt;
    data.append(buffer, static_cast<size_t>(got));
  }
  RecordedRequest request;
  std::string_view head(data.data(), headerEnd);
  const auto firstLineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, firstLineEnd);
  const auto space1 = requestLine.find(' ');
  const auto space2 = requestLine.find(' ', space1 + 1);
  if (space1 == std::string_view::npos || space2 == std::string_view::npos) return std::nullopt;
  request.method = std::string(requestLine.substr(0, space1));
  const std::string_view target = requestLine.substr(space1 + 1, space2 - space1 - 1);
  const auto question = target.find('?');
  request.path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) request.query = std::string(target.substr(question + 1));

  size_t contentLength = 0;
  std::string_view rest = firstLineEnd == std::string_view::npos ? std::string_view() : head.substr(firstLineEnd + 2);
  while (!rest.empty()) {
    const auto end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name(trimmed(line.substr(0, colon)));
    std::string value(trimmed(line.substr(colon + 1)));
    if (sameNameIgnoringCase(name, "Content-Length")) {
      contentLength = 0;
      for (const char c : value) {
        if (c < '0' || c > '9' || contentLength > maxRequestBytes) return std::nullopt;
        contentLength = contentLength * 10 + static_cast<size_t>(c - '0');
      }
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  }
  if (contentLength > maxRequestBytes) return std::nullopt;
  request.body = data.substr(headerEnd + 4);
  while (request.body.size() < contentLength) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    request.body.append(buffer, static_cast<size_t>(got));
  }
  return request;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameNameIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

TestHTTPServer::TestHTTPServer(bool allInterfaces) : handler_([](const RecordedRequest&) { return CannedResponse{}; }) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("test server: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(allInterfaces ? INADDR_ANY : INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error("test server: bind/listen failed");
  }
  port_ = ntohs(address.sin_port);
  wakeFD_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFD_ < 0) {
    ::close(listener_);
    throw std::runtime_error("test server: eventfd failed");
  }
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHTTPServer::~TestHTTPServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  const uint64_t one = 1;
  [[maybe_unused]] const auto ignored = ::write(wakeFD_, &one, sizeof one);
  acceptThread_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& thread : connections) thread.join();
  ::close(listener_);
  ::close(wakeFD_);
}

std::string TestHTTPServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestHTTPServer::respondWith(CannedResponse response) {
  respondWith(Handler([response](const RecordedRequest&) { return response; }));
}

void TestHTTPServer::respondWith(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> TestHTTPServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t TestHTTPServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void TestHTTPServer::acceptLoop() {
  while (true) {
    pollfd entries[2] = {{listener_, POLLIN, 0}, {wakeFD_, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents != 0) return;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(connection);
      return;
    }
    connections_.emplace_back([this, connection] { serve(connection); });
  }
}

void TestHTTPServer::serve(int connection) {
  timeval timeout{5, 0};
  ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const auto request = readRequest(connection);
  if (!request) {
    ::close(connection);
    return;
  }
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(*request);
    handler = handler_;
  }
  const CannedResponse response = handler(*request);
  if (response.delaySeconds > 0) {
    std::unique_lock lock(mutex_);
    const bool stopping = stopped_.wait_for(lock, std::chrono::duration<double>(response.delaySeconds),
                                            [this] { return stopping_; });
    if (stopping) {
      lock.unlock();
      ::close(connection);
      return;
    }
  }
  if (response.raw) {
    sendAll(connection, *response.raw);
    ::shutdown(connection, SHUT_WR);
    ::close(connection);
    return;
  }
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Status\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  if (!response.omitContentLength) head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  sendAll(connection, head);
  sendAll(connection, response.body);
  ::shutdown(connection, SHUT_WR);
  ::close(connection);
}

}  // namespace tokvane::testing
