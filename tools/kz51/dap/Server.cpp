#include "dap/Server.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Disassembler.h"
#include "dap/Base64.h"
#include "dap/MemoryReference.h"
#include "dap/Platform.h"
#include "debug/Evaluator.h"
#include "debug/Format.h"
#include "firmware/FirmwareConfig.h"
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
  on("setExpression", State::Configured, false, &Server::SetExpression);
  on("readMemory", State::Launched, false, &Server::ReadMemory);
  on("writeMemory", State::Launched, false, &Server::WriteMemory);
  on("disassemble", State::Launched, false, &Server::Disassemble);
  on("restart", State::Configured, true, &Server::Restart);
  on("completions", State::Launched, false, &Server::Completions);
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

json Server::Initialize(const json& args) {
  if (state_ != State::Fresh) throw RequestError{"initialize was already done"};
  columnsStartAt1_ = args.value("columnsStartAt1", true);
  state_ = State::Initialized;
  return json{{"supportsConfigurationDoneRequest", true},
              {"supportsFunctionBreakpoints", true},
              {"supportsInstructionBreakpoints", true},
              {"supportsConditionalBreakpoints", true},
              {"supportsHitConditionalBreakpoints", true},
              {"supportsLogPoints", true},
              {"supportsSetVariable", true},
              {"supportsReadMemoryRequest", true},
              {"supportsWriteMemoryRequest", true},
              {"supportsDisassembleRequest", true},
              {"supportsTerminateRequest", true},
              {"supportsEvaluateForHovers", true},
              {"supportsSetExpression", true},
              {"supportsSteppingGranularity", true},
              {"supportsRestartRequest", true},
              {"supportsCompletionsRequest", true},
              {"completionTriggerCharacters", json::array({".", "`"})}};
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
  program_ = program;
  kz51::SourceFiles& sources = session_.symbols().Sources();
  sources.ClearDirectories();
  if (auto d = args.find("sourceDirectories"); d != args.end() && d->is_array())
    for (const auto& s : *d)
      if (s.is_string()) sources.AddDirectory(s.get<std::string>());
  // The emulator's settings, checked by the provider's own parser before
  // anything starts: a bad key or value is the launch's error.
  if (auto e = args.find("emulator"); e != args.end()) {
    if (!e->is_string())
      throw RequestError{"\"emulator\" is a string of the virtual emulator's settings (KZ51_EMU)"};
    kzemu::FirmwareConfig settings;
    std::string error;
    if (!kzemu::ParseFirmwareConfig(e->get<std::string>(), settings, &error))
      throw RequestError{"the emulator setting \"" + e->get<std::string>() + "\" is not valid: " +
                         error + " (docs/KZ51_EMU.md lists the keys and values)"};
  }
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

// After the answer: the entry stop, or the run the launch asked for.
void Server::AfterLaunch() {
  if (stopOnEntry_) {
    after_.push_back([this] {
      SendEvent("stopped",
                {{"reason", "entry"}, {"threadId", kThreadId}, {"allThreadsStopped", true}});
    });
  } else {
    after_.push_back([this] { StartRun(Session::RunKind::Go, "step"); });
  }
}

json Server::ConfigurationDone(const json&) {
  if (state_ != State::Launched) throw RequestError{"configurationDone was already done"};
  state_ = State::Configured;
  AfterLaunch();
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

// ---- sources ----------------------------------------------------------------------

json Server::SourceOf(const std::string& file) const {
  const std::string path = session_.symbols().Sources().Find(file);
  if (path.empty())
    return json{{"name", kz51::FileNameOf(file)}, {"presentationHint", "deemphasize"}};
  return json{{"name", kz51::FileNameOf(path)}, {"path", path}};
}

// ---- stack, scopes, variables -------------------------------------------------------

json Server::StackTrace(const json& args) {
  const auto frames = Require(model_.Backtrace());
  const int start = args.value("startFrame", 0);
  const int levels = args.value("levels", 0);
  json out = json::array();
  for (int k = std::max(0, start); k < static_cast<int>(frames.size()); ++k) {
    if (levels > 0 && k - start >= levels) break;
    const kz51::debug::Frame& f = *frames[static_cast<std::size_t>(k)];
    json frame{{"id", k + 1},
               {"name", f.interrupted ? f.name + " [interrupted]" : f.name},
               {"line", 0},
               {"column", 0},
               {"instructionPointerReference", MemoryReference(MemorySpace::Code, f.pc)}};
    if (f.line) {
      frame["source"] = SourceOf(f.line->file);
      frame["line"] = f.line->line;
      frame["column"] = 1;
    } else {
      frame["presentationHint"] = "subtle";
    }
    out.push_back(frame);
  }
  return json{{"stackFrames", out}, {"totalFrames", frames.size()}};
}

int Server::FrameLevel(int frameId) {
  if (frameId < 1) throw RequestError{"no stack frame " + std::to_string(frameId)};
  auto f = model_.FrameAt(frameId - 1);
  if (!f) throw RequestError{"no stack frame " + std::to_string(frameId) + ": " + f.error()};
  return frameId - 1;
}

int Server::AddHandle(Handle h) {
  handles_.push_back(std::move(h));
  return static_cast<int>(handles_.size());
}

json Server::Scopes(const json& args) {
  const int level = FrameLevel(args.at("frameId").get<int>());
  json scopes = json::array();
  scopes.push_back({{"name", "Locals"},
                    {"presentationHint", "locals"},
                    {"variablesReference", AddHandle({Handle::Kind::Locals, level, {}})},
                    {"expensive", false}});
  scopes.push_back({{"name", "Globals"},
                    {"variablesReference", AddHandle({Handle::Kind::Globals, level, {}})},
                    {"expensive", false}});
  scopes.push_back({{"name", "Registers"},
                    {"presentationHint", "registers"},
                    {"variablesReference", AddHandle({Handle::Kind::Registers, level, {}})},
                    {"expensive", false}});
  scopes.push_back({{"name", "SFRs"},
                    {"presentationHint", "registers"},
                    {"variablesReference", AddHandle({Handle::Kind::Sfrs, level, {}})},
                    {"expensive", false}});
  return json{{"scopes", scopes}};
}

json Server::VariableJson(const std::string& name, const kz51::debug::Value& v) {
  const std::string type = v.type ? v.type->Describe() : "";
  json j{{"name", name}, {"type", type}, {"variablesReference", 0}};
  if (!v.Available()) {
    j["value"] = "<unavailable> (" + v.unavailable + ")";
    j["presentationHint"] = {{"attributes", json::array({"readOnly"})}};
    return j;
  }
  kz51::debug::FormatStyle compact;
  compact.compact = true;
  j["value"] = kz51::debug::FormatValue(model_, v, compact);
  if (v.type && v.type->IsAggregate()) {
    const auto kids = model_.Children(v);
    j["variablesReference"] = AddHandle({Handle::Kind::Children, 0, v});
    (v.type->kind == kz51::debug::CType::Kind::Array ? j["indexedVariables"]
                                                     : j["namedVariables"]) = kids.size();
  }
  if (v.where.kind == kz51::debug::Location::Kind::Memory)
    j["memoryReference"] = MemoryReference(v.where.space, v.where.address);
  return j;
}

// The part of `all` a variables request asks for with start and count.
json Server::Page(const json& all, const json& args) {
  const long long start = args.value("start", 0LL), count = args.value("count", 0LL);
  if (start < 0 || count < 0) throw RequestError{"start and count must not be negative"};
  if (start == 0 && count == 0) return all;
  json out = json::array();
  const long long size = static_cast<long long>(all.size());
  for (long long i = start; i < size && (count == 0 || i < start + count); ++i)
    out.push_back(all[static_cast<std::size_t>(i)]);
  return out;
}

// The SFRs and sbits the program declares, as the registers: in hex.
json Server::SfrsJson() {
  json out = json::array();
  std::map<std::uint32_t, std::uint8_t> bytes;  // read once per address
  auto byteAt = [&](std::uint32_t address) -> std::optional<std::uint8_t> {
    if (auto it = bytes.find(address); it != bytes.end()) return it->second;
    auto b = session_.Read(MemorySpace::Sfr, address, 1);
    if (!b) return std::nullopt;
    return bytes[address] = (*b)[0];
  };
  for (const auto* v : session_.symbols().SpecialFunctionRegisters()) {
    const std::uint32_t a = *v->address;
    const bool bit = v->space == kz51::cdb::Space::Sbit;
    std::string value = "<cannot be read>";
    if (bit && a < 0x80) {
      value = "<not an SFR bit>";
    } else if (const auto b = byteAt(bit ? (a & 0xF8u) : a)) {
      char text[8];
      if (bit)
        std::snprintf(text, sizeof text, "%u", (*b >> (a & 7u)) & 1u);
      else
        std::snprintf(text, sizeof text, "0x%02X", *b);
      value = text;
    }
    json j{{"name", v->name},
           {"value", value},
           {"type", bit ? "sbit" : "sfr"},
           {"variablesReference", 0}};
    if (!bit) j["memoryReference"] = MemoryReference(MemorySpace::Sfr, a);
    out.push_back(j);
  }
  return out;
}

std::vector<kz51::debug::NamedValue> Server::RegistersOf(int level) {
  std::vector<kz51::debug::NamedValue> out;
  for (const char* name : {"$r0", "$r1", "$r2", "$r3", "$r4", "$r5", "$r6", "$r7", "$a", "$b",
                           "$sp", "$psw", "$dptr", "$pc"})
    out.push_back({name, Require(model_.RegisterValue(name, level))});
  return out;
}

std::vector<kz51::debug::NamedValue> Server::Listed(const Handle& h) {
  switch (h.kind) {
    case Handle::Kind::Locals: {
      auto list = Require(model_.Args(h.level));
      const auto locals = Require(model_.Locals(h.level));
      list.insert(list.end(), locals.begin(), locals.end());
      return list;
    }
    case Handle::Kind::Globals: {
      // The program's own globals: not sdcc's helpers, not the SFRs.
      std::vector<kz51::debug::NamedValue> out;
      for (const auto* var : session_.symbols().Globals())
        out.push_back({var->name, Require(model_.Variable(*var, h.level))});
      return out;
    }
    case Handle::Kind::Registers:
      return RegistersOf(h.level);
    case Handle::Kind::Sfrs:
      return {};
    case Handle::Kind::Children:
      return model_.Children(h.value);
  }
  return {};
}

json Server::Variables(const json& args) {
  const int ref = args.at("variablesReference").get<int>();
  if (ref < 1 || ref > static_cast<int>(handles_.size()))
    throw RequestError{"no variables reference " + std::to_string(ref)};
  const Handle h = handles_[static_cast<std::size_t>(ref - 1)];
  if (h.kind == Handle::Kind::Sfrs) return json{{"variables", Page(SfrsJson(), args)}};
  json out = json::array();
  for (const auto& nv : Listed(h)) {
    if (h.kind == Handle::Kind::Registers && nv.value.Available()) {
      // Registers in hex, as the chip's manuals write them.
      kz51::debug::Value v = nv.value;
      Require(model_.Load(v));
      char text[16];
      std::snprintf(text, sizeof text, "0x%0*llX", static_cast<int>(2 * v.type->size),
                    static_cast<unsigned long long>(kz51::debug::IntegerValue(v)));
      out.push_back({{"name", nv.name},
                     {"value", text},
                     {"type", v.type->Describe()},
                     {"variablesReference", 0}});
      continue;
    }
    out.push_back(VariableJson(nv.name, nv.value));
  }
  return json{{"variables", Page(out, args)}};
}

json Server::Evaluate(const json& args) {
  const std::string expression = args.at("expression").get<std::string>();
  // The debug console runs kz51 commands written after a backtick.
  if (args.value("context", std::string()) == "repl" && !expression.empty() && expression[0] == '`')
    return ConsoleCommand(expression.substr(1));
  const int level = args.contains("frameId") ? FrameLevel(args["frameId"].get<int>()) : 0;
  const auto v = Require(model_.EvaluateAt(expression, level));
  if (!v.Available()) throw RequestError{expression + " is unavailable here: " + v.unavailable};
  json j = VariableJson(expression, v);
  j["result"] = j["value"];
  j.erase("value");
  j.erase("name");
  return j;
}

json Server::SetTo(const std::string& name, const kz51::debug::Value& object,
                   const std::string& text, int level) {
  if (!object.Available()) throw RequestError{"cannot set " + name + ": " + object.unavailable};
  const auto source = Require(model_.EvaluateAt(text, level));
  if (!source.Available()) throw RequestError{text + " is unavailable here: " + source.unavailable};
  auto assigned = model_.AssignExactly(object, source);
  if (!assigned) throw RequestError{"cannot set " + name + ": " + assigned.error()};
  json j = VariableJson("", *assigned);
  j.erase("name");
  return j;
}

json Server::SetVariable(const json& args) {
  const int ref = args.at("variablesReference").get<int>();
  const std::string name = args.at("name").get<std::string>();
  const std::string text = args.at("value").get<std::string>();
  if (ref < 1 || ref > static_cast<int>(handles_.size()))
    throw RequestError{"no variables reference " + std::to_string(ref)};
  const Handle h = handles_[static_cast<std::size_t>(ref - 1)];
  if (h.kind == Handle::Kind::Sfrs) {
    // An SFR by its C name: the model knows it as a global.
    return SetTo(name, Require(model_.EvaluateAt(name, 0)), text, 0);
  }
  for (const auto& nv : Listed(h)) {
    if (nv.name != name) continue;
    json j = SetTo(name, nv.value, text, h.level);
    if (h.kind == Handle::Kind::Registers) {
      // Shown again as the Registers scope shows it.
      for (const auto& again : Variables(json{{"variablesReference", ref}})["variables"])
        if (again["name"] == name) j["value"] = again["value"];
    }
    return j;
  }
  throw RequestError{"no variable '" + name + "' here"};
}

json Server::SetExpression(const json& args) {
  const std::string expression = args.at("expression").get<std::string>();
  const std::string text = args.at("value").get<std::string>();
  const int level = args.contains("frameId") ? FrameLevel(args["frameId"].get<int>()) : 0;
  const auto object = Require(model_.EvaluateAt(expression, level));
  return SetTo(expression, object, text, level);
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
  // Code before the address: decode forward from far enough back, from an
  // instruction known to start there (a function's entry or a C line's first
  // instruction), going further back until enough instructions come before.
  const std::uint32_t last = std::min<std::uint32_t>(0xFFFF, address + 3u * (skip + count) + 2u);
  std::uint32_t from = address;
  std::vector<std::uint8_t> window;
  std::vector<Instruction> list;
  auto code = [&](std::uint32_t a) -> std::uint8_t {
    return a >= from && a <= last ? window[a - from] : 0;
  };
  for (std::uint32_t back = 3u * static_cast<std::uint32_t>(before);; back *= 2) {
    from = address > back ? address - back : 0;
    std::uint32_t aligned = address;
    for (const auto& f : symbols.Cdb().functions)
      if (f.start && *f.start >= from && *f.start < aligned) aligned = *f.start;
    for (const auto& l : symbols.Cdb().lines)
      if (l.address >= from && l.address < aligned && symbols.FunctionAt(l.address) != nullptr)
        aligned = l.address;
    if (aligned < address) from = aligned;
    window = Require(session_.Read(MemorySpace::Code, from, last - from + 1));
    list.clear();
    for (std::uint32_t at = from; at < address;) {
      std::uint8_t b[3] = {code(at), code(at + 1), code(at + 2)};
      list.push_back(kzhost::Disassemble(static_cast<std::uint16_t>(at), b));
      at += list.back().length;
    }
    if (static_cast<int>(list.size()) >= before || from == 0 || back >= 0x10000) break;
  }
  if (static_cast<int>(list.size()) > before) list.erase(list.begin(), list.end() - before);
  json out = json::array();
  // Nothing lies before address 0: the answer starts there, shorter by the
  // instructions asked for before it (no rows that claim an address).
  const int missing = before - static_cast<int>(list.size());
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
  std::uint32_t at = address;
  for (int k = 0; static_cast<int>(out.size()) + missing < count; ++k) {
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
