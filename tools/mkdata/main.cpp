// kz51-mkdata: writes the sample data files KZ.MDB (device database) and
// KZ.FMD (configuration library) from data/devices.txt and data/library.txt.
//   kz51-mkdata <description dir> <output dir>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/ByteOrder.h"
#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "connect/FmdIndex.h"
#include "connect/FmdScramble.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

// Lines without comments and surrounding blanks; empty lines dropped. Each
// entry keeps its "file:line" for messages.
std::vector<std::pair<std::string, std::string>> ReadLines(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail(path, "cannot open");
  std::vector<std::pair<std::string, std::string>> lines;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const auto last = line.find_last_not_of(" \t\r");
    lines.emplace_back(path + ":" + std::to_string(number), line.substr(first, last - first + 1));
  }
  return lines;
}

std::uint32_t Number(const std::string& where, const std::string& text, int base) {
  try {
    std::size_t used = 0;
    const unsigned long long v = std::stoull(text, &used, base);
    if (used != text.size() || v > 0xFFFFFFFFull) throw std::out_of_range(text);
    return static_cast<std::uint32_t>(v);
  } catch (const std::exception&) {
    Fail(where, "bad number '" + text + "'");
  }
}

void PutText(Bytes& out, const std::string& where, const std::string& text) {
  if (text.size() > 255) Fail(where, "text longer than 255 bytes");
  out.push_back(static_cast<std::uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

template <typename T>
void Put(Bytes& out, T value) {
  std::uint8_t b[sizeof(T)];
  kz::StoreLe<T>(b, value);
  out.insert(out.end(), b, b + sizeof(T));
}

// ---- devices.txt -> KZ.MDB ------------------------------------------------

struct Cpu {
  std::string where;
  std::string name;
  std::uint32_t podMask = 0;
  std::string texts[4];
  std::uint32_t ranges[5][5][2] = {};
  std::uint32_t words[5] = {};
  std::string names1[10], names2[10];
};

struct Vendor {
  std::string name;
  std::vector<Cpu> cpus;
};

std::string Blanks(std::string text) {
  for (char& ch : text)
    if (ch == '_') ch = ' ';
  return text;
}

Cpu ParseCpu(const std::string& where, const std::vector<std::string>& tokens) {
  if (tokens.size() < 2) Fail(where, "cpu without a name");
  Cpu cpu;
  cpu.where = where;
  cpu.name = tokens[1];
  for (std::size_t i = 2; i < tokens.size(); ++i) {
    const auto eq = tokens[i].find('=');
    if (eq == std::string::npos) Fail(where, "expected key=value, got '" + tokens[i] + "'");
    const std::string key = tokens[i].substr(0, eq), value = tokens[i].substr(eq + 1);
    auto range = [&](int group, int pair) {
      const auto dash = value.find('-');
      if (dash == std::string::npos) Fail(where, "range needs FIRST-LAST");
      cpu.ranges[group - 1][pair - 1][0] = Number(where, value.substr(0, dash), 16);
      cpu.ranges[group - 1][pair - 1][1] = Number(where, value.substr(dash + 1), 16);
    };
    if (key == "pods") {
      std::istringstream list(value);
      for (std::string pod; std::getline(list, pod, ',');) {
        const auto bit = kz::PodBit(static_cast<int>(Number(where, pod, 10)));
        if (bit == 0) Fail(where, "pod " + pod + " has no pod bit");
        cpu.podMask |= bit;
      }
    } else if (key == "code") {
      range(2, 1);
    } else if (key.size() == 4 && key[0] == 'r' && key[2] == '.' && key[1] >= '1' &&
               key[1] <= '5' && key[3] >= '1' && key[3] <= '5') {
      range(key[1] - '0', key[3] - '0');
    } else if (key == "periph") {
      cpu.words[2] = Number(where, value, 16);
    } else if (key == "hw") {
      cpu.words[3] = Number(where, value, 16);
    } else if (key.size() == 2 && key[0] == 'w' && key[1] >= '0' && key[1] <= '4') {
      cpu.words[key[1] - '0'] = Number(where, value, 16);
    } else if (key.size() == 2 && key[0] == 't' && key[1] >= '1' && key[1] <= '4') {
      cpu.texts[key[1] - '1'] = Blanks(value);
    } else if (key.size() >= 4 && (key.rfind("n1.", 0) == 0 || key.rfind("n2.", 0) == 0)) {
      const auto k = Number(where, key.substr(3), 10);
      if (k < 1 || k > 10) Fail(where, "name number must be 1..10");
      (key[1] == '1' ? cpu.names1 : cpu.names2)[k - 1] = Blanks(value);
    } else {
      Fail(where, "unknown key '" + key + "'");
    }
  }
  if (cpu.podMask == 0) Fail(where, "cpu " + cpu.name + " names no pod");
  return cpu;
}

std::vector<Vendor> ParseDevices(const std::string& path) {
  std::vector<Vendor> vendors;
  for (const auto& [where, line] : ReadLines(path)) {
    const auto tokens = Tokens(line);
    if (tokens[0] == "vendor") {
      const auto name = line.substr(line.find("vendor") + 6);
      const auto first = name.find_first_not_of(" \t");
      if (first == std::string::npos) Fail(where, "vendor without a name");
      vendors.push_back({name.substr(first), {}});
    } else if (tokens[0] == "cpu") {
      if (vendors.empty()) Fail(where, "cpu before the first vendor");
      vendors.back().cpus.push_back(ParseCpu(where, tokens));
    } else {
      Fail(where, "unknown item '" + tokens[0] + "'");
    }
  }
  return vendors;
}

Bytes BuildMdb(const std::vector<Vendor>& vendors) {
  std::size_t cpuCount = 0;
  for (const auto& v : vendors) {
    if (v.cpus.size() > 0xFFFF) Fail(v.name, "too many CPUs for one vendor");
    cpuCount += v.cpus.size();
  }
  if (vendors.size() > static_cast<std::size_t>(kz::kMaxVendors) ||
      cpuCount > static_cast<std::size_t>(kz::kMaxCpus))
    Fail("devices", "more vendors or CPUs than the driver's tables hold");

  // The details blocks follow the tables and the end markers.
  std::vector<Bytes> blocks;
  for (const auto& v : vendors)
    for (const auto& c : v.cpus) {
      Bytes b;
      for (const auto& t : c.texts) PutText(b, c.where, t);
      for (const auto& group : c.ranges)
        for (const auto& pair : group) {
          Put<std::uint32_t>(b, pair[0]);
          Put<std::uint32_t>(b, pair[1]);
        }
      for (auto w : c.words) Put<std::uint32_t>(b, w);
      for (const auto& n : c.names1) PutText(b, c.where, n);
      for (const auto& n : c.names2) PutText(b, c.where, n);
      blocks.push_back(std::move(b));
    }

  // Built from the header rather than inserted into an empty vector, which
  // GCC 12 at -O3 mistakes for a write past the end (-Wstringop-overflow).
  Bytes tables(kz::kDeviceDatabaseHeader.begin(), kz::kDeviceDatabaseHeader.end());
  Put<std::int32_t>(tables, static_cast<std::int32_t>(vendors.size()));
  std::size_t tableSize = tables.size() + 8;
  for (const auto& v : vendors) {
    tableSize += 1 + v.name.size() + 2;
    for (const auto& c : v.cpus) tableSize += 1 + c.name.size() + 16;
  }
  std::size_t offset = tableSize, index = 0;
  for (const auto& v : vendors) {
    PutText(tables, v.name, v.name);
    Put<std::uint16_t>(tables, static_cast<std::uint16_t>(v.cpus.size()));
    for (const auto& c : v.cpus) {
      PutText(tables, c.where, c.name);
      Put<std::uint32_t>(tables, c.podMask);
      Put<std::uint32_t>(tables, static_cast<std::uint32_t>(offset));
      Put<std::uint32_t>(tables, 0);  // extra list: unused
      Put<std::uint32_t>(tables, 0);
      offset += blocks[index++].size();
    }
  }
  Put<std::uint32_t>(tables, kz::kDeviceDatabaseEndMarker1);
  Put<std::uint32_t>(tables, kz::kDeviceDatabaseEndMarker2);
  if (tables.size() != tableSize) Fail("devices", "internal size mismatch");
  for (const auto& b : blocks) tables.insert(tables.end(), b.begin(), b.end());
  return tables;
}

// Every occupied 8051 pod must offer at least one CPU.
void CheckPodsCovered(const std::vector<Vendor>& vendors) {
  for (int pod = 1; pod <= kz::kPodSlotCount; ++pod) {
    const auto& slot = kz::kPodSlots[static_cast<std::size_t>(pod - 1)];
    if (slot.Family != 0 || slot.PodName[0] == '\0') continue;
    bool offered = false;
    for (const auto& v : vendors)
      for (const auto& c : v.cpus) offered = offered || (c.podMask & kz::PodBit(pod)) != 0;
    if (!offered) Fail("devices", "no CPU for pod " + std::to_string(pod));
  }
}

// ---- library.txt -> KZ.FMD ------------------------------------------------

struct Record {
  std::string where, name, data;
  std::int32_t mode = 0;
};

// Deterministic bytes (xorshift32), the same on every host.
Bytes RandomBytes(std::uint32_t seed, std::size_t length) {
  Bytes out(length);
  std::uint32_t x = seed ? seed : 0x9E3779B9u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

void ParseLibrary(const std::string& path, std::map<std::string, Bytes>& data,
                  std::vector<Record>& records) {
  std::string last;  // data item that '+' lines continue
  for (const auto& [where, line] : ReadLines(path)) {
    const auto tokens = Tokens(line);
    if (tokens[0] == "data" && tokens.size() >= 3) {
      last = tokens[1];
      if (data.count(last)) Fail(where, "data '" + last + "' given twice");
      Bytes bytes;
      if (tokens[2] == "hex") {
        for (std::size_t i = 3; i < tokens.size(); ++i)
          bytes.push_back(static_cast<std::uint8_t>(Number(where, tokens[i], 16) & 0xFF));
      } else if (tokens[2] == "random" && tokens.size() == 5) {
        bytes = RandomBytes(Number(where, tokens[3], 0), Number(where, tokens[4], 10));
      } else {
        Fail(where, "data needs 'hex BYTES...' or 'random SEED LENGTH'");
      }
      data[last] = std::move(bytes);
    } else if (tokens[0] == "+") {
      if (last.empty()) Fail(where, "'+' without data before it");
      for (std::size_t i = 1; i < tokens.size(); ++i)
        data[last].push_back(static_cast<std::uint8_t>(Number(where, tokens[i], 16) & 0xFF));
    } else if (tokens[0] == "record" && tokens.size() == 4) {
      last.clear();
      Record r{where, tokens[1], tokens[2],
               static_cast<std::int32_t>(Number(where, tokens[3], 10))};
      if (r.name.size() > kz::kFmdMaxNameLength) Fail(where, "record name longer than 22");
      records.push_back(r);
    } else {
      Fail(where, "expected 'data ID hex|random ...', '+ BYTES...' or 'record NAME DATA MODE'");
    }
  }
  for (const auto& r : records) {
    if (!data.count(r.data)) Fail(r.where, "unknown data '" + r.data + "'");
    if (data[r.data].empty()) Fail(r.where, "data '" + r.data + "' is empty");
  }
}

// The names the connection can ask for: every monitor name, and every 8051
// pod's configuration name with each emulator family prefix.
void CheckLibraryCovered(const std::vector<Record>& records,
                         const std::map<std::string, Bytes>& data) {
  std::map<std::string, const Record*> byName;
  for (const auto& r : records)
    if (!byName.emplace(r.name, &r).second) Fail(r.where, "record '" + r.name + "' given twice");
  for (const auto& slot : kz::kPodSlots) {
    if (slot.MonitorName[0] != '\0') {
      const auto it = byName.find(slot.MonitorName);
      if (it == byName.end()) Fail("library", std::string("no monitor ") + slot.MonitorName);
      // The driver loads at most 6144 bytes; the last stored byte is not counted.
      if (data.at(it->second->data).size() - 1 > 6144)
        Fail(it->second->where, "monitor longer than 6144 bytes");
    }
    if (slot.Family != 0 || slot.PodConfigName[0] == '\0') continue;
    for (const char* prefix : {"JY", "JZ", "Q_", "QJZT_", ""}) {
      const std::string name = std::string(prefix) + slot.PodConfigName;
      if (!byName.count(name)) Fail("library", "no configuration " + name);
    }
  }
}

Bytes BuildFmd(const std::map<std::string, Bytes>& data, const std::vector<Record>& records) {
  Bytes file(kz::kFmdSignatureFieldSize, 0);
  std::copy(kz::kFmdSignature.begin(), kz::kFmdSignature.end(), file.begin());
  Put<std::int32_t>(file, static_cast<std::int32_t>(records.size()));
  const std::size_t indexAt = file.size();
  file.resize(file.size() + records.size() * kz::kFmdIndexRecordSize);
  // Records sharing data and scramble mode share the stored bytes.
  std::map<std::pair<std::string, std::int32_t>, std::int32_t> stored;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    const Bytes& plain = data.at(r.data);
    auto [it, added] = stored.emplace(std::make_pair(r.data, r.mode), 0);
    if (added) {
      it->second = static_cast<std::int32_t>(file.size());
      for (auto b : plain) file.push_back(kz::Scramble(r.mode, b));
    }
    kz::FmdIndexRecord index{static_cast<std::uint8_t>(r.name.size()), r.name, it->second,
                             static_cast<std::int32_t>(plain.size()), r.mode};
    const auto encoded = kz::EncodeFmdIndexRecord(index);
    std::copy(encoded.begin(), encoded.end(),
              file.begin() + static_cast<std::ptrdiff_t>(indexAt + i * encoded.size()));
  }
  return file;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) Fail(temp, "cannot write");
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) Fail(path, "cannot replace");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kz51-mkdata <description dir> <output dir>\n");
    return 2;
  }
  const std::string in = std::string(argv[1]) + "/", out = std::string(argv[2]) + "/";
  try {
    const auto vendors = ParseDevices(in + "devices.txt");
    CheckPodsCovered(vendors);
    const Bytes mdb = BuildMdb(vendors);
    kz::DeviceDatabase check;
    if (!check.ParseDeviceDatabase(mdb.data(), mdb.size())) Fail("KZ.MDB", "does not read back");

    std::map<std::string, Bytes> data;
    std::vector<Record> records;
    ParseLibrary(in + "library.txt", data, records);
    CheckLibraryCovered(records, data);
    const Bytes fmd = BuildFmd(data, records);
    std::vector<kz::FmdIndexRecord> index;
    if (!kz::ParseFmdIndex(fmd.data(), fmd.size(), index) || index.size() != records.size())
      Fail("KZ.FMD", "does not read back");

    WriteFile(out + kz::kDeviceDatabaseFileName, mdb);
    WriteFile(out + kz::kFmdFileName, fmd);
    std::printf(
        "kz51-mkdata: KZ.MDB %zu bytes (%d vendors, %d CPUs), KZ.FMD %zu bytes (%zu records)\n",
        mdb.size(), check.VendorCount(), check.TotalCpus(), fmd.size(), records.size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kz51-mkdata: %s\n", e.what());
    return 1;
  }
  return 0;
}
