#pragma once
// CPU option dialog of kind 1 (TCPU_00AF): the P0/P2 function and the XTAL2
// output, stored in SixClockMode and Xtal2Clock on OK.
#include "config/FormParts.h"

namespace kz {

class TCPU_00AF : public Form {
 public:
  enum : int { kXDATA = 200, kXTAL2 = 210 };
  explicit TCPU_00AF(const OptionDialogContext& ctx);
  const char* ClassName() const override { return "TCPU_00AF"; }
  // Shows the dialog modally and stores the choices on OK.
  void Run();

 private:
  OptionDialogContext ctx_;
};

}  // namespace kz
