#include "TokvaneCore/Net/CurlHTTPClient.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <string_view>

namespace tokvane {

namespace {

constexpr size_t maxHeaderBytes = 1024 * 1024;

CURLcode globalInitResult = CURLE_OK;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { globalInitResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (globalInitResult != CURLE_OK) throw HTTPTransportError("the HTTP library could not be initialised");
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct URLDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using URLHandle = std::unique_ptr<CURLU, URLDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// What the callbacks collect during one exchange.
struct Exchange {
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  size_t headerBytes = 0;
  bool bodyTooLarge = false;
  bool headersTooLarge = false;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
  auto& exchange = *static_cast<Exchange*>(context);
  const size_t bytes = size * count;
  if (bytes > CurlHTTPClient::maxBodyBytes - exchange.body.size()) {
    exchange.bodyTooLarge = true;
    return 0;  // aborts the transfer
  }
  exchange.body.append(data, bytes);
  return bytes;
}

size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
  auto& exchange = *static_cast<Exchange*>(context);
  const size_t bytes = size * count;
  exchange.headerBytes += bytes;
  if (exchange.headerBytes > maxHeaderBytes) {
    exchange.headersTooLarge = true;
    return 0;
  }
  const std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    // A new status line: an interim answer's headers are not the final ones.
    exchange.headers.clear();
    return bytes;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return bytes;
  exchange.headers.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                std::string(trimmed(line.substr(colon + 1))));
  return bytes;
}

bool isTokenCharacter(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

// A header value must not be able to end its line and start another.
bool isSafeHeaderValue(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool isLoopbackHost(std::string_view host) {
  return host == "127.0.0.1" || host == "[::1]" || equalsIgnoringCase(host, "localhost");
}

template <typename Value>
void setOption(CURL* handle, CURLoption option, Value value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw HTTPTransportError("the HTTP library refused a request setting");
  }
}

}  // namespace

CurlHTTPClient::CurlHTTPClient() { initialiseCurlOnce(); }

HTTPResponse CurlHTTPClient::send(const HTTPRequest& request) {
  initialiseCurlOnce();

  // The address: parsed once, and only HTTPS, or HTTP to this machine.
  URLHandle url(curl_url());
  if (!url) throw HTTPTransportError("out of memory");
  if (curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
    throw HTTPTransportError("the request address is not a valid URL");
  }
  char* rawScheme = nullptr;
  char* rawHost = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &rawScheme, 0) != CURLUE_OK) {
    throw HTTPTransportError("the request address has no scheme");
  }
  const CurlString scheme(rawScheme);
  if (curl_url_get(url.get(), CURLUPART_HOST, &rawHost, 0) != CURLUE_OK) {
    throw HTTPTransportError("the request address has no host");
  }
  const CurlString host(rawHost);
  const bool loopback = isLoopbackHost(host.get());
  const std::string_view schemeText(scheme.get());
  const char* allowedProtocol = nullptr;
  if (equalsIgnoringCase(schemeText, "https")) {
    allowedProtocol = "https";
  } else if (equalsIgnoringCase(schemeText, "http") && loopback) {
    allowedProtocol = "http";
  } else {
    throw HTTPTransportError("only HTTPS addresses are allowed");
  }

  if (!isToken(request.method)) throw HTTPTransportError("the request method is not valid");
  HeaderList headerList;
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isSafeHeaderValue(value)) throw HTTPTransportError("a request header is not valid");
    // "Name;" is how an empty value is sent rather than removing the header.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist* extended = curl_slist_append(headerList.get(), line.c_str());
    if (!extended) throw HTTPTransportError("out of memory");
    headerList.release();
    headerList.reset(extended);
  }

  EasyHandle handle(curl_easy_init());
  if (!handle) throw HTTPTransportError("the HTTP library could not start a request");
  CURL* easy = handle.get();
  Exchange exchange;

  setOption(easy, CURLOPT_NOSIGNAL, 1L);
  setOption(easy, CURLOPT_CURLU, url.get());
  setOption(easy, CURLOPT_PROTOCOLS_STR, allowedProtocol);
  setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocol);
  setOption(easy, CURLOPT_FOLLOWLOCATION, 0L);
  setOption(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
  setOption(easy, CURLOPT_TIMEOUT_MS, requestTimeoutMilliseconds);
  setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, requestTimeoutMilliseconds);
  setOption(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBodyBytes));
  // A proxy cannot reach this machine's loopback interface.
  if (loopback) setOption(easy, CURLOPT_NOPROXY, "*");
  if (request.method == "GET") {
    setOption(easy, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "HEAD") {
    setOption(easy, CURLOPT_NOBODY, 1L);
  } else {
    setOption(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (headerList) setOption(easy, CURLOPT_HTTPHEADER, headerList.get());
  setOption(easy, CURLOPT_WRITEFUNCTION, &receiveBody);
  setOption(easy, CURLOPT_WRITEDATA, static_cast<void*>(&exchange));
  setOption(easy, CURLOPT_HEADERFUNCTION, &receiveHeader);
  setOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(&exchange));

  const CURLcode result = curl_easy_perform(easy);
  if (exchange.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    throw HTTPTransportError("the answer is larger than 1 MiB");
  }
  if (exchange.headersTooLarge) throw HTTPTransportError("the answer's headers are too large");
  if (result != CURLE_OK) throw HTTPTransportError(std::string("the request failed: ") + curl_easy_strerror(result));

  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 100 || status > 999) {
    throw HTTPTransportError("the answer is not an HTTP response");
  }
  HTTPResponse response;
  response.status = static_cast<int>(status);
  response.headers = std::move(exchange.headers);
  response.body = std::move(exchange.body);
  return response;
}

}  // namespace tokvane
