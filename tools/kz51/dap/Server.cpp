#include "dap/Server.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Disassembler.h"
#include "dap/Base64.h"
#include "dap/Platform.h"
#include "session/HostProgram.h"

namespace kzhost::dap {

using kz51::MemorySpace;
using kz51::Session;

namespace {

const char* StateName(int s) {
  static const char* const kNames[] = {"before initialize", "before launch",
                                       "before configurationDone", "after configurationDone",
                                       "after terminate"};
  return kNames[s];
}

constexpr int kThreadId = 1;
constexpr const char* kCallerRegisters = "kept in registers, which the called code has reused";
constexpr int kMaxFrames = 32;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return f.good();
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string HexAddress(std::uint32_t a) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%04X", a);
  return s;
}

std::string MemoryReference(MemorySpace space, std::uint32_t address) {
  return std::string(kz51::MemorySpaceName(space)) + ":" + HexAddress(address);
}

// "xdata:0x0010" (a bare number means code) plus an offset.
void ParseMemoryReference(const json& args, const char* key, MemorySpace& space,
                          std::uint32_t& address) {
  const std::string ref = args.at(key).get<std::string>();
  std::string number = ref;
  space = MemorySpace::Code;
  if (const std::size_t colon = ref.find(':'); colon != std::string::npos) {
    if (!kz51::ParseMemorySpace(Lower(ref.substr(0, colon)), space))
      throw RequestError{"unknown memory space in \"" + ref +
                         "\" (code, data, idata, sfr, xdata, pdata)"};
    number = ref.substr(colon + 1);
  }
  std::uint32_t base = 0;
  if (!kz51::ParseNumber(number, base))
    throw RequestError{"\"" + ref + "\" is not a memory reference such as xdata:0x0010"};
  const long long at = static_cast<long long>(base) + args.value("offset", 0LL);
  if (at < static_cast<long long>(kz51::MemorySpaceLow(space)) ||
      at > static_cast<long long>(kz51::MemorySpaceHigh(space)))
    throw RequestError{"address " + std::to_string(at) + " lies outside " +
                       kz51::MemorySpaceName(space) + " space"};
  address = static_cast<std::uint32_t>(at);
}

template <class T>
const T& Require(const kz51::Result<T>& r) {
  if (!r) throw RequestError{r.error()};
  return *r;
}

}  // namespace

Server::Server(std::istream& in, std::ostream& out, Log& log, Options options)
    : reader_(in), writer_(out), log_(log), options_(std::move(options)) {
  auto on = [this](const char* name, State least, bool whileRunning,
                   json (Server::*fn)(const json&)) {
    Register(name, least, whileRunning, [this, fn](const json& a) { return (this->*fn)(a); });
  };
  on("initialize", State::Fresh, false, &Server::Initialize);
  on("launch", State::Initialized, false, &Server::Launch);
  on("configurationDone", State::Launched, false, &Server::ConfigurationDone);
  on("threads", State::Initialized, true, &Server::Threads);
  on("disconnect", State::Fresh, true, &Server::Disconnect);
  on("terminate", State::Launched, true, &Server::Terminate);
  on("setBreakpoints", State::Launched, true, &Server::SetBreakpoints);
  on("setFunctionBreakpoints", State::Launched, true, &Server::SetFunctionBreakpoints);
  on("setInstructionBreakpoints", State::Launched, true, &Server::SetInstructionBreakpoints);
  on("continue", State::Configured, false, &Server::Continue);
  on("next", State::Configured, false, &Server::Next);
  on("stepIn", State::Configured, false, &Server::StepIn);
  on("stepOut", State::Configured, false, &Server::StepOut);
  on("pause", State::Configured, true, &Server::Pause);
  on("stackTrace", State::Configured, false, &Server::StackTrace);
  on("scopes", State::Configured, false, &Server::Scopes);
  on("variables", State::Configured, false, &Server::Variables);
  on("evaluate", State::Launched, false, &Server::Evaluate);
  on("setVariable", State::Configured, false, &Server::SetVariable);
  on("readMemory", State::Launched, false, &Server::ReadMemory);
  on("writeMemory", State::Launched, false, &Server::WriteMemory);
  on("disassemble", State::Launched, false, &Server::Disassemble);
}

Server::~Server() {
  EndSession();
}

void Server::EndSession() {
  if (session_.Running()) session_.Stop();
  JoinWaiter();
  session_.Close();
  serial_.reset();
}

void Server::FlushSerial() {
  if (serial_) serial_->Flush();
}

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
  EndSession();
  return 0;
}

