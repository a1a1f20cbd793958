#pragma once
// A debugger host in a few lines, shared by the end-to-end tests (libkz51.so)
// and the wine test host (KZ_DLL.dll): it registers itself, connects, loads an
// Intel HEX program through AG_MemAcc in record-sized pieces, resets, and then
// plays a script of host actions, writing what it sees as text lines.
//
// Script: commands separated by ';'
//   break A [count [text]]  a host breakpoint record at code address A (hex)
//   clear                   every host breakpoint removed
//   go | until A | step N   AG_GoStep 4, 3 (to A), 2 one instruction N times
//   stopgo                  a go stopped by AG_GoStep(1) from a second thread
//   wmem T V | wreg N V     write byte V at target address T / register N
//   dump                    registers, the register view and every space
// Output lines: "go <pc>", "until <pc> <same>", "step <pc>", "stopgo <answer>
// <pc> <running>", "callback <text>", "reg <name> <value>", "view <name>
// <text>", "mem <space> <hex bytes>", "error <what>".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/AG_DLL_DEF.h"

namespace kz::e2e {

using InitFn = std::int32_t(KZ_CDECL*)(std::uint16_t, void*);
using MemAccFn = std::uint16_t(KZ_CDECL*)(std::uint16_t, std::uint8_t*, AddressRecord*,
                                          std::uint32_t);
using RegAccFn = std::uint16_t(KZ_CDECL*)(std::uint16_t, std::uint32_t, void*);
using BreakFn = void*(KZ_CDECL*)(std::uint16_t, std::uint16_t, std::uint32_t*, BreakpointRecord*);
using GoStepFn = std::int32_t(KZ_CDECL*)(std::uint16_t, std::uint32_t, AddressRecord*);
using EnumFn = std::int32_t(KZ_CDECL*)(void*, std::int32_t);

struct Exports {
  InitFn init = nullptr;
  MemAccFn memAcc = nullptr;
  RegAccFn regAcc = nullptr;
  BreakFn breakFunc = nullptr;
  GoStepFn goStep = nullptr;
  EnumFn enumUv351 = nullptr;
};

struct HostState {
  std::FILE* out = nullptr;
  RegisterViewDescriptor view{};
  bool haveView = false;
  std::uint32_t pcCell = 0;
  BreakpointRecord* anchor = nullptr;
  std::deque<BreakpointRecord> records;
  std::deque<std::string> texts;
};

inline HostState& Host() {
  static HostState h;
  return h;
}

inline std::uint32_t KZ_CDECL HostCallbackFn(std::uint32_t code, void* argument) {
  HostState& h = Host();
  if (code == 3 && argument != nullptr) {
    h.view = *static_cast<RegisterViewDescriptor*>(argument);
    h.haveView = true;
  } else if (code == 4 && argument != nullptr && h.out != nullptr) {
    std::fprintf(h.out, "callback %s\n", static_cast<const char*>(argument));
  }
  return 0;
}

inline std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  s.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

// Loads the data records of an Intel HEX text, one AG_MemAcc(3) per record.
inline bool LoadHex(const Exports& x, const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 11 || line[0] != ':') continue;
    auto byteAt = [&](std::size_t i) {
      return static_cast<std::uint8_t>(
          std::strtoul(line.substr(1 + 2 * i, 2).c_str(), nullptr, 16));
    };
    const std::uint8_t n = byteAt(0);
    const std::uint16_t address = static_cast<std::uint16_t>(byteAt(1) << 8 | byteAt(2));
    if (byteAt(3) != 0 || line.size() < 11u + 2u * n) continue;
    std::vector<std::uint8_t> data(n);
    for (std::uint8_t i = 0; i < n; ++i) data[i] = byteAt(4 + i);
    AddressRecord rec{address, 0, 0};
    if (n > 0 && x.memAcc(3, data.data(), &rec, n) != 0) return false;
  }
  return true;
}

inline void Pc(const Exports& x, const char* tag, std::FILE* out) {
  std::uint8_t v[4] = {};
  x.regAcc(1, 0x500, v);
  std::fprintf(out, "%s %02X%02X %08X\n", tag, v[1], v[0], Host().pcCell);
}

