#pragma once

// A loopback HTTP server that keeps the exact bytes of every request and
// answers with exactly the bytes a test scripts, one connection per thread.
// An answer can also hang up after its bytes (none: without a word), send
// its bytes and then stall until the server stops (for time-outs and
// cancels), trickle them one every half second, or follow them with an
// endless body until the client goes.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orv::test {

class RawHttpServer {
public:
  struct Answer {
    std::string bytes;
    enum { Send, HangUp, Stall, Trickle, Endless } then = Send;
  };
  using Script = std::function<Answer(const std::string& request)>;

  static Answer Reply(std::string bytes) { return {std::move(bytes), Answer::Send}; }
  static Answer HangUp(std::string bytes = {}) { return {std::move(bytes), Answer::HangUp}; }
  static Answer Stall(std::string bytes = {}) { return {std::move(bytes), Answer::Stall}; }
  static Answer Trickle(std::string bytes) { return {std::move(bytes), Answer::Trickle}; }
  static Answer Endless(std::string head) { return {std::move(head), Answer::Endless}; }
  // A whole response with a Content-Length.
  static std::string Response(int status, const std::string& reason, const std::string& body,
                              const std::string& headers = {}) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  explicit RawHttpServer(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0)
      std::abort();
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~RawHttpServer() { Stop(); }
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int Port() const { return port_; }
  std::string URL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // Waits until that many requests have arrived; false after ten seconds.
  bool WaitForRequests(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return requests_.size() >= count; });
  }

  // Ends stalled answers and every connection.
  void Stop() {
    if (stopping_.exchange(true)) return;
    ::shutdown(listener_, SHUT_RDWR);
    {
      std::lock_guard lock(mutex_);
      for (int connection : connections_) ::shutdown(connection, SHUT_RDWR);
      released_.notify_all();
    }
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    ::close(listener_);
  }

private:
  void AcceptLoop() {
    for (;;) {
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) return;
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ::close(connection);
        return;
      }
      connections_.push_back(connection);
      workers_.emplace_back([this, connection] { Serve(connection); });
    }
  }

  // One request's bytes, as far as its Content-Length says; empty when the
  // peer went away first.
  static std::string ReadRequest(int connection, std::string& buffer) {
    for (;;) {
      const auto end = buffer.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t length = 0;
        std::string head = buffer.substr(0, end);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
        if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos)
          length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
        if (buffer.size() >= end + 4 + length) {
          std::string request = buffer.substr(0, end + 4 + length);
          buffer.erase(0, request.size());
          return request;
        }
      }
      char chunk[4096];
      const ssize_t count = ::recv(connection, chunk, sizeof chunk, 0);
      if (count <= 0) return {};
      buffer.append(chunk, std::size_t(count));
    }
  }

  void Serve(int connection) {
    std::string buffer;
    for (;;) {
      const std::string request = ReadRequest(connection, buffer);
      if (request.empty()) break;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        arrived_.notify_all();
      }
      const Answer answer = script_(request);
      if (answer.then == Answer::Trickle) {
        TrickleOut(connection, answer.bytes);
        break;
      }
      ::send(connection, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
      if (answer.then == Answer::HangUp) break;
      if (answer.then == Answer::Endless) {
        const std::string block(64 * 1024, 'e');
        while (!stopping_ && ::send(connection, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
        }
        break;
      }
      if (answer.then == Answer::Stall) {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return stopping_.load(); });
        break;
      }
    }
    {
      std::lock_guard lock(mutex_);
      std::erase(connections_, connection);
    }
    ::close(connection);
  }

  // One byte every half second, until the bytes end, the client goes or
  // the server stops.
  void TrickleOut(int connection, const std::string& bytes) {
    for (const char byte : bytes) {
      if (::send(connection, &byte, 1, MSG_NOSIGNAL) != 1) return;
      std::unique_lock lock(mutex_);
      if (released_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_.load(); })) return;
    }
  }

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::condition_variable released_;
  std::vector<std::string> requests_;
  std::vector<int> connections_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace orv::test