void Server::Dispatch(const std::string& body) {
  json request = json::parse(body, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    Respond(json{{"seq", 0}, {"command", ""}}, false, nullptr,
            "malformed message: the body is not a JSON object");
    return;
  }
  json probe{{"seq", 0}, {"command", ""}};
  if (auto s = request.find("seq"); s != request.end() && s->is_number_integer()) probe["seq"] = *s;
  if (auto c = request.find("command"); c != request.end() && c->is_string()) probe["command"] = *c;
  if (request.value("type", json()) != "request" || probe["command"] == "") {
    Respond(probe, false, nullptr, "malformed message: not a request with a command");
    return;
  }
  const std::string command = probe["command"];
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
  after_.clear();
  try {
    json result = route.handler(arguments);
    Respond(probe, true, result, "");
  } catch (const RequestError& e) {
    after_.clear();
    Respond(probe, false, nullptr, e.message);
  } catch (const json::exception& e) {
    after_.clear();
    Respond(probe, false, nullptr, std::string("invalid arguments: ") + e.what());
  }
  // Events that must follow the response (initialized, stopped on entry,
  // the run started by continue).
  auto then = std::move(after_);
  after_.clear();
  for (auto& f : then) f();
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

// ---- life cycle -------------------------------------------------------------

json Server::Initialize(const json&) {
  if (state_ != State::Fresh) throw RequestError{"initialize was already done"};
  state_ = State::Initialized;
  return json{{"supportsConfigurationDoneRequest", true}, {"supportsFunctionBreakpoints", true},
              {"supportsInstructionBreakpoints", true},   {"supportsSetVariable", true},
              {"supportsReadMemoryRequest", true},        {"supportsWriteMemoryRequest", true},
              {"supportsDisassembleRequest", true},       {"supportsTerminateRequest", true},
              {"supportsEvaluateForHovers", true}};
}

json Server::Launch(const json& args) {
  if (state_ != State::Initialized) throw RequestError{"the program is already launched"};
  if (!args.contains("program") || !args["program"].is_string())
    throw RequestError{"launch needs \"program\": the Intel HEX file of an SDCC program"};
  const std::string program = args["program"];
  if (!FileExists(program)) throw RequestError{"cannot open the program " + program};
  const std::size_t dot = program.find_last_of('.');
  const std::string base =
      dot == std::string::npos || dot < DirName(program).size() ? program : program.substr(0, dot);
  if (!FileExists(base + ".cdb"))
    throw RequestError{"no debug information: " + base +
                       ".cdb is missing; compile the program with sdcc --debug"};
  stopOnEntry_ = args.value("stopOnEntry", false);
  programDir_ = DirName(program);
  sourceDirs_.clear();
  if (auto d = args.find("sourceDirectories"); d != args.end() && d->is_array())
    for (const auto& s : *d)
      if (s.is_string()) sourceDirs_.push_back(s.get<std::string>());
  // The emulator the driver reaches: the virtual one unless "provider" says
  // "usb", which takes the device from "usb" (KZ51_USB's settings).
  kzhost::Provider provider = kzhost::Provider::Virtual;
  if (auto p = args.find("provider"); p != args.end() && !p->is_null()) {
    if (!p->is_string() || !kzhost::ParseProvider(p->get<std::string>(), provider))
      throw RequestError{std::string("\"provider\" is ") + kzhost::ProviderChoices()};
  }
  if (auto u = args.find("usb"); u != args.end() && u->is_string())
    SetEnvironment("KZ51_USB", u->get<std::string>());
  session_.SetProvider(provider);
  // The virtual emulator writes the target's serial output to a file, which
  // the debug console follows.
  SerialFile serialFile;
  if (auto e = args.find("emulator");
      e != args.end() && e->is_string() && provider == kzhost::Provider::Virtual) {
    serialFile = ChooseSerialFile(e->get<std::string>());
    SetEnvironment("KZ51_EMU", serialFile.emulator);
  }
  const std::uint64_t serialStart =
      serialFile.path.empty() ? 0 : SerialOutput::SizeOf(serialFile.path);
  struct RemoveUnused {
    const SerialFile& file;
    bool keep = false;
    ~RemoveUnused() {
      if (file.owned && !keep) std::remove(file.path.c_str());
    }
  } removeUnused{serialFile};
  std::string driver = args.value("driver", options_.driver);
  if (driver.empty()) driver = kz51::HostProgramDirectory() + DefaultDriverLibrary();
  log_.Line("launch " + program + " with " + driver);

  if (auto r = session_.Open(driver); !r) throw RequestError{r.error()};
  auto fail = [this](const std::string& error) {
    session_.Close();
    throw RequestError{error};
  };
  auto connected = session_.Connect();
  if (!connected) fail(connected.error());
  auto loaded = session_.Load(program);
  if (!loaded) fail(loaded.error());
  if (!session_.symbols().HasDebugInfo()) fail("no debug information in " + base + ".cdb");
  if (auto r = session_.Reset(); !r) fail(r.error());
  state_ = State::Launched;
  if (!serialFile.path.empty()) {
    removeUnused.keep = true;
    serial_ = std::make_unique<SerialOutput>(
        serialFile.path, serialFile.owned, serialStart, [this](const std::string& bytes) {
          SendEvent("output", {{"category", "stdout"}, {"output", bytes}});
        });
  }
  // What the debug console shows first: the emulator and the program.
  std::string summary = "kz51: connected to " +
                        (connected->model.empty() ? std::string("the emulator") : connected->model);
  if (connected->pod != 0)
    summary += ", pod " + std::to_string(connected->pod) + " (" + connected->podName + ")";
  summary += "; loaded " + std::to_string(loaded->bytes) + " bytes from " + BaseName(program) +
             " (" + HexAddress(loaded->low) + ".." + HexAddress(loaded->high) + ")\n";
  after_.push_back([this, summary] {
    SendEvent("output", {{"category", "console"}, {"output", summary}});
    SendEvent("initialized");
  });
  return nullptr;
}

json Server::ConfigurationDone(const json&) {
  if (state_ != State::Launched) throw RequestError{"configurationDone was already done"};
  state_ = State::Configured;
  if (stopOnEntry_) {
    after_.push_back([this] {
      SendEvent("stopped",
                {{"reason", "entry"}, {"threadId", kThreadId}, {"allThreadsStopped", true}});
    });
  } else {
    after_.push_back([this] { StartRun(Session::RunKind::Go, "step"); });
  }
  return nullptr;
}

json Server::Threads(const json&) {
  return json{{"threads", json::array({json{{"id", kThreadId}, {"name", "8051"}}})}};
}

json Server::Disconnect(const json& args) {
  Terminate(args);
  done_ = true;
  return nullptr;
}

json Server::Terminate(const json&) {
  EndSession();
  if (state_ >= State::Launched && state_ != State::Terminated)
    after_.push_back([this] { SendEvent("terminated"); });
  state_ = State::Terminated;
  return nullptr;
}

// ---- run control ----------------------------------------------------------------

void Server::JoinWaiter() {
  if (waiter_.joinable()) waiter_.join();
}

void Server::ResetHandles() {
  handles_.clear();
  frames_.clear();
}

void Server::StartRun(Session::RunKind kind, const char* stepReason) {
  JoinWaiter();
  ResetHandles();
  SyncBreakpoints();
  pauseRequested_ = false;
  if (auto r = session_.Start(kind); !r) {
    FlushSerial();
    SendEvent("output", {{"category", "stderr"}, {"output", r.error() + "\n"}});
    SendEvent("stopped", {{"reason", "pause"}, {"threadId", kThreadId}, {"text", r.error()}});
    return;
  }
  running_ = true;
  log_.Line("run started");
  const std::string reason = stepReason;
  waiter_ = std::thread([this, reason] {
    auto stop = session_.Wait();
    ReportStop(stop, reason);
  });
}

void Server::ReportStop(const kz51::Result<kz51::StopEvent>& stop, const std::string& stepReason) {
  json body{{"threadId", kThreadId}, {"allThreadsStopped", true}};
  if (!stop) {
    body["reason"] = "pause";
    body["text"] = stop.error();
    SendEvent("output", {{"category", "stderr"}, {"output", stop.error() + "\n"}});
  } else if (pauseRequested_) {
    body["reason"] = "pause";
  } else if (stop->reason == kz51::StopReason::Breakpoint) {
    body["reason"] = "breakpoint";
    if (stop->breakpoint != 0) body["hitBreakpointIds"] = json::array({stop->breakpoint});
  } else if (stop->reason == kz51::StopReason::Stopped) {
    body["reason"] = "pause";
  } else {
    body["reason"] = stepReason;
  }
  running_ = false;
  log_.Line("stopped: " + body["reason"].get<std::string>());
  FlushSerial();
  SendEvent("stopped", body);
}

json Server::Continue(const json&) {
  after_.push_back([this] { StartRun(Session::RunKind::Go, "step"); });
  return json{{"allThreadsContinued", true}};
}

json Server::Next(const json&) {
  after_.push_back([this] { StartRun(Session::RunKind::Next, "step"); });
  return nullptr;
}

json Server::StepIn(const json&) {
  after_.push_back([this] { StartRun(Session::RunKind::StepLine, "step"); });
  return nullptr;
}

json Server::StepOut(const json&) {
  after_.push_back([this] { StartRun(Session::RunKind::Finish, "step"); });
  return nullptr;
}

json Server::Pause(const json&) {
  if (!running_) throw RequestError{"the target is not running"};
  pauseRequested_ = true;
  // The driver's stop answers once the run has ended, and the run's end
  // sends the stopped event: the response goes out first. A run that ended
  // by itself in between reports its own stop.
  after_.push_back([this] { session_.Stop(); });
  return nullptr;
}

// ---- breakpoints ----------------------------------------------------------------

void Server::SyncBreakpoints() {
  if (!breakpointsDirty_ || session_.Running()) return;
  breakpointsDirty_ = false;
  session_.DeleteAllBreakpoints();
  ids_.clear();
  for (const Wanted& w : breakpoints_) {
    if (ids_.count(w.address) != 0) continue;
    auto b = session_.AddBreakpoint(w.address, w.location, 1, "");
    if (b)
      ids_[w.address] = b->number;
    else
      log_.Line("breakpoint at " + HexAddress(w.address) + ": " + b.error());
  }
}

void Server::ApplyBreakpoints(BpKind kind, std::vector<Wanted> wanted) {
  breakpoints_.erase(std::remove_if(breakpoints_.begin(), breakpoints_.end(),
                                    [kind](const Wanted& w) { return w.kind == kind; }),
                     breakpoints_.end());
  breakpoints_.insert(breakpoints_.end(), wanted.begin(), wanted.end());
  breakpointsDirty_ = true;
  // While the target runs, the list is handed to the session before the next run.
  SyncBreakpoints();
}

json Server::SetBreakpoints(const json& args) {
  const json& source = args.at("source");
  std::string path = source.value("path", source.value("name", std::string()));
  if (path.empty()) throw RequestError{"setBreakpoints needs a source path"};
  const std::string file = BaseName(path);
  const auto& symbols = session_.symbols();
  unsigned lastLine = 0;
  for (const auto& l : symbols.Cdb().lines)
    if (BaseName(l.file) == file) lastLine = std::max(lastLine, l.line);
  std::vector<Wanted> wanted;
  json out = json::array();
  std::vector<unsigned> lines;
  if (auto b = args.find("breakpoints"); b != args.end() && b->is_array()) {
    for (const auto& bp : *b) lines.push_back(bp.at("line").get<unsigned>());
  } else if (auto l = args.find("lines"); l != args.end() && l->is_array()) {
    for (const auto& n : *l) lines.push_back(n.get<unsigned>());
  }
  for (unsigned line : lines) {
    json r{{"verified", false}, {"line", line}, {"source", SourceOf(file)}};
    if (lastLine == 0) {
      r["message"] = "no code of " + file + " in the program's debug information";
    } else {
      // The first line at or after the requested one that has code.
      for (unsigned l = line; l <= lastLine && l >= 1; ++l) {
        const auto addresses = symbols.AddressesOfLine(file, l);
        if (addresses.empty()) continue;
        const std::uint32_t a = *std::min_element(addresses.begin(), addresses.end());
        wanted.push_back({BpKind::Line, a, file + ":" + std::to_string(l)});
        r["verified"] = true;
        r["line"] = l;
        r["instructionReference"] = MemoryReference(MemorySpace::Code, a);
        break;
      }
      if (!r["verified"].get<bool>())
        r["message"] = "no code at or after line " + std::to_string(line) + " of " + file;
    }
    out.push_back(r);
  }
  // Only this file's line breakpoints are replaced.
  std::vector<Wanted> keep;
  for (const Wanted& w : breakpoints_)
    if (w.kind == BpKind::Line && w.location.rfind(file + ":", 0) != 0) keep.push_back(w);
  keep.insert(keep.end(), wanted.begin(), wanted.end());
  ApplyBreakpoints(BpKind::Line, keep);
  for (auto& r : out)
    if (r["verified"].get<bool>()) {
      std::uint32_t a = 0;
      kz51::ParseNumber(r["instructionReference"].get<std::string>().substr(5), a);
      if (ids_.count(a) != 0) r["id"] = ids_[a];
    }
  return json{{"breakpoints", out}};
}

json Server::SetFunctionBreakpoints(const json& args) {
  std::vector<Wanted> wanted;
  json out = json::array();
  for (const auto& bp : args.at("breakpoints")) {
    const std::string name = bp.at("name").get<std::string>();
    json r{{"verified", false}};
    std::uint32_t a = 0;
    std::string error;
    const auto* f = session_.symbols().FindFunction(name);
    if (f != nullptr && f->start) {
      a = *f->start;
    } else if (!session_.symbols().ResolveCode(name, a, error)) {
      r["message"] = "no function " + name + " in the program";
      out.push_back(r);
      continue;
    }
    wanted.push_back({BpKind::Function, a, name});
    r["verified"] = true;
    r["instructionReference"] = MemoryReference(MemorySpace::Code, a);
    if (auto line = session_.symbols().LineAt(a)) {
      r["line"] = line->line;
      r["source"] = SourceOf(line->file);
    }
    out.push_back(r);
  }
  ApplyBreakpoints(BpKind::Function, wanted);
  return json{{"breakpoints", out}};
}

json Server::SetInstructionBreakpoints(const json& args) {
  std::vector<Wanted> wanted;
  json out = json::array();
  for (const auto& bp : args.at("breakpoints")) {
    json r{{"verified", false}};
    MemorySpace space = MemorySpace::Code;
    std::uint32_t a = 0;
    try {
      json ref{{"ref", bp.at("instructionReference")}, {"offset", bp.value("offset", 0)}};
      ParseMemoryReference(ref, "ref", space, a);
      if (space != MemorySpace::Code) throw RequestError{"instruction breakpoints lie in code"};
    } catch (const RequestError& e) {
      r["message"] = e.message;
      out.push_back(r);
      continue;
    }
    wanted.push_back({BpKind::Instruction, a, HexAddress(a)});
    r["verified"] = true;
    r["instructionReference"] = MemoryReference(MemorySpace::Code, a);
    out.push_back(r);
  }
  ApplyBreakpoints(BpKind::Instruction, wanted);
  return json{{"breakpoints", out}};
}

// ---- sources ----------------------------------------------------------------------

std::string Server::SourcePath(const std::string& file) const {
  if (FileExists(file)) return file;
  if (FileExists(programDir_ + file)) return programDir_ + file;
  for (const auto& d : sourceDirs_) {
    std::string p = d;
    if (!p.empty() && p.back() != '/' && p.back() != '\\') p += '/';
    if (FileExists(p + file)) return p + file;
  }
  return programDir_ + file;
}

json Server::SourceOf(const std::string& file) const {
  return json{{"name", BaseName(file)}, {"path", SourcePath(file)}};
}

// ---- stack, scopes, variables -------------------------------------------------------

json Server::StackTrace(const json& args) {
  const auto& symbols = session_.symbols();
  const auto regs = Require(session_.ReadRegisters());
  frames_.clear();
  frames_.push_back({regs.pc});
  // Callers: return addresses on the stack (low byte below high byte) that
  // follow a call instruction inside a function of the program.
  if (regs.sp >= 0x08) {
    auto stack = session_.Read(MemorySpace::Idata, 0, regs.sp + 1u);
    if (stack) {
      int i = regs.sp;
      while (i >= 1 && static_cast<int>(frames_.size()) < kMaxFrames) {
        const std::uint32_t ret = static_cast<std::uint32_t>((*stack)[i] << 8 | (*stack)[i - 1]);
        bool call = false;
        if (ret >= 3 && symbols.FunctionAt(ret - 1) != nullptr) {
          auto code = session_.Read(MemorySpace::Code, ret - 3, 3);
          call = code && ((*code)[0] == 0x12 || ((*code)[1] & 0x1F) == 0x11);
        }
        if (call) {
          const auto code = session_.Read(MemorySpace::Code, ret - 3, 3);
          frames_.push_back({(*code)[0] == 0x12 ? ret - 3 : ret - 2});
          i -= 2;
        } else {
          --i;
        }
        if (i < 0x08) break;
      }
    }
  }
  const int start = args.value("startFrame", 0);
  const int levels = args.value("levels", 0);
  json out = json::array();
  for (int k = std::max(0, start); k < static_cast<int>(frames_.size()); ++k) {
    if (levels > 0 && k - start >= levels) break;
    const std::uint32_t pc = frames_[static_cast<std::size_t>(k)].pc;
    const auto* f = symbols.FunctionAt(pc);
    json frame{{"id", k + 1},
               {"name", f != nullptr                   ? f->name
                        : symbols.Describe(pc).empty() ? HexAddress(pc)
                                                       : symbols.Describe(pc)},
               {"line", 0},
               {"column", 0},
               {"instructionPointerReference", MemoryReference(MemorySpace::Code, pc)}};
    if (auto line = symbols.LineAt(pc)) {
      frame["source"] = SourceOf(line->file);
      frame["line"] = line->line;
      frame["column"] = 1;
    }
    out.push_back(frame);
  }
  return json{{"stackFrames", out}, {"totalFrames", frames_.size()}};
}

std::uint32_t Server::FramePc(int frameId) {
  if (frames_.empty()) {
    const auto regs = Require(session_.ReadRegisters());
    frames_.push_back({regs.pc});
  }
  if (frameId < 1 || frameId > static_cast<int>(frames_.size()))
    throw RequestError{"no stack frame " + std::to_string(frameId)};
  return frames_[static_cast<std::size_t>(frameId - 1)].pc;
}

int Server::AddHandle(Handle h) {
  handles_.push_back(std::move(h));
  return static_cast<int>(handles_.size());
}

json Server::Scopes(const json& args) {
  const std::uint32_t pc = FramePc(args.at("frameId").get<int>());
  json scopes = json::array();
  scopes.push_back({{"name", "Locals"},
                    {"presentationHint", "locals"},
                    {"variablesReference", AddHandle({Handle::Kind::Locals, pc, {}})},
                    {"expensive", false}});
  scopes.push_back({{"name", "Globals"},
                    {"variablesReference", AddHandle({Handle::Kind::Globals, pc, {}})},
                    {"expensive", false}});
  scopes.push_back({{"name", "Registers"},
                    {"presentationHint", "registers"},
                    {"variablesReference", AddHandle({Handle::Kind::Registers, pc, {}})},
                    {"expensive", false}});
  return json{{"scopes", scopes}};
}

json Server::VariableJson(const Value& v) {
  const auto& symbols = session_.symbols();
  json j{{"name", v.name},
         {"value", Format(symbols, v)},
         {"type", v.type.Describe()},
         {"variablesReference", 0}};
  if (HasChildren(v)) {
    j["variablesReference"] = AddHandle({Handle::Kind::Children, 0, v});
    const auto kids = Children(symbols, v);
    (v.type.IsArray() ? j["indexedVariables"] : j["namedVariables"]) = kids.size();
  }
  if (!v.place.inRegisters) j["memoryReference"] = MemoryReference(v.place.space, v.place.address);
  return j;
}

json Server::RegistersJson() {
  const auto regs = Require(session_.ReadRegisters());
  json out = json::array();
  auto add = [&](const std::string& name, unsigned value, int digits) {
    char s[16];
    std::snprintf(s, sizeof s, "0x%0*X", digits, value);
    out.push_back({{"name", name}, {"value", s}, {"variablesReference", 0}});
  };
  for (int i = 0; i < 8; ++i) add("R" + std::to_string(i), regs.r[i], 2);
  add("A", regs.a, 2);
  add("B", regs.b, 2);
  add("SP", regs.sp, 2);
  add("PSW", regs.psw, 2);
  add("DPTR", regs.dptr, 4);
  add("PC", regs.pc, 4);
  return out;
}

json Server::Variables(const json& args) {
  const int ref = args.at("variablesReference").get<int>();
  if (ref < 1 || ref > static_cast<int>(handles_.size()))
    throw RequestError{"no variables reference " + std::to_string(ref)};
  const Handle h = handles_[static_cast<std::size_t>(ref - 1)];
  const auto& symbols = session_.symbols();
  json out = json::array();
  auto show = [&](const kz51::cdb::Variable& var) {
    Value v;
    std::string error = kCallerRegisters;
    if (RegistersHold(var, h.pc) && ReadValue(session_, var, v, error)) {
      out.push_back(VariableJson(v));
    } else {
      out.push_back({{"name", var.name},
                     {"value", "<" + error + ">"},
                     {"type", var.type.Describe()},
                     {"variablesReference", 0}});
    }
  };
  switch (h.kind) {
    case Handle::Kind::Locals: {
      const auto* f = symbols.FunctionAt(h.pc);
      if (f == nullptr) break;
      for (const auto& var : symbols.Cdb().variables)
        if (var.scope.kind == kz51::cdb::ScopeKind::Local && var.scope.function == f->name)
          show(var);
      break;
    }
    case Handle::Kind::Globals:
      for (const auto& var : symbols.Cdb().variables)
        if (var.scope.kind != kz51::cdb::ScopeKind::Local && !var.fromLinkerOnly) show(var);
      break;
    case Handle::Kind::Registers:
      out = RegistersJson();
      break;
    case Handle::Kind::Children:
      for (const Value& c : Children(symbols, h.value)) out.push_back(VariableJson(c));
      break;
  }
  return json{{"variables", out}};
}

bool Server::LookupValue(const std::string& expression, std::uint32_t pc, Value& out,
                         std::string& error) {
  std::string base;
  std::vector<PathStep> steps;
  if (!ParsePath(expression, base, steps)) {
    error = "cannot evaluate \"" + expression + "\": names, [index] and .member only";
    return false;
  }
  const auto* var = session_.symbols().FindVariable(base, pc);
  if (var == nullptr) {
    error = "unknown variable '" + base + "'";
    return false;
  }
  if (!RegistersHold(*var, pc)) {
    error = kCallerRegisters;
    return false;
  }
  Value v;
  return ReadValue(session_, *var, v, error) && Follow(session_.symbols(), v, steps, out, error);
}

bool Server::RegistersHold(const kz51::cdb::Variable& var, std::uint32_t pc) const {
  // The registers hold the innermost function's values only: a caller's
  // register variables were overwritten by the code it called.
  return var.space != kz51::cdb::Space::Register || frames_.empty() || frames_[0].pc == pc;
}

json Server::Evaluate(const json& args) {
  const std::string expression = args.at("expression").get<std::string>();
  std::uint32_t pc = 0;
  if (args.contains("frameId")) {
    pc = FramePc(args["frameId"].get<int>());
  } else {
    pc = Require(session_.Pc());
  }
  Value v;
  std::string error;
  if (LookupValue(expression, pc, v, error)) {
    json j = VariableJson(v);
    j["result"] = j["value"];
    j.erase("value");
    j.erase("name");
    return j;
  }
  // A register by name: R0..R7, A (ACC), B, SP, PSW, DPTR, PC.
  std::string name = Lower(expression);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name == "acc") name = "a";
  for (const json& r : RegistersJson())
    if (Lower(r["name"].get<std::string>()) == name)
      return json{{"result", r["value"]}, {"variablesReference", 0}};
  throw RequestError{
      error.rfind("unknown variable", 0) == 0 ? error + " and no register of that name" : error};
}

