#pragma once
// The index of the configuration library KZ.FMD: the signature, the record
// count and the 35-byte index records. Pure functions over the file's bytes,
// shared by the library reader and the tool that writes the library.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

inline constexpr const char* kFmdFileName = "KZ.FMD";

// The first 15 bytes of the 23-byte signature field: length byte 14, "KZ.FMD"
// and eight fixed bytes. The remaining 8 bytes of the field are not examined.
inline constexpr std::array<std::uint8_t, 15> kFmdSignature = {
    14, 'K', 'Z', '.', 'F', 'M', 'D', 0x1A, 0x01, 0x00, 0x00, 0x20, 0x05, 0x09, 0x03};
inline constexpr std::size_t kFmdSignatureFieldSize = 23;
inline constexpr std::size_t kFmdCountOffset = 23;
inline constexpr std::size_t kFmdIndexOffset = 27;
inline constexpr std::size_t kFmdIndexRecordSize = 35;
inline constexpr std::size_t kFmdMaxNameLength = 22;

struct FmdIndexRecord {
  std::uint8_t nameLength = 0;  // the stored length byte (may exceed 22 in a bad file)
  std::string name;             // the characters, at most 22
  std::int32_t dataOffset = 0;  // from the start of the file
  std::int32_t dataLength = 0;
  std::int32_t scrambleMode = 0;
};

// Checks the signature and reads the record count and the index records.
// As the library reader does, at least one record is read even when the
// count is 0 or negative; records that do not lie completely in the data are
// left out (so the vector never holds more than size / 35 records). False
// when the data is shorter than the signature and count or the signature
// differs.
bool ParseFmdIndex(const std::uint8_t* data, std::size_t size, std::vector<FmdIndexRecord>& out);

// The first record whose name (length and characters) equals name; nullptr
// when there is none.
const FmdIndexRecord* FindFmdRecord(const std::vector<FmdIndexRecord>& index,
                                    const std::string& name);

// True when the record's data lies completely inside a file of fileSize bytes
// (offset and length not negative).
bool FmdRecordInFile(const FmdIndexRecord& record, std::size_t fileSize);

// Copies the record's data out of the file's bytes and descrambles it. False
// (out empty) when the data does not lie completely inside the file.
bool ExtractFmdRecord(const std::uint8_t* data, std::size_t size, const FmdIndexRecord& record,
                      std::vector<std::uint8_t>& out);

// Encodes one 35-byte index record (names longer than 22 are cut).
std::array<std::uint8_t, kFmdIndexRecordSize> EncodeFmdIndexRecord(const FmdIndexRecord& record);

}  // namespace kz
