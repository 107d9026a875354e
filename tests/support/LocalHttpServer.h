// A tiny HTTP server on 127.0.0.1 for tests: a handler maps each request path to a canned
// response, one thread per connection. It listens on the loopback address only, so tests that
// fetch from it never reach another machine.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class LocalHttpServer {
 public:
  struct Response {
    std::string bytes;   // status line, headers and body, sent as they are
    bool stall = false;  // after sending, keep the connection open until the client leaves
    // Sends the body `dripBytes` at a time, `dripMs` apart (0: at once).
    size_t dripBytes = 0;
    int dripMs = 0;
  };
  using Handler = std::function<Response(const std::string& path)>;

  // A complete response with Content-Length and "Connection: close"; `headers` end in "\r\n".
  static Response Reply(int status, const std::string& body, const std::string& headers = "") {
    return {"HTTP/1.1 " + std::to_string(status) + " Canned\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n" + headers + "\r\n" + body};
  }
  // Answers every request with `body`.
  static Handler Always(const std::string& body) {
    return [body](const std::string&) { return Reply(200, body); };
  }
  static Response Redirect(const std::string& location) { return Reply(302, "", "Location: " + location + "\r\n"); }
  static Response Drip(const std::string& body, size_t bytes, int ms) {
    Response response = Reply(200, body);
    response.dripBytes = bytes;
    response.dripMs = ms;
    return response;
  }

  explicit LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (listener_ < 0 || ::bind(listener_, any, length) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, any, &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
      while (!stop_) {
        int client = WaitReadable(listener_, 50) ? ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (client >= 0) connections_.emplace_back([this, client] { Serve(client); });
      }
    });
  }

  ~LocalHttpServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& t : connections_) t.join();
    if (listener_ >= 0) ::close(listener_);
  }

  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // 0 when the server could not listen.
  int Port() const { return port_; }
  // "<scheme>://127.0.0.1:<port><path>".
  std::string Url(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Requests() const { return requests_; }

  // A proxy named in the environment would carry requests away from the loopback server; call
  // before the first request of the process.
  static void BypassProxies() {
    ::setenv("no_proxy", "*", 1);
    ::setenv("NO_PROXY", "*", 1);
  }

 private:
  // Waits up to `ms` for input (or the peer leaving); false also when the server is stopping.
  bool WaitReadable(int fd, int ms) {
    pollfd waiting{fd, POLLIN, 0};
    for (int waited = 0; waited < ms && !stop_; waited += 50)
      if (::poll(&waiting, 1, 50) > 0) return true;
    return false;
  }

  void Serve(int client) {
    std::string head;
    char buffer[4096];
    // Not a plain request (a TLS handshake, say): answer at once instead of waiting for more.
    for (ssize_t got; head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
                      (head.empty() || (head[0] >= 'A' && head[0] <= 'Z')) && WaitReadable(client, 5000) &&
                      (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
      head.append(buffer, size_t(got));
    ++requests_;
    size_t pathStart = head.find(' '), pathEnd = head.find(' ', pathStart + 1);
    Response response = pathStart != std::string::npos && pathEnd != std::string::npos &&
                                head.find("\r\n\r\n") != std::string::npos
                            ? handler_(head.substr(pathStart + 1, pathEnd - pathStart - 1))
                            : Reply(400, "");
    const size_t bodyStart = response.dripMs > 0 ? response.bytes.find("\r\n\r\n") + 4 : response.bytes.size();
    for (size_t sent = 0; sent < response.bytes.size() && !stop_;) {
      size_t end = sent < bodyStart ? bodyStart : std::min(response.bytes.size(), sent + response.dripBytes);
      if (sent >= bodyStart) std::this_thread::sleep_for(std::chrono::milliseconds(response.dripMs));
      ssize_t n = ::send(client, response.bytes.data() + sent, end - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += size_t(n);
    }
    while (response.stall && WaitReadable(client, 60000) && ::recv(client, buffer, sizeof buffer, 0) > 0) {
    }
    ::shutdown(client, SHUT_RDWR);
    ::close(client);
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // touched by the acceptor only, joined after it ends
};

}  // namespace testsupport
