#pragma once
// The Debug Adapter Protocol server: reads requests from one stream, answers
// and sends events on another. Requests are handled one at a time on the
// reading thread; a run (continue, next, step) goes on on the run thread so
// that pause and disconnect are still read while the target runs.
#include <atomic>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <thread>

#include "dap/Framing.h"
#include "dap/Log.h"

namespace kzhost::dap {

using nlohmann::json;

// A request refused: answered with success false and this message.
struct RequestError {
  std::string message;
};

class Server {
 public:
  struct Options {
    std::string driver;  // default driver library when launch names none
  };
  Server(std::istream& in, std::ostream& out, Log& log, Options options);
  ~Server();
  // Serves until disconnect or the end of input; returns the exit status.
  int Run();

 private:
  enum class State { Fresh, Initialized, Launched, Configured, Terminated };
  using Handler = std::function<json(const json& arguments)>;

  void Dispatch(const std::string& body);
  void Respond(const json& request, bool success, const json& body, const std::string& message);
  void SendEvent(const std::string& event, const json& body = json::object());
  void Register(const std::string& command, State least, bool whileRunning, Handler handler);

  json Initialize(const json& args);
  json Launch(const json& args);
  json ConfigurationDone(const json& args);
  json Threads(const json& args);
  json Disconnect(const json& args);

  struct Route {
    State least;        // the earliest state in which the request is accepted
    bool whileRunning;  // accepted while the target runs
    Handler handler;
  };
  std::map<std::string, Route> routes_;
  FrameReader reader_;
  FrameWriter writer_;
  Log& log_;
  Options options_;
  std::atomic<int> seq_{1};
  State state_ = State::Fresh;
  std::atomic<bool> running_{false};
  bool done_ = false;
};

// `kz51 dap [--log FILE] [--driver PATH]`: serves on standard input and output.
int RunDap(int argc, char** argv);

}  // namespace kzhost::dap
