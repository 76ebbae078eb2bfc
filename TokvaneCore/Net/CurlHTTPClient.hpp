#pragma once

#include <cstddef>

#include "TokvaneCore/Net/HTTPClient.hpp"

namespace tokvane {

// The HTTP client over libcurl. Each request gets its own handle and keeps
// nothing afterwards: no cookies, no credential store, no cache, no .netrc.
// Redirects are never followed (a 3xx is returned as the answer), every
// request is bounded to 15 s whatever it asks for, only HTTPS is spoken
// (plain HTTP only to a loopback address), and an answer's body is capped.
// Safe to use from several threads at once.
class CurlHTTPClient final : public HTTPClient {
 public:
  static constexpr long requestTimeoutMilliseconds = 15000;
  static constexpr size_t maxBodyBytes = 1024 * 1024;

  CurlHTTPClient();
  HTTPResponse send(const HTTPRequest& request) override;
};

}  // namespace tokvane
