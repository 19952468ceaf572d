#pragma once

// What the HTTP engine's server side and its connections share: its state.

#include "httpengine.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

namespace httpengine
{
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

class Connection;
} // namespace httpengine

struct HttpEngine::State {
    using Connection = httpengine::Connection;
    using ErrorCode = httpengine::ErrorCode;
    using tcp = httpengine::tcp;
    // First, so that it is destroyed last: the connections' sockets are its.
    httpengine::asio::io_context ioc{1};
    httpengine::asio::executor_work_guard<httpengine::asio::io_context::executor_type> work{
        ioc.get_executor()};
    tcp::acceptor acceptor{ioc};
    // After accept() failed (no descriptor left, say): a pause before the
    // next try, since the connection waiting in the backlog would wake the
    // loop again at once, for ever.
    httpengine::asio::steady_timer acceptPause{ioc};
    bool acceptFailing = false;
    std::thread thread;
    Limits limits;
    Handler handler;
    HeaderCheck check;
    std::unordered_map<Connection *, std::shared_ptr<Connection>> live;
    std::unordered_map<std::string, int> perAddress;
    std::atomic<int> count{0};
    qint64 bodiesInFlight = 0;
    bool stopping = false;
    std::function<void()> stopped;
    std::weak_ptr<State> self;

    void accept();
    void acceptFailed(const ErrorCode &ec);
    void admit(tcp::socket socket);
    void ended(Connection *c, const std::string &address);
    void dropIdle(); // the connections waiting for their next request
};
