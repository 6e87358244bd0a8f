#include "server.hpp"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "connection_threads.hpp"
#include "event_line.hpp"
#include "routes.hpp"

namespace ombrel::devserver {

namespace {

std::string now() {
  return clock_text(std::chrono::system_clock::now());
}

void respond(httplib::Response& response, int status, const Json& body) {
  response.status = status;
  response.set_content(compact(body), "application/json");
}

void refuse(httplib::Response& response, int status, std::string_view message) {
  respond(response, status, error_body(message));
}

// Errors that cpp-httplib produces itself (unparsable request, body too large, unknown
// method) get the same JSON form as the server's own refusals.
httplib::Server::HandlerResponse describe_error(const httplib::Request&,
                                                httplib::Response& response) {
  if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
  std::string message = "request failed";
  if (response.status == 400) message = "malformed HTTP request";
  if (response.status == 404) message = "no such endpoint";
  if (response.status == 413) message = "the body is too large";
  if (response.status == 414) message = "the request target is too long";
  refuse(response, response.status, message);
  return httplib::Server::HandlerResponse::Handled;
}

void warn(std::string_view text) {
  std::string line = "ombrel-devserver: " + std::string(text) + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

DevServer::DevServer(Policy policy, Console& console, EventsFile* events)
    : policy_(std::move(policy)),
      console_(console),
      events_(events),
      http_(std::make_unique<httplib::Server>()) {
  http_->new_task_queue = [] { return new ConnectionThreads(kMaxConnections); };
  // One request per connection: the launcher reads an answer until the server closes.
  http_->set_keep_alive_max_count(1);
  http_->set_payload_max_length(kMaxBodyBytes);
  // Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, which would let a second
  // server bind the same port and quietly take half of the connections. The descriptor is
  // kept for bind(); the last one offered is the one that got bound.
  http_->set_socket_options([this](int fd) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    listen_fd_ = fd;
  });
  http_->set_error_handler(httplib::Server::HandlerWithResponse(describe_error));
  http_->set_exception_handler([](const httplib::Request&, httplib::Response& response,
                                  std::exception_ptr) { refuse(response, 500, "internal error"); });

  auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    handle(request, response);
  };
  // Every method reaches the same handler, so that a wrong method on a known path is told
  // apart (405) from an unknown path (404).
  const std::string any = ".*";
  http_->Post(any, dispatch);
  http_->Get(any, dispatch);
  http_->Put(any, dispatch);
  http_->Patch(any, dispatch);
  http_->Delete(any, dispatch);
  http_->Options(any, dispatch);
}

DevServer::~DevServer() {
  stop();
}

Result<ListenAddress> DevServer::bind(const ListenAddress& address) {
  ListenAddress bound = address;
  if (address.port == 0) {
    bound.port = http_->bind_to_any_port(address.host);
    if (bound.port < 0) bound.port = 0;
  } else if (!http_->bind_to_port(address.host, address.port)) {
    bound.port = 0;
  }
  if (bound.port == 0) {
    return fail("cannot listen on " + url_of(address) +
                ": the address is in use or not available on this machine");
  }
  // The library listens with a backlog of 5; a burst of hooks connecting at once would
  // then see connections dropped and retried a second later. Listening again only raises
  // the backlog.
  if (listen_fd_ >= 0) ::listen(listen_fd_, SOMAXCONN);
  return bound;
}

Status DevServer::run() {
  {
    std::lock_guard lock(run_mutex_);
    if (stopping_) return {};
    running_ = true;
  }
  const bool served = http_->listen_after_bind();
  bool asked_to_stop = false;
  {
    std::lock_guard lock(run_mutex_);
    running_ = false;
    asked_to_stop = stopping_;
  }
  run_changed_.notify_all();
  if (!served && !asked_to_stop) return fail("accepting connections failed");
  return {};
}

std::size_t DevServer::stop() {
  const std::size_t released = board_.close();
  std::unique_lock lock(run_mutex_);
  stopping_ = true;
  // A stop that comes between run()'s check and the listening loop's start is not seen by
  // the library, so it is repeated until run() has returned.
  while (running_) {
    http_->stop();
    run_changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
  return released;
}

void DevServer::handle(const httplib::Request& request, httplib::Response& response) {
  auto routed = route(request.method, request.path);
  if (auto* refusal = std::get_if<Refusal>(&routed)) {
    if (refusal->status == 405) response.set_header("Allow", "POST");
    refuse(response, refusal->status, refusal->message);
    return;
  }
  auto body = parse_object_body(request.body);
  if (!body) {
    refuse(response, 400, body.error());
    return;
  }
  switch (std::get<Endpoint>(routed)) {
    case Endpoint::State:
      on_state(body.value(), response);
      break;
    case Endpoint::Permission:
      on_permission(body.value(), response);
      break;
    case Endpoint::Cancel:
      on_cancel(body.value(), response);
      break;
    case Endpoint::TmuxRegister:
      on_register(body.value(), response);
      break;
    case Endpoint::TmuxLookup:
      on_lookup(body.value(), response);
      break;
  }
}

void DevServer::on_state(const Json& body, httplib::Response& response) {
  registry_.note_state_report(body);
  if (events_ != nullptr) {
    if (Status appended = events_->append(body); !appended) warn(appended.error());
  }
  console_.line(state_line(now(), body));
  respond(response, 200, Json::object());
}

void DevServer::on_permission(const Json& body, httplib::Response& response) {
  ApprovalRequest request = read_approval_request(body);
  const std::uint64_t id = ++next_id_;
  std::optional<Decision> decision = choose_decision(policy_, request);
  // Opened before it is announced: a cancel that follows the announcement must find it.
  const bool opened = !decision && board_.open(id, request);
  console_.line(permission_line(now(), id, request));

  if (!decision) {
    if (!opened) {
      refuse(response, 503, "ombrel-devserver is shutting down");
      return;
    }
    board_.show(id);
    Outcome outcome = board_.wait(id);
    if (outcome.release == Release::Withdrawn) {
      refuse(response, 410, "the approval was withdrawn");
      return;
    }
    if (outcome.release == Release::ShuttingDown) {
      refuse(response, 503, "ombrel-devserver is shutting down");
      return;
    }
    decision = std::move(outcome.decision);
  }
  console_.line(decision_line(now(), id, *decision));
  respond(response, 200, decision_body(*decision));
}

void DevServer::on_cancel(const Json& body, httplib::Response& response) {
  const Json* session = member(body, "session_id");
  if (session == nullptr || !session->is_string()) {
    refuse(response, 400, "\"session_id\" must be a string");
    return;
  }
  const std::string& session_id = session->get_ref<const std::string&>();
  std::vector<std::uint64_t> withdrawn = board_.withdraw_session(session_id);
  console_.line(cancel_line(now(), session_id, withdrawn));
  respond(response, 200, Json{{"withdrawn", withdrawn.size()}});
}

void DevServer::on_register(const Json& body, httplib::Response& response) {
  if (Status added = registry_.add_registration(body); !added) {
    refuse(response, 400, added.error());
    return;
  }
  console_.line(register_line(now(), body));
  respond(response, 200, Json::object());
}

void DevServer::on_lookup(const Json& body, httplib::Response& response) {
  const Json* name = member(body, "tmux_name");
  if (name == nullptr || !name->is_string()) {
    refuse(response, 400, "\"tmux_name\" must be a string");
    return;
  }
  const std::string& tmux_name = name->get_ref<const std::string&>();
  std::optional<std::string> session_id = registry_.agent_session(tmux_name);
  console_.line(lookup_line(now(), tmux_name, session_id));
  respond(response, 200, lookup_answer(session_id));
}

}  // namespace ombrel::devserver
