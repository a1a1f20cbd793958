#pragma once
// CPU option dialog O0B (TCPU_O0B), for the pod of option dialog kind 11:
// UCFG1, UCFG2, boot vector and status, the sector security bits and the
// two monitor timer switches. Every click writes the record at once.
#include <cstdint>
#include <string>

#include "config/FormParts.h"

namespace kz {

class TCPU_O0B : public Form {
 public:
  enum : int {
    kRWTDE = 700,
    kRRPE = 710,
    kRBO = 720,
    kRWDSE = 730,
    kROSC = 740,
    kLSEC = 750,
    kPanel1 = 751,
    kK0 = 752,  // K0, k1 .. k7 are 752 .. 759
    kGEDIS0 = 760,
    kSPEDIS0 = 770,
    kMOVCDIS0 = 780,
    kRMC = 790,
    kRCCU = 800,
    kT0R = 810,
    kT1R = 820,
    kPanel2 = 830,
    kBS = 831,
    kBVS = 832,
    kBVE = 833,
    kLabelUCFG1 = 834,
    kLabelUCFG2 = 835,
  };
  explicit TCPU_O0B(const OptionDialogContext& ctx);
  const char* ClassName() const override { return "TCPU_O0B"; }
  void RunO0BDialog();
  void ApplyO0BChoices();
  void OnClick(int id) override;

 private:
  void RefreshReadOuts(std::uint8_t ucfg1, std::uint8_t ucfg2);
  OptionDialogContext ctx_;
  bool ready_ = false;
  std::uint8_t work_[17] = {};  // working copies of the record's option bytes
};

// FOSC code of each ROSC choice, and the choice shown for a stored code.
std::uint8_t FoscCodeOfChoice(int choice);
int ChoiceOfFoscCode(std::uint8_t code);
// "1EH", "0A5H".
std::string BootVectorText(std::uint8_t value);
// Lenient: hexadecimal digits before a final H or h, else decimal digits;
// other characters are skipped; modulo 256.
std::uint8_t ParseBootVector(const std::string& text);

}  // namespace kz
