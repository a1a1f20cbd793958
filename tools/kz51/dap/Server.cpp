#include "dap/Server.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "dap/StdioBinary.h"

namespace kzhost::dap {

namespace {

const char* StateName(int s) {
  static const char* const kNames[] = {"before initialize", "before launch",
                                       "before configurationDone", "after configurationDone",
                                       "after terminate"};
  return kNames[s];
}

}  // namespace

Server::Server(std::istream& in, std::ostream& out, Log& log, Options options)
    : reader_(in), writer_(out), log_(log), options_(std::move(options)) {
  Register("initialize", State::Fresh, false, [this](const json& a) { return Initialize(a); });
  Register("launch", State::Initialized, false, [this](const json& a) { return Launch(a); });
  Register("configurationDone", State::Launched, false,
           [this](const json& a) { return ConfigurationDone(a); });
  Register("threads", State::Initialized, true, [this](const json& a) { return Threads(a); });
  Register("disconnect", State::Fresh, true, [this](const json& a) { return Disconnect(a); });
  Register("terminate", State::Launched, true, [this](const json& a) { return Disconnect(a); });
}

Server::~Server() = default;

void Server::Register(const std::string& command, State least, bool whileRunning, Handler handler) {
  routes_[command] = Route{least, whileRunning, std::move(handler)};
}

int Server::Run() {
  while (!done_) {
    Frame f = reader_.Next();
    if (f.kind == Frame::Kind::End) {
      log_.Line("end of input");
      break;
    }
    if (f.kind == Frame::Kind::Malformed) {
      Respond(json{{"seq", 0}, {"command", ""}}, false, nullptr, f.body);
      continue;
    }
    Dispatch(f.body);
  }
  return 0;
}

void Server::Dispatch(const std::string& body) {
  json request = json::parse(body, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    Respond(json{{"seq", 0}, {"command", ""}}, false, nullptr,
            "malformed message: the body is not a JSON object");
    return;
  }
  const json probe{
      {"seq",
       request.value("seq", json(0)).is_number_integer() ? request.value("seq", json(0)) : json(0)},
      {"command", request.value("command", json("")).is_string()
                      ? request.value("command", json(""))
                      : json("")}};
  if (request.value("type", json()) != "request" || !request.contains("command") ||
      !request["command"].is_string()) {
    Respond(probe, false, nullptr, "malformed message: not a request with a command");
    return;
  }
  const std::string command = request["command"];
  auto it = routes_.find(command);
  if (it == routes_.end()) {
    Respond(probe, false, nullptr, "unsupported request \"" + command + "\"");
    return;
  }
  const Route& route = it->second;
  if (state_ < route.least || (state_ == State::Terminated && command != "disconnect")) {
    Respond(probe, false, nullptr,
            "\"" + command + "\" is not allowed " + StateName(static_cast<int>(state_)));
    return;
  }
  if (running_ && !route.whileRunning) {
    Respond(probe, false, nullptr, "the target is running; pause it first");
    return;
  }
  json arguments = request.value("arguments", json::object());
  if (!arguments.is_object()) arguments = json::object();
  try {
    json result = route.handler(arguments);
    Respond(probe, true, result, "");
  } catch (const RequestError& e) {
    Respond(probe, false, nullptr, e.message);
  } catch (const json::exception& e) {
    Respond(probe, false, nullptr, std::string("invalid arguments: ") + e.what());
  }
}

void Server::Respond(const json& request, bool success, const json& body,
                     const std::string& message) {
  json r{{"seq", seq_++},
         {"type", "response"},
         {"request_seq", request["seq"]},
         {"command", request["command"]},
         {"success", success}};
  if (!message.empty()) {
    r["message"] = message;
    log_.Line(request["command"].get<std::string>() + ": " + message);
  }
  if (!body.is_null()) r["body"] = body;
  writer_.Write(r.dump(-1, ' ', false, json::error_handler_t::replace));
}

void Server::SendEvent(const std::string& event, const json& body) {
  json e{{"seq", seq_++}, {"type", "event"}, {"event", event}, {"body", body}};
  writer_.Write(e.dump(-1, ' ', false, json::error_handler_t::replace));
}

json Server::Initialize(const json&) {
  if (state_ != State::Fresh) throw RequestError{"initialize was already done"};
  state_ = State::Initialized;
  return json{{"supportsConfigurationDoneRequest", true}, {"supportsFunctionBreakpoints", true},
              {"supportsInstructionBreakpoints", true},   {"supportsSetVariable", true},
              {"supportsReadMemoryRequest", true},        {"supportsWriteMemoryRequest", true},
              {"supportsDisassembleRequest", true},       {"supportsTerminateRequest", true},
              {"supportsEvaluateForHovers", true}};
}

json Server::Launch(const json&) {
  if (state_ != State::Initialized) throw RequestError{"the program is already launched"};
  throw RequestError{"launch is not available yet"};
}

json Server::ConfigurationDone(const json&) {
  if (state_ != State::Launched) throw RequestError{"configurationDone was already done"};
  state_ = State::Configured;
  return nullptr;
}

json Server::Threads(const json&) {
  return json{{"threads", json::array({json{{"id", 1}, {"name", "8051"}}})}};
}

json Server::Disconnect(const json&) {
  done_ = true;
  if (state_ >= State::Launched) SendEvent("terminated");
  state_ = State::Terminated;
  return nullptr;
}

int RunDap(int argc, char** argv) {
  std::string logPath;
  Server::Options options;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      logPath = argv[++i];
    } else if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
      options.driver = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: kz51 dap [--log FILE] [--driver PATH]\n"
                   "  Debug Adapter Protocol server on standard input and output.\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  Log log(logPath);
  if (!log.Opened()) {
    std::fprintf(stderr, "kz51 dap: cannot open the log file %s\n", logPath.c_str());
    return 2;
  }
  UseBinaryStdio();
  std::ios::sync_with_stdio(false);
  Server server(std::cin, std::cout, log, options);
  return server.Run();
}

}  // namespace kzhost::dap
