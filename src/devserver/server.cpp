#include "server.hpp"

#include <unistd.h>

#include <chrono>
#include <string>

#include "event_line.hpp"
#include "routes.hpp"

namespace ombrel::devserver {

namespace {

std::string now() {
  return clock_text(std::chrono::system_clock::now());
}

Reply respond(const Json& body) {
  return Reply{200, compact(body), {}};
}

Reply refuse(int status, std::string message) {
  return refusal_reply(Refusal{status, std::move(message)});
}

void warn(std::string_view text) {
  std::string line = "ombrel-devserver: " + std::string(text) + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

// Counts an approval as waiting for as long as it lives.
class WaitingSlot {
 public:
  explicit WaitingSlot(std::atomic<std::size_t>& waiting) : waiting_(waiting) {
    taken_ = ++waiting_ <= kMaxWaitingApprovals;
  }
  ~WaitingSlot() { --waiting_; }
  WaitingSlot(const WaitingSlot&) = delete;
  WaitingSlot& operator=(const WaitingSlot&) = delete;
  bool taken() const { return taken_; }

 private:
  std::atomic<std::size_t>& waiting_;
  bool taken_ = false;
};

}  // namespace

DevServer::DevServer(Policy policy, Console& console, EventsFile* events)
    : policy_(std::move(policy)), console_(console), events_(events) {}

DevServer::~DevServer() {
  stop();
}

Result<ListenAddress> DevServer::bind(const ListenAddress& address) {
  auto front = Front::listen(address);
  if (!front) {
    return fail("cannot listen on " + url_of(address) + ": " + front.error());
  }
  front_ = front.take();
  ListenAddress bound = address;
  bound.port = front_->port();
  return bound;
}

Status DevServer::run() {
  if (!front_) return fail("the server is not listening");
  Status served = front_->run(
      [this](ConnectionId id, HttpRequest request) { dispatch(id, std::move(request)); });
  handlers_.wait_idle();
  return served;
}

std::size_t DevServer::stop() {
  const std::size_t released = board_.close();
  if (front_) front_->stop();
  return released;
}

void DevServer::dispatch(ConnectionId id, HttpRequest request) {
  const bool started = handlers_.spawn(
      [this, id, request = std::move(request)] { front_->answer(id, handle(request)); });
  if (!started) front_->answer(id, refuse(503, "ombrel-devserver is too busy; try again"));
}

Reply DevServer::handle(const HttpRequest& request) {
  try {
    auto routed = route(request.method, request.path);
    if (auto* refusal = std::get_if<Refusal>(&routed)) return refusal_reply(*refusal);
    auto body = parse_object_body(request.body);
    if (!body) return refuse(400, body.error());
    switch (std::get<Endpoint>(routed)) {
      case Endpoint::State:
        return on_state(body.value());
      case Endpoint::Permission:
        return on_permission(body.value());
      case Endpoint::Cancel:
        return on_cancel(body.value());
      case Endpoint::TmuxRegister:
        return on_register(body.value());
      case Endpoint::TmuxLookup:
        return on_lookup(body.value());
    }
  } catch (const std::exception&) {
  }
  return refuse(500, "internal error");
}

Reply DevServer::on_state(const Json& body) {
  registry_.note_state_report(body);
  if (events_ != nullptr) {
    if (Status appended = events_->append(body); !appended) warn(appended.error());
  }
  console_.line(state_line(now(), body));
  return respond(Json::object());
}

Reply DevServer::on_permission(const Json& body) {
  ApprovalRequest request = read_approval_request(body);
  const std::uint64_t id = ++next_id_;
  std::optional<Decision> decision = choose_decision(policy_, request);
  if (!decision) {
    WaitingSlot slot(waiting_);
    if (!slot.taken()) {
      console_.line(permission_line(now(), id, request) + ": refused, " +
                    std::to_string(kMaxWaitingApprovals) + " approvals are waiting already");
      return refuse(503, "too many approvals are waiting");
    }
    // Opened before it is announced: a cancel that follows the announcement must find it.
    const bool opened = board_.open(id, request);
    console_.line(permission_line(now(), id, request));
    if (!opened) return refuse(503, "ombrel-devserver is shutting down");
    board_.show(id);
    Outcome outcome = board_.wait(id);
    if (outcome.release == Release::Withdrawn) return refuse(410, "the approval was withdrawn");
    if (outcome.release == Release::ShuttingDown) {
      return refuse(503, "ombrel-devserver is shutting down");
    }
    decision = std::move(outcome.decision);
  } else {
    console_.line(permission_line(now(), id, request));
  }
  console_.line(decision_line(now(), id, *decision));
  return respond(decision_body(*decision));
}

Reply DevServer::on_cancel(const Json& body) {
  const Json* session = member(body, "session_id");
  if (session == nullptr || !session->is_string()) {
    return refuse(400, "\"session_id\" must be a string");
  }
  const std::string& session_id = session->get_ref<const std::string&>();
  std::vector<std::uint64_t> withdrawn = board_.withdraw_session(session_id);
  console_.line(cancel_line(now(), session_id, withdrawn));
  return respond(Json{{"withdrawn", withdrawn.size()}});
}

Reply DevServer::on_register(const Json& body) {
  if (Status added = registry_.add_registration(body); !added) return refuse(400, added.error());
  console_.line(register_line(now(), body));
  return respond(Json::object());
}

Reply DevServer::on_lookup(const Json& body) {
  const Json* name = member(body, "tmux_name");
  if (name == nullptr || !name->is_string()) return refuse(400, "\"tmux_name\" must be a string");
  const std::string& tmux_name = name->get_ref<const std::string&>();
  std::optional<std::string> session_id = registry_.agent_session(tmux_name);
  console_.line(lookup_line(now(), tmux_name, session_id));
  return respond(lookup_answer(session_id));
}

}  // namespace ombrel::devserver
