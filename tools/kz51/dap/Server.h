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
#include <vector>

#include "dap/Framing.h"
#include "dap/Log.h"
#include "dap/SerialOutput.h"
#include "debug/DebugModel.h"
#include "session/Session.h"

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
  json Terminate(const json& args);
  json SetBreakpoints(const json& args);
  json SetFunctionBreakpoints(const json& args);
  json SetInstructionBreakpoints(const json& args);
  json Continue(const json& args);
  json Next(const json& args);
  json StepIn(const json& args);
  json StepOut(const json& args);
  json Pause(const json& args);
  json StackTrace(const json& args);
  json Scopes(const json& args);
  json Variables(const json& args);
  json Evaluate(const json& args);
  json SetVariable(const json& args);
  json SetExpression(const json& args);
  json ReadMemory(const json& args);
  json WriteMemory(const json& args);
  json Disassemble(const json& args);

  // Run control: the run goes on in the session's background run, and the
  // waiter thread reports the stop.
  void StartRun(kz51::Session::RunKind kind, const char* stepReason, std::uint32_t argument = 0);
  void JoinWaiter();
  void ReportStop(const kz51::Result<kz51::StopEvent>& stop, const std::string& reason);
  void ResetHandles();
  // Forwards the serial output the target has sent so far.
  void FlushSerial();
  // Ends the session: stops a run, closes the driver, forwards the last
  // serial output and removes a private serial file.
  void EndSession();
  // The source file of a .cdb file name: beside the program, then in the
  // source directories; the name itself when found nowhere.
  std::string SourcePath(const std::string& file) const;
  json SourceOf(const std::string& file) const;
  // Breakpoints: the three kinds set by the editor, each replacing its own
  // kind; the session's breakpoint list holds their union.
  enum class BpKind { Line, Function, Instruction };
  struct Wanted {
    BpKind kind;
    std::uint32_t address;
    std::string location;
  };
  void ApplyBreakpoints(BpKind kind, std::vector<Wanted> wanted);
  // Hands the wanted list to the session when the target is stopped.
  void SyncBreakpoints();

  // A variables reference: a scope of a frame, or a value with children.
  // Frame ids are the model's frame levels plus one.
  struct Handle {
    enum class Kind { Locals, Globals, Registers, Children } kind;
    int level = 0;
    kz51::debug::Value value;
  };
  int AddHandle(Handle h);
  json VariableJson(const std::string& name, const kz51::debug::Value& v);
  std::vector<kz51::debug::NamedValue> RegistersOf(int level);
  // The frame level of a frameId, checked.
  int FrameLevel(int frameId);
  // The variables a reference lists.
  std::vector<kz51::debug::NamedValue> Listed(const Handle& h);
  // Writes the value of the expression `text` into `object`; for a value
  // typed into the editor it must fit the object's type.
  json SetTo(const std::string& name, const kz51::debug::Value& object, const std::string& text,
             int level);

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
  std::atomic<bool> pauseRequested_{false};
  bool done_ = false;
  bool stopOnEntry_ = false;
  std::string programDir_;
  std::vector<std::string> sourceDirs_;
  kz51::Session session_;
  // The C model; used on the reading thread only.
  kz51::debug::SessionTarget target_{session_};
  kz51::debug::DebugModel model_{target_, session_.symbols()};
  std::thread waiter_;
  // Created at launch, ended with the session; only the reading thread
  // creates and ends it, and it is never ended while the waiter runs.
  std::unique_ptr<SerialOutput> serial_;
  std::vector<Wanted> breakpoints_;
  bool breakpointsDirty_ = false;
  std::map<std::uint32_t, int> ids_;          // session breakpoint number by address
  std::vector<std::function<void()>> after_;  // run after the response is written
  std::vector<Handle> handles_;               // reference N is handles_[N - 1]
};

// `kz51 dap [--log FILE] [--driver PATH]`: serves on standard input and output.
int RunDap(int argc, char** argv);

}  // namespace kzhost::dap