inline void Dump(const Exports& x, std::FILE* out) {
  HostState& h = Host();
  const char* names[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7"};
  for (std::uint32_t r = 0; r < 8; ++r) {
    std::uint8_t v = 0;
    x.regAcc(1, r, &v);
    std::fprintf(out, "reg %s %02X\n", names[r], v);
  }
  std::uint8_t acc = 0, dptr[2] = {}, pc[4] = {};
  x.regAcc(1, 20, &acc);
  x.regAcc(1, 24, dptr);
  x.regAcc(1, 0x500, pc);
  std::fprintf(out, "reg acc %02X\nreg dptr %02X%02X\nreg pc %02X%02X%02X%02X\n", acc, dptr[1],
               dptr[0], pc[3], pc[2], pc[1], pc[0]);
  if (h.haveView && h.view.get != nullptr) {
    h.view.get(nullptr, static_cast<std::int32_t>(0x80000000u));
    for (std::int32_t i = 0; i < h.view.itemCount; ++i) {
      RegisterItem& item = h.view.items[i];
      h.view.get(&item, 0);
      std::string name(item.name, strnlen(item.name, sizeof item.name));
      while (!name.empty() && name.back() == ' ') name.pop_back();
      for (char& ch : name)
        if (ch == ' ') ch = '_';
      if (name.empty() || item.valueText[0] == '\0') continue;
      std::fprintf(out, "view %s %s\n", name.c_str(),
                   std::string(item.valueText, strnlen(item.valueText, 32)).c_str());
    }
  }
  struct Space {
    const char* name;
    std::uint32_t address;
    std::uint32_t length;
  };
  const Space spaces[] = {{"data", 0xF0000000u, 0x100},
                          {"idata", 0xF3000080u, 0x80},
                          {"pdata", 0xFE000000u, 0x100},
                          {"xdata", 0x01000000u, 0x10000},
                          {"code", 0xFF000000u, 0x10000}};
  for (const Space& s : spaces) {
    std::vector<std::uint8_t> b(s.length, 0);
    AddressRecord rec{s.address, 0, 0};
    const std::uint16_t answer = x.memAcc(1, b.data(), &rec, s.length);
    if (answer != 0) std::fprintf(out, "error read %s answered %u\n", s.name, answer);
    std::fprintf(out, "mem %s %s\n", s.name, Hex(b.data(), b.size()).c_str());
  }
}

inline std::uint32_t ParseHex(const std::string& s) {
  return static_cast<std::uint32_t>(std::strtoul(s.c_str(), nullptr, 16));
}

// Connects, loads, resets and plays the script. 0 when every step answered
// as a host expects.
inline int RunDebugScript(const Exports& x, const std::string& hex, const std::string& script,
                          std::FILE* out) {
  HostState& h = Host();
  h.out = out;
  x.init(0x30A, reinterpret_cast<void*>(1));
  x.init(0x312, reinterpret_cast<void*>(&HostCallbackFn));
  x.init(0x30E, &h.anchor);
  x.init(0x30F, &h.pcCell);
  if (x.enumUv351(nullptr, 2) != 8051) {
    std::fprintf(out, "error connect\n");
    return 1;
  }
  x.init(0x100, nullptr);
  if (!LoadHex(x, hex)) {
    std::fprintf(out, "error load\n");
    return 1;
  }
  x.init(0x40D, nullptr);

  std::istringstream commands(script);
  std::string command;
  while (std::getline(commands, command, ';')) {
    std::istringstream words(command);
    std::string verb;
    words >> verb;
    if (verb == "break") {
      std::string a;
      std::int32_t count = 1;
      std::string text;
      words >> a >> count;
      std::getline(words, text);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      BreakpointRecord r{};
      r.flags = kBpEnabled;  // kind 0
      r.address = 0xFF000000u | ParseHex(a);
      r.remainingCount = count;
      r.initialCount = count;
      if (!text.empty()) {
        h.texts.push_back(text);
        r.commandText = h.texts.back().c_str();
      }
      h.records.push_back(r);
      BreakpointRecord& added = h.records.back();
      added.next = h.anchor;  // the host keeps the newest first
      h.anchor = &added;
      std::uint32_t address = added.address;
      if (x.breakFunc(1, 0, &address, &added) != &added) std::fprintf(out, "error break\n");
    } else if (verb == "clear") {
      for (BreakpointRecord* r = h.anchor; r != nullptr; r = r->next) {
        std::uint32_t address = r->address;
        x.breakFunc(2, 0, &address, r);
      }
      h.anchor = nullptr;
    } else if (verb == "go") {
      x.goStep(4, 0, nullptr);
      Pc(x, "go", out);
    } else if (verb == "until") {
      std::string a;
      words >> a;
      std::vector<BreakpointRecord> before;
      for (BreakpointRecord* r = h.anchor; r != nullptr; r = r->next) before.push_back(*r);
      AddressRecord rec{0xFF000000u | ParseHex(a), 0, 0};
      x.goStep(3, 0, &rec);
      std::size_t i = 0;
      bool same = true;
      for (BreakpointRecord* r = h.anchor; r != nullptr; r = r->next, ++i)
        same = same && i < before.size() && std::memcmp(r, &before[i], sizeof *r) == 0;
      same = same && i == before.size();
      std::uint8_t v[4] = {};
      x.regAcc(1, 0x500, v);
      std::fprintf(out, "until %02X%02X %d\n", v[1], v[0], same ? 1 : 0);
    } else if (verb == "step") {
      int n = 0;
      words >> n;
      for (int i = 0; i < n; ++i) {
        x.goStep(2, 1, nullptr);
        Pc(x, "step", out);
      }
    } else if (verb == "stopgo") {
      std::int32_t answer = -1;
      std::thread stopper([&] {
        // A host sees the run under way when register reads answer 1; a stop
        // before the go started would only cancel it.
        std::uint8_t pc[4] = {};
        for (int i = 0; i < 10000 && x.regAcc(1, 0x500, pc) != 1; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        answer = x.goStep(1, 0, nullptr);
      });
      x.goStep(4, 0, nullptr);
      stopper.join();
      std::uint8_t v[4] = {};
      // Memory and registers answer again: the run is over.
      const std::uint16_t running = x.regAcc(1, 0x500, v);
      std::fprintf(out, "stopgo %d %02X%02X %u\n", answer, v[1], v[0], running);
    } else if (verb == "wmem") {
      std::string t, v;
      words >> t >> v;
      std::uint8_t b = static_cast<std::uint8_t>(ParseHex(v));
      AddressRecord rec{ParseHex(t), 0, 0};
      if (x.memAcc(2, &b, &rec, 1) != 0) std::fprintf(out, "error wmem\n");
    } else if (verb == "wreg") {
      std::string n, v;
      words >> n >> v;
      std::uint8_t b[4] = {static_cast<std::uint8_t>(ParseHex(v)), 0, 0, 0};
      if (x.regAcc(2, ParseHex(n), b) != 0) std::fprintf(out, "error wreg\n");
    } else if (verb == "dump") {
      Dump(x, out);
    } else if (!verb.empty()) {
      std::fprintf(out, "error unknown %s\n", verb.c_str());
    }
    std::fflush(out);
  }
  return 0;
}

}  // namespace kz::e2e
