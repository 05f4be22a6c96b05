#include "cli/serve/serve_command.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "cli/change_monitor.h"
#include "cli/database.h"
#include "cli/serve/assets.h"
#include "cli/serve/http_guard.h"
#include "cli/serve/site_model.h"
#include "cli/write.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "store/page_source.h"
#include "store/sql_value.h"

namespace vz::cli {
namespace {

constexpr int kDefaultPort = 8080;
// Server threads, and how many of them event streams may hold.
constexpr size_t kThreads = 16;
constexpr int kMostStreams = 8;
// An event stream writes at least this often, so that a closed one ends.
constexpr std::chrono::seconds kKeepAlive(5);

// SIGINT and SIGTERM: the first stops the server; a second ends the process
// at once, as it would have without the handler.
std::atomic<int> g_stops{0};
std::atomic<ChangeMonitor*> g_monitor{nullptr};

extern "C" void OnServeStop(int signal_number) {
  if (g_stops.fetch_add(1) == 0) {
    if (ChangeMonitor* monitor = g_monitor.load()) monitor->Wake();
    return;
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}

// For its lifetime: the stop signals handled, a broken pipe (a browser that
// went away) ignored.
class ServeSignals {
 public:
  explicit ServeSignals(ChangeMonitor& monitor) {
    g_stops.store(0);
    g_monitor.store(&monitor);
    struct sigaction action = {};
    action.sa_handler = OnServeStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_[0]);
    sigaction(SIGTERM, &action, &old_[1]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &old_[2]);
  }
  ~ServeSignals() {
    sigaction(SIGINT, &old_[0], nullptr);
    sigaction(SIGTERM, &old_[1], nullptr);
    sigaction(SIGPIPE, &old_[2], nullptr);
    g_monitor.store(nullptr);
  }
  ServeSignals(const ServeSignals&) = delete;
  ServeSignals& operator=(const ServeSignals&) = delete;

  static bool Stopped() { return g_stops.load() > 0; }

 private:
  struct sigaction old_[3] = {};
};

struct ServeOptions {
  SiteSettings site;
  ServerAddress address;
};

ServeOptions ParseServeOptions(const ParsedArgs& args) {
  ServeOptions options;
  const std::optional<std::string> set = Option(args, "set");
  if (!set) throw UsageError("give the template set with --set SET");
  options.site.set = *set;
  options.site.templates = Option(args, "templates");
  options.site.encoding = Option(args, "encoding").value_or("UTF-8");
  options.address.bind = Option(args, "bind").value_or("127.0.0.1");
  if (options.address.bind.empty()) throw UsageError("--bind: an address is needed");
  options.address.port = static_cast<int>(CountOption(args, "port", 0, 65535, kDefaultPort));
  ApplyMaxChars(args);
  try {
    fso::CheckEncoding(options.site.encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
    SqlValue(FromUtf8(*set));
  } catch (const Failure& f) {
    throw UsageError(OneLine(f.description()));
  }
  return options;
}

// The tables a page is read from are there, before anything listens.
void CheckDatabase(const ParsedArgs& args) {
  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
  CheckTemplateFolder(args);
  try {
    CheckSchema(*db);
  } catch (const Failure& f) {
    throw FatalError(OneLine(f.description()));
  }
}

void SetAsset(httplib::Response& res, std::string_view name, const char* type) {
  const Asset* asset = FindAsset(name);
  res.set_content(asset->bytes.data(), asset->bytes.size(), type);
}

void SetJson(httplib::Response& res, const std::string& json) {
  res.set_content(json, "application/json; charset=utf-8");
}

void NotFound(httplib::Response& res) {
  res.status = 404;
  res.set_content("not found\n", "text/plain; charset=utf-8");
}

// Every route of the server.
void Route(httplib::Server& server, SiteModel& model, const ServerAddress& address,
           std::atomic<int>& streams) {
  server.set_default_headers({
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
       "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"X-Frame-Options", "DENY"},
      {"Cache-Control", "no-store"},
  });
  server.set_pre_routing_handler([address](const httplib::Request& req, httplib::Response& res) {
    RequestFacts facts{req.method, std::nullopt, req.target};
    if (req.has_header("Host")) facts.host = req.get_header_value("Host");
    const int status = RefusalStatus(facts, address, req.local_addr);
    if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
    res.status = status;
    res.set_content("refused\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  });
  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    SetAsset(res, "index.html", "text/html; charset=utf-8");
  });
  server.Get(R"(/page/([^/]+))", [&model](const httplib::Request& req, httplib::Response& res) {
    if (!model.HasPage(req.matches[1].str())) return NotFound(res);
    SetAsset(res, "index.html", "text/html; charset=utf-8");
  });
  server.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
    SetAsset(res, "app.js", "text/javascript; charset=utf-8");
  });
  server.Get("/app.css", [](const httplib::Request&, httplib::Response& res) {
    SetAsset(res, "app.css", "text/css; charset=utf-8");
  });
  server.Get("/api/pages", [&model](const httplib::Request&, httplib::Response& res) {
    SetJson(res, model.ListJson());
  });
  server.Get(R"(/api/page/([^/]+))", [&model](const httplib::Request& req, httplib::Response& res) {
    std::optional<std::string> json = model.PageJson(req.matches[1].str());
    if (!json) return NotFound(res);
    SetJson(res, *json);
  });
  server.Get("/events", [&model, &streams](const httplib::Request&, httplib::Response& res) {
    if (streams.fetch_add(1) >= kMostStreams) {
      streams.fetch_sub(1);
      res.status = 503;
      res.set_content("too many event streams\n", "text/plain; charset=utf-8");
      return;
    }
    auto seen = std::make_shared<uint64_t>(model.Sequence());
    auto hello = std::make_shared<bool>(true);
    res.set_chunked_content_provider(
        "text/event-stream",
        [&model, seen, hello](size_t, httplib::DataSink& sink) {
          std::string event;
          if (*hello) {
            *hello = false;
            event =
                "retry: 1000\nevent: hello\ndata: {\"sequence\":" + std::to_string(*seen) + "}\n\n";
          } else {
            event = model.WaitForChange(*seen, kKeepAlive);
            if (model.Stopped()) return false;
            if (event.empty()) event = ": still here\n\n";
          }
          return sink.write(event.data(), event.size());
        },
        [&streams](bool) { streams.fetch_sub(1); });
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) res.set_content("not found\n", "text/plain; charset=utf-8");
  });
}

// Binds the server to the address; the port it got.
int Bind(httplib::Server& server, const ServerAddress& address) {
  errno = 0;
  const int port = address.port == 0
                       ? server.bind_to_any_port(address.bind)
                       : (server.bind_to_port(address.bind, address.port) ? address.port : -1);
  if (port <= 0) {
    throw FatalError("cannot listen on " + HostWithPort(address.bind, address.port) + ": " +
                     (errno != 0 ? std::strerror(errno) : "the address is not usable"));
  }
  return port;
}

void Say(Output& output, const std::string& line) {
  if (output.out_fd >= 0) {
    WriteAll(output.out_fd, line);
  } else {
    output.out += line;
  }
}

}  // namespace