json Server::SetVariable(const json& args) {
  const int ref = args.at("variablesReference").get<int>();
  const std::string name = args.at("name").get<std::string>();
  const std::string text = args.at("value").get<std::string>();
  if (ref < 1 || ref > static_cast<int>(handles_.size()))
    throw RequestError{"no variables reference " + std::to_string(ref)};
  const Handle h = handles_[static_cast<std::size_t>(ref - 1)];
  const auto& symbols = session_.symbols();
  if (h.kind == Handle::Kind::Registers) {
    std::uint32_t value = 0;
    if (!kz51::ParseNumber(text, value)) throw RequestError{"'" + text + "' is not a number"};
    Require(session_.SetRegister(Lower(name), value));
    for (const json& r : RegistersJson())
      if (r["name"] == name) return json{{"value", r["value"]}, {"variablesReference", 0}};
    return json{{"value", text}};
  }
  Value target;
  bool found = false;
  std::string error;
  if (h.kind == Handle::Kind::Children) {
    for (Value& c : Children(symbols, h.value))
      if (c.name == name) {
        target = std::move(c);
        found = true;
      }
  } else {
    const auto* var = symbols.FindVariable(
        name, h.kind == Handle::Kind::Locals ? std::optional(h.pc) : std::nullopt);
    found = var != nullptr && ReadValue(session_, *var, target, error);
    if (var != nullptr && !found) throw RequestError{error};
  }
  if (!found) throw RequestError{"no variable '" + name + "' here"};
  std::vector<std::uint8_t> bytes;
  if (!Encode(target.type, text, bytes, error)) throw RequestError{error};
  if (!WritePlace(session_, target.place, bytes, error)) throw RequestError{error};
  if (!ReadPlace(session_, target.place, target.type.size, target.bytes, error))
    throw RequestError{error};
  return json{{"value", Format(symbols, target)},
              {"type", target.type.Describe()},
              {"variablesReference", 0}};
}

