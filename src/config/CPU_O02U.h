#pragma once
// CPU option dialog of kind 2 (TCPU_O02F): clock, XTAL2, watchdog, XDATA,
// reset and monitor peripheral switches, stored on OK.
#include "config/FormParts.h"

namespace kz {

class TCPU_O02F : public Form {
 public:
  enum : int {
    kSpeed = 300,
    kXTAL2 = 310,
    kWDT = 320,
    kXDATAMemory = 330,
    kCODEMemory = 340,
    kIRST = 350,
    kORST = 360,
    kOFF = 370,
    kD_D0 = 371,  // D_D0 .. D_D7 are 371 .. 378
  };
  explicit TCPU_O02F(const OptionDialogContext& ctx);
  const char* ClassName() const override { return "TCPU_O02F"; }
  // Shows the dialog modally and stores the choices on OK.
  void Run();
  void ORSTClick();
  void OnClick(int id) override;

 private:
  OptionDialogContext ctx_;
};

}  // namespace kz
