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
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
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

// The value of a session result, or the request refused with its sentence.
template <class T>
const T& Require(const kz51::Result<T>& r) {
  if (!r) throw RequestError{r.error()};
  return *r;
}

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
  json Restart(const json& args);
  json Completions(const json& args);
  // The debug console's kz51 commands (Console.cpp): the text after the
  // prefix, run by the command line's table; runs and session changes are
  // refused (the editor's buttons do those).
  json ConsoleCommand(const std::string& text);
  kz51::cli::Commands& Console();

  // Run control (RunControl.cpp): the run goes on in the session's
  // background run, and the waiter thread handles the stop: a pause for
  // breakpoints set while the target ran, or a breakpoint whose condition
  // does not hold, continues the run without a visible stop; other stops
  // are reported.
  void StartRun(kz51::Session::RunKind kind, const char* stepReason, std::uint32_t argument = 0);
  void AfterLaunch();
  void WaitForStop(const std::string& stepReason);
  void JoinWaiter();
  void ReportStop(const kz51::Result<kz51::StopEvent>& stop, const std::string& reason,
                  const std::vector<int>& hitIds);
  // The run kind of next, stepIn and stepOut at the requested granularity.
  kz51::Session::RunKind StepKind(const json& args, kz51::Session::RunKind lines) const;
  void ResetHandles();
  // Forwards the serial output the target has sent so far.
  void FlushSerial();
  // Ends the session: stops a run, closes the driver, forwards the last
  // serial output and removes a private serial file.
  void EndSession();
  // The source of a .cdb file name: an absolute path of an existing file
  // (symbols/SourceFiles.h), else the name only, de-emphasized.
  json SourceOf(const std::string& file) const;
  // Breakpoints (Breakpoints.cpp): the three kinds set by the editor, each
  // replacing its own kind; the session's breakpoint list holds their union.
  enum class BpKind { Line, Function, Instruction };
  struct Wanted {
    BpKind kind = BpKind::Line;
    std::uint32_t address = 0;
    std::string location;  // "ticker.c:33", "work", "0x0109"
    int id = 0;            // the id the editor knows it by
    std::string condition, hitCondition, logMessage;
    unsigned hits = 0;  // hits with the condition true
  };
  // Conditions, hit conditions and log messages checked when set: a
  // sentence for the first that cannot work, "" when all can.
  std::string CheckConditions(const json& request) const;
  // The wanted breakpoint of a request: its id kept when the same
  // breakpoint was wanted before (its hits too, when nothing changed).
  Wanted Want(BpKind kind, std::uint32_t address, const std::string& location, const json& request);
  void ApplyBreakpoints(BpKind kind, std::vector<Wanted> wanted);
  // Hands the wanted list to the session when the target is stopped.
  void SyncBreakpoints();
  // The ids of the breakpoints at `pc` that act: hit counts move on,
  // conditions are evaluated, log points write their messages. Empty when
  // none acts; `wantedHere` false when none is at `pc`.
  std::vector<int> BreakpointsActing(std::uint32_t pc, bool& wantedHere);
  std::string Interpolate(const std::string& message);

  // A variables reference: a scope of a frame, or a value with children.
  // Frame ids are the model's frame levels plus one.
  struct Handle {
    enum class Kind { Locals, Globals, Registers, Sfrs, Children } kind;
    int level = 0;
    kz51::debug::Value value;
  };
  int AddHandle(Handle h);
  json VariableJson(const std::string& name, const kz51::debug::Value& v);
  std::vector<kz51::debug::NamedValue> RegistersOf(int level);
  json SfrsJson();
  static json Page(const json& all, const json& args);
  // The frame level of a frameId, checked.
  int FrameLevel(int frameId);
  // The variables a reference lists (not the SFRs).
  std::vector<kz51::debug::NamedValue> Listed(const Handle& h);
  // Writes the value of the expression `text` into `object`; a value typed
  // into the editor must fit the object's type.
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
  // Set by a breakpoint request while a continue runs: the waiter takes the
  // pause it causes as its own, arms the breakpoints and runs on.
  std::atomic<bool> rearm_{false};
  kz51::Session::RunKind runKind_ = kz51::Session::RunKind::Go;
  // The session is used by one thread at a time: the reading thread, or the
  // waiter while it handles a stop (taken after the session's Wait).
  std::recursive_mutex control_;
  std::atomic<bool> restarting_{false};  // the stop of a restart is not reported
  bool columnsStartAt1_ = true;
  std::unique_ptr<kz51::cli::Commands> console_;  // the debug console's kz51 commands
  bool done_ = false;
  bool stopOnEntry_ = false;
  std::string program_;
  kz51::Session session_;
  // The C model of the stopped target, on the reading thread (the waiter's
  // conditions and log points make models of their own).
  kz51::debug::SessionTarget target_{session_};
  kz51::debug::DebugModel model_{target_, session_.symbols()};
  std::thread waiter_;
  // Created at launch, ended with the session; only the reading thread
  // creates and ends it, and it is never ended while the waiter runs.
  std::unique_ptr<SerialOutput> serial_;
  std::vector<Wanted> breakpoints_;
  bool breakpointsDirty_ = false;
  int nextBreakpointId_ = 1;
  std::vector<std::function<void()>> after_;  // run after the response is written
  std::vector<Handle> handles_;               // reference N is handles_[N - 1]
};

// `kz51 dap [--log FILE] [--driver PATH]`: serves on standard input and output.
int RunDap(int argc, char** argv);

}  // namespace kzhost::dap