// ---- memory and code -------------------------------------------------------------

json Server::ReadMemory(const json& args) {
  MemorySpace space;
  std::uint32_t address = 0;
  ParseMemoryReference(args, "memoryReference", space, address);
  const long long count = args.at("count").get<long long>();
  if (count < 0) throw RequestError{"count must not be negative"};
  const std::uint32_t high = kz51::MemorySpaceHigh(space);
  const std::uint32_t n = static_cast<std::uint32_t>(
      std::min<long long>(count, static_cast<long long>(high - address) + 1));
  json body{{"address", MemoryReference(space, address)}};
  if (n == 0) {
    body["data"] = "";
    return body;
  }
  const auto bytes = Require(session_.Read(space, address, n));
  body["data"] = EncodeBase64(bytes);
  if (n < count) body["unreadableBytes"] = count - n;
  return body;
}

json Server::WriteMemory(const json& args) {
  MemorySpace space;
  std::uint32_t address = 0;
  ParseMemoryReference(args, "memoryReference", space, address);
  auto data = DecodeBase64(args.at("data").get<std::string>());
  if (!data) throw RequestError{"data is not base64"};
  const std::uint32_t room = kz51::MemorySpaceHigh(space) - address + 1;
  if (data->size() > room) {
    if (!args.value("allowPartial", false))
      throw RequestError{std::to_string(data->size()) + " bytes do not fit " +
                         kz51::MemorySpaceName(space) + " space from " + HexAddress(address)};
    data->resize(room);
  }
  if (!data->empty()) Require(session_.Write(space, address, *data));
  return json{{"bytesWritten", data->size()}};
}

