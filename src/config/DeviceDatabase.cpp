#include "config/DeviceDatabase.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

#include "config/ByteOrder.h"

namespace kz {

const std::array<std::uint8_t, kDeviceDatabaseHeaderSize> kDeviceDatabaseHeader = {
    45,  'Z', 'O', 'L', 'T', ' ', 'M', 'C', 'U', ' ', 'D', 'a', 't', 'a', 'B', 'a',
    's', 'e', ',', ' ', '!', 'D', 'O', ' ', 'N', 'O', 'T', ' ', 'M', 'O', 'D', 'I',
    'F', 'Y', ' ', 'T', 'H', 'I', 'S', ' ', 'F', 'I', 'L', 'E', '!', 0x1A};

namespace {

// A bounds-checked reader over the file's bytes; every read past the end
// fails and leaves the reader failed.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size, std::size_t pos = 0)
      : data_(data), size_(size), pos_(pos), ok_(pos <= size) {}

  bool Ok() const { return ok_; }

  bool Bytes(std::size_t n, const std::uint8_t*& out) {
    if (!ok_ || size_ - pos_ < n) return ok_ = false;
    out = data_ + pos_;
    pos_ += n;
    return true;
  }
  template <typename T>
  T Number() {
    const std::uint8_t* p = nullptr;
    return Bytes(sizeof(T), p) ? LoadLe<T>(p) : T{};
  }
  // A short string, kept up to limit bytes; the position passes all of it.
  std::string Text(std::size_t limit = 255) {
    const std::uint8_t* p = nullptr;
    if (!Bytes(1, p)) return {};
    const std::size_t n = *p;
    if (!Bytes(n, p)) return {};
    return std::string(reinterpret_cast<const char*>(p), std::min(n, limit));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_;
  bool ok_;
};

// The largest details block: four texts, 50 numbers, five words, 20 texts.
constexpr std::size_t kMaxDetailsBlock = 4 * 256 + 50 * 4 + 5 * 4 + 20 * 256;

// The largest tables a loadable file can have; the details blocks after them
// are read one at a time by LoadCpuDetails.
constexpr std::size_t kMaxTablesSize =
    kDeviceDatabaseHeaderSize + 4 + kMaxVendors * (256 + 2) + kMaxCpus * (256 + 16) + 8;

bool ReadTables(std::ifstream& file, std::vector<std::uint8_t>& out) {
  out.resize(kMaxTablesSize);
  file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  out.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
  return !file.bad();
}

}  // namespace

bool DeviceDatabase::ParseDeviceDatabase(const std::uint8_t* data, std::size_t size) {
  vendors_.clear();
  cpus_.clear();
  ByteReader in(data, size);
  const std::uint8_t* header = nullptr;
  bool ok = in.Bytes(kDeviceDatabaseHeaderSize, header) &&
            std::memcmp(header, kDeviceDatabaseHeader.data(), kDeviceDatabaseHeaderSize) == 0;
  if (ok) {
    const auto vendorCount = in.Number<std::int32_t>();
    // More vendors or CPUs than the tables hold is a format error.
    ok = in.Ok() && vendorCount <= kMaxVendors;
    for (std::int32_t v = 1; ok && v <= vendorCount; ++v) {
      VendorEntry vendor;
      vendor.VendorName = in.Text(kMaxTableNameLength);
      vendor.CpuCount = in.Number<std::uint16_t>();
      ok = in.Ok() && cpus_.size() + vendor.CpuCount <= static_cast<std::size_t>(kMaxCpus);
      for (unsigned c = 0; ok && c < vendor.CpuCount; ++c) {
        CpuEntry cpu;
        cpu.CpuName = in.Text(kMaxTableNameLength);
        cpu.PodMask = in.Number<std::uint32_t>();
        cpu.DetailsOffset = in.Number<std::uint32_t>();
        cpu.ExtraListOffset = in.Number<std::uint32_t>();
        cpu.ExtraListCount = in.Number<std::uint32_t>();
        ok = in.Ok();
        if (ok) cpus_.push_back(std::move(cpu));
      }
      if (ok) vendors_.push_back(std::move(vendor));
    }
    ok = ok && in.Number<std::uint32_t>() == kDeviceDatabaseEndMarker1 && in.Ok();
    ok = ok && in.Number<std::uint32_t>() == kDeviceDatabaseEndMarker2 && in.Ok();
  }
  if (!ok) {
    vendors_.clear();
    cpus_.clear();
  }
  return ok;
}

bool DeviceDatabase::LoadDeviceDatabase(const std::string& dataDir) {
  vendors_.clear();
  cpus_.clear();
  const std::string path = dataDir + kDeviceDatabaseFileName;
  {
    // Only read, but a file that cannot be opened for writing fails here; so
    // does a missing one (in|out never creates a file).
    std::fstream probe(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!probe.is_open()) return false;
  }
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> bytes;
  if (!file.is_open() || !ReadTables(file, bytes)) return false;
  return ParseDeviceDatabase(bytes.data(), bytes.size());
}

bool ParseCpuDetailsBlock(const std::uint8_t* data, std::size_t size, std::size_t offset,
                          CpuDetails& out) {
  ByteReader in(data, size, offset);
  CpuDetails block;
  for (auto& text : block.DetailText) text = in.Text();
  for (auto& group : block.DetailRanges)
    for (auto& pair : group) {
      pair[0] = in.Number<std::uint32_t>();
      pair[1] = in.Number<std::uint32_t>();
    }
  for (auto& word : block.DetailWord) word = in.Number<std::uint32_t>();
  for (auto& name : block.DetailNames1) name = in.Text();
  for (auto& name : block.DetailNames2) name = in.Text();
  if (!in.Ok()) return false;
  out.DetailText = std::move(block.DetailText);
  out.DetailRanges = block.DetailRanges;
  out.DetailWord = block.DetailWord;
  out.DetailNames1 = std::move(block.DetailNames1);
  out.DetailNames2 = std::move(block.DetailNames2);
  return true;
}

bool DeviceDatabase::SelectedCpu(const TargetConfig& rec, int& v, int& c) const {
  const std::uint32_t selection = rec.CpuSelection;
  v = static_cast<int>(selection >> 16);
  c = static_cast<int>(selection & 0xFFFF);
  // The CPU need not belong to the vendor.
  return v >= 1 && v <= VendorCount() && c >= 1 && c <= TotalCpus();
}

void DeviceDatabase::FillCpuDetails(int v, int c, const std::uint8_t* data, std::size_t size,
                                    std::size_t offset, CpuDetails& out) const {
  if (ParseCpuDetailsBlock(data, size, offset, out)) {
    out.VendorName = Vendor(v).VendorName;
    out.CpuName = Cpu(c).CpuName;
    return;
  }
  out = CpuDetails{};
  out.VendorName = Vendor(v).VendorName;
  out.CpuName = Cpu(c).CpuName;
}

void DeviceDatabase::SelectCpuDetails(const TargetConfig& rec, const std::uint8_t* data,
                                      std::size_t size, CpuDetails& out) const {
  out.VendorName.clear();
  int v = 0, c = 0;
  if (!SelectedCpu(rec, v, c)) return;
  FillCpuDetails(v, c, data, size, Cpu(c).DetailsOffset, out);
}

void DeviceDatabase::LoadCpuDetails(const TargetConfig& rec, const std::string& dataDir,
                                    CpuDetails& out) const {
  out.VendorName.clear();
  std::ifstream file(dataDir + kDeviceDatabaseFileName, std::ios::binary);  // read-only is fine
  if (!file.is_open()) return;
  int v = 0, c = 0;
  if (!SelectedCpu(rec, v, c)) return;
  // Only the block is read: the bytes from DetailsOffset on, at most as many
  // as the largest block takes.
  std::vector<std::uint8_t> block;
  file.seekg(static_cast<std::streamoff>(Cpu(c).DetailsOffset), std::ios::beg);
  if (file) {
    block.resize(kMaxDetailsBlock);
    file.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
  }
  FillCpuDetails(v, c, block.data(), block.size(), 0, out);
}

int DeviceDatabase::FirstCpuOfVendor(int v) const {
  int first = 1;
  for (int i = 1; i < v && i <= VendorCount(); ++i)
    first += vendors_[static_cast<std::size_t>(i - 1)].CpuCount;
  return first;
}

const VendorEntry& DeviceDatabase::Vendor(int v) const {
  static const VendorEntry kNone{};
  if (v < 1 || v > VendorCount()) return kNone;
  return vendors_[static_cast<std::size_t>(v - 1)];
}

const CpuEntry& DeviceDatabase::Cpu(int c) const {
  static const CpuEntry kNone{};
  if (c < 1 || c > TotalCpus()) return kNone;
  return cpus_[static_cast<std::size_t>(c - 1)];
}

}  // namespace kz