int RunServe(const ParsedArgs& args, Output& output) {
  ServeOptions options = ParseServeOptions(args);
  CheckDatabase(args);
  SiteModel model(args, options.site);
  ChangeMonitor monitor(args);

  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  // The library's own choice, SO_REUSEPORT, would let a second server take
  // the same port and half the requests; an address in TIME_WAIT is fine.
  server.set_socket_options([](int sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  std::atomic<int> streams{0};
  options.address.port = Bind(server, options.address);
  Route(server, model, options.address, streams);

  ServeSignals signals(monitor);
  std::atomic<bool> listening_ended{false};
  std::thread listener([&server, &listening_ended] {
    server.listen_after_bind();
    listening_ended.store(true);
  });
  Say(output, "serving http://" + HostWithPort(options.address.bind, options.address.port) + "/\n");

  // The first look at every page, then one for each change, until stopped.
  model.Refresh(InputChanges{{}, false, true, false}, ServeSignals::Stopped);
  for (const std::string& folder : model.OutsideFolders()) monitor.AlsoWatch(folder);
  while (!ServeSignals::Stopped()) {
    const InputChanges changes = monitor.Wait(std::chrono::milliseconds(500));
    if (ServeSignals::Stopped()) break;
    if (changes.empty()) continue;
    model.Refresh(changes, ServeSignals::Stopped);
    if (changes.rows) {
      for (const std::string& folder : model.OutsideFolders()) monitor.AlsoWatch(folder);
    }
  }

  model.Stop();
  // A stop that comes before the listener runs is lost: ask until it ends.
  while (!listening_ended.load()) {
    server.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  listener.join();
  return kExitOk;
}

}  // namespace vz::cli
