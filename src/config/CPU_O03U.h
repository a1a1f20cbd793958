#pragma once
// CPU option dialog of kind 3 (TCPU_O03F): the user configuration bytes UCFG1
// and UCFG2. Every click writes the record, so Cancel keeps the clicks.
#include "config/FormParts.h"

namespace kz {

class TCPU_O03F : public Form {
 public:
  enum : int {
    kRadioGroupWDTE = 400,
    kRadioGroupPRHI = 410,
    kRadioGroupCLKR = 420,
    kRadioGroupRPD = 430,
    kRadioGroupBO25 = 440,
    kRadioGroupFOSC = 450,
    kRadioGroupSEC = 460,
    kBitBtnCPP = 470,
    kLabelUCFG1 = 471,
    kLabelUCFG2 = 472,
  };
  explicit TCPU_O03F(const OptionDialogContext& ctx);
  const char* ClassName() const override { return "TCPU_O03F"; }
  // Loads, shows modally and applies once more unless cancelled.
  void Run();
  void Update();
  void OnClick(int id) override;

 private:
  OptionDialogContext ctx_;
  bool ready_ = false;
};

}  // namespace kz
