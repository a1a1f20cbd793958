#pragma once
// CPU option dialog of kind 4 (TCPU_O04F): the chip configuration bytes CCB1
// and CCB2 and the map of 2 KB code blocks on the emulator.
#include "config/FormParts.h"

namespace kz {

class TCPU_O04F : public Form {
 public:
  enum : int {
    kPanel1 = 500,
    kCheckBox1 = 501,  // CheckBox1 .. CheckBox35 are 501 .. 535
    kCheckBox33 = 533,
    kCheckBox34 = 534,
    kCheckBox35 = 535,
    kRadioGroup1 = 540,  // RadioGroup1 .. RadioGroup7 are 540, 550, .. 600
    kLabel1 = 610,
    kLabel2 = 611,
  };
  static constexpr int RadioGroup(int n) { return kRadioGroup1 + 10 * (n - 1); }

  explicit TCPU_O04F(const OptionDialogContext& ctx);
  const char* ClassName() const override { return "TCPU_O04F"; }
  // Loads, shows modally and updates once more unless cancelled.
  void Run();
  void Update();
  void OnClick(int id) override;

 private:
  OptionDialogContext ctx_;
  bool ready_ = false;
};

}  // namespace kz
