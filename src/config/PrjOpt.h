#pragma once
// The project options dialog (TPrjOptF): emulator, pod, vendor and CPU choice
// and the oscillator field. Runs modally through the Ui port.
#include <functional>
#include <string>

#include "platform/Form.h"

namespace kz {

class TPrjOptF : public Form {
 public:
  const char* ClassName() const override { return "TPrjOptF"; }
};

// What the connection sequence and DllUv3Cap call: shows the dialog with the
// given caption text (empty: the plain title) and answers true for OK.
class ProjectDialog {
 public:
  virtual ~ProjectDialog() = default;
  virtual bool RunProjectDialog() = 0;
};

}  // namespace kz
