#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tokvane {

struct HTTPRequest {
  std::string url;
  std::string method = "GET";
  // Sent in this order, each as "Name: value".
  std::vector<std::pair<std::string, std::string>> headers;
  // Seconds the caller would allow; the client applies its own bound instead.
  double timeout = 60;
};

struct HTTPResponse {
  int status = 0;
  // As received, in order; names keep the server's spelling.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// Any failure to complete an exchange: no connection, timeout, TLS failure,
// an address the client refuses, an answer that is not HTTP or is too large.
// The message never carries the address, a header or a token.
class HTTPTransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one seam through which the limits providers reach the network.
// Every status code is an answer, not an error; callers interpret it.
class HTTPClient {
 public:
  virtual ~HTTPClient() = default;
  // Sends one request and waits for its answer. Throws HTTPTransportError.
  virtual HTTPResponse send(const HTTPRequest& request) = 0;
};

}  // namespace tokvane