json Server::Disassemble(const json& args) {
  MemorySpace space;
  std::uint32_t address = 0;
  ParseMemoryReference(args, "memoryReference", space, address);
  if (space != MemorySpace::Code) throw RequestError{"only code can be disassembled"};
  const int before = std::max(0, -args.value("instructionOffset", 0));
  const int skip = std::max(0, args.value("instructionOffset", 0));
  const int count = args.at("instructionCount").get<int>();
  if (count < 0 || count > 4096) throw RequestError{"instructionCount must be 0..4096"};
  if (before > 4096 || skip > 65536) throw RequestError{"instructionOffset is out of range"};
  const auto& symbols = session_.symbols();
  // Code before the address: decode forward from far enough back, from the
  // start of the function when there is one, and keep the last instructions.
  std::uint32_t from = address;
  if (before > 0) {
    from = address >= static_cast<std::uint32_t>(3 * before) ? address - 3 * before : 0;
    if (const auto* f = symbols.FunctionAt(address); f != nullptr && f->start && *f->start >= from)
      from = *f->start;
  }
  // Only the code the listing covers is read: at most 3 bytes an instruction.
  const std::uint32_t last = std::min<std::uint32_t>(0xFFFF, address + 3u * (skip + count) + 2u);
  const auto window = Require(session_.Read(MemorySpace::Code, from, last - from + 1));
  auto code = [&](std::uint32_t a) -> std::uint8_t {
    return a >= from && a <= last ? window[a - from] : 0;
  };
  std::vector<Instruction> list;
  std::uint32_t at = from;
  while (at < address) {
    std::uint8_t b[3] = {code(at), code(at + 1), code(at + 2)};
    list.push_back(kzhost::Disassemble(static_cast<std::uint16_t>(at), b));
    at += list.back().length;
  }
  if (static_cast<int>(list.size()) > before) list.erase(list.begin(), list.end() - before);
  json out = json::array();
  // Rows for what lies before address 0 are placeholders, as the protocol asks.
  for (int k = static_cast<int>(list.size()); k < before && static_cast<int>(out.size()) < count;
       ++k)
    out.push_back({{"address", "0x0000"}, {"instruction", "??"}, {"presentationHint", "invalid"}});
  std::optional<kz51::SourceLine> lastLine;
  auto emit = [&](const Instruction& ins) {
    json j{{"address", HexAddress(ins.address)}, {"instruction", ins.text}};
    std::string hex;
    for (unsigned i = 0; i < ins.length; ++i) {
      char s[4];
      std::snprintf(s, sizeof s, "%02X", code(ins.address + i));
      hex += (i ? " " : "") + std::string(s);
    }
    j["instructionBytes"] = hex;
    if (auto sym = symbols.Describe(ins.address);
        !sym.empty() && sym.find('+') == std::string::npos)
      j["symbol"] = sym;
    if (auto line = symbols.LineAt(ins.address);
        line && (!lastLine || line->line != lastLine->line || line->file != lastLine->file)) {
      j["location"] = SourceOf(line->file);
      j["line"] = line->line;
      lastLine = line;
    }
    out.push_back(j);
  };
  for (const auto& ins : list)
    if (static_cast<int>(out.size()) < count) emit(ins);
  at = address;
  for (int k = 0; static_cast<int>(out.size()) < count; ++k) {
    if (at > 0xFFFF) {
      out.push_back(
          {{"address", HexAddress(at)}, {"instruction", "??"}, {"presentationHint", "invalid"}});
      ++at;
      continue;
    }
    std::uint8_t b[3] = {code(at), code(at + 1), code(at + 2)};
    const Instruction ins = kzhost::Disassemble(static_cast<std::uint16_t>(at), b);
    at += ins.length;
    if (k >= skip) emit(ins);
  }
  return json{{"instructions", out}};
}

// ---- entry --------------------------------------------------------------------------

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
  // Reading requests must not flush the output: only the writer, under its
  // lock, touches standard output (the run thread writes events).
  std::cin.tie(nullptr);
  Server server(std::cin, std::cout, log, options);
  return server.Run();
}

}  // namespace kzhost::dap
