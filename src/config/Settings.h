#pragma once
// The settings file ZOLTKEIL.DSK and the data directory all three data files
// are looked up in.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/TargetConfig.h"

namespace kz {

class System;

inline constexpr const char* kSettingsFileName = "ZOLTKEIL.DSK";
// A save writes this file in the data directory first and then moves it over
// the settings file, so that an interrupted save never leaves a cut-off file.
inline constexpr const char* kSettingsTempFileName = "ZOLTKEIL.DSK.new";

// The host program's directory: the command line up to its first blank with
// every double quote dropped, cut back to the last separator (kept). Empty
// when there is no separator.
std::string FindDataDirectory(const std::string& commandLine, char separator);

// Reads dataDir + ZOLTKEIL.DSK into the record. Never fails: a missing,
// read-only, short, foreign or unclosable file applies the defaults.
void LoadSettings(TargetConfig& rec, const std::string& dataDir);

// The part of LoadSettings after the file was opened: takes the first
// min(size, 1340) bytes into the record and answers false (damaged) when
// fewer than 1340 bytes came or the signature differs. Does not apply the
// defaults.
bool ReadSettingsImage(TargetConfig& rec, const std::uint8_t* data, std::size_t size);

// Signature, EmulatorIndex = PodIndex = CpuSelection = 0, the int32s at 1072
// and 1076 = 0 and the one at 1080 = 1; nothing else changes.
void ApplySettingsDefaults(TargetConfig& rec);

// Writes the 1340-byte record to dataDir + ZOLTKEIL.DSK. Errors are ignored;
// the old file stays as it was when the new one cannot be written completely,
// and an existing file that cannot be opened for writing is left alone.
// The new image is flushed to the disk and then replaces the old file through
// the system port; when no temp file can be made it is written in place.
void SaveSettings(const TargetConfig& rec, const std::string& dataDir, System& system);

}  // namespace kz
