#pragma once
// The project options dialog (TPrjOptF): emulator, pod, vendor and CPU choice
// and the oscillator field, with the pod's CPU option dialog behind its
// button. Choices land in the target configuration record as they are made;
// only the frequency waits for OK.
#include <functional>
#include <string>
#include <vector>

#include "config/CpuDetails.h"
#include "config/DeviceDatabase.h"
#include "config/FormParts.h"
#include "config/PodTable.h"
#include "config/TargetConfig.h"
#include "platform/Form.h"
#include "platform/Ui.h"

namespace kz {

// What the dialog works on. The clock settings update and the failure text
// come from the connection layer, which this layer does not call itself.
struct ProjectDialogContext {
  Ui& ui;
  TargetConfig& config;
  const DeviceDatabase& db;
  CpuDetails& details;
  PodTable& pods;
  std::string dataDirectory;
  MessageFn message;
  std::function<void()> updateClockSettings;
  // The failure text of the last connection attempt; empty while the link
  // has not failed.
  std::function<std::string()> failureCaption;
};

class TPrjOptF : public Form {
 public:
  enum : int {
    kProjectOption = 100,
    kEmulatorPage = 101,
    kLabelEmuSel = 110,
    kListBoxEmu = 111,
    kLabelPODSel = 112,
    kListBoxPOD = 113,
    kVendorSelect = 114,
    kVendorList = 115,
    kLabelCPUSel = 116,
    kListBoxCPU = 117,
    kBtnCPUOpt = 118,
    kOscSelect = 119,
    kOscStr = 120,
    kOkBtn = kOkBtnId,
    kCancel = kCancelId,
    kHelp = kHelpId,
  };
  static constexpr int kClientWidth = 452;
  static constexpr int kClientHeight = 304;

  explicit TPrjOptF(ProjectDialogContext& ctx);
  const char* ClassName() const override { return "TPrjOptF"; }

  // Shows the dialog modally; true for OK (the record then holds the typed
  // frequency too), false for Cancel.
  bool RunProjectDialog();
  void FillProjectDialog();
  void RebuildSelectionLists(bool readChoices);
  void StoreProjectDialog();

  void ListBoxEmuClick() { RebuildSelectionLists(true); }
  void ListBoxPODClick() { RebuildSelectionLists(true); }
  void ListBoxCPUClick() { RebuildSelectionLists(true); }
  void VendorListChange() { RebuildSelectionLists(true); }
  void BtnCPUOptClick();

  void OnClick(int id) override;
  void OnChange(int id) override;
  // A frequency text that is not an integer is refused where a renderer asks.
  std::string TextRefusal(int id, const std::string& text) const override;

  // The pod number (1..40) the option button opens the dialog of; 0 when the
  // emulator offers no pod.
  int SelectedPodNumber() const { return selectedPod_; }
  const std::vector<int>& ShownVendors() const { return shownVendors_; }
  const std::vector<int>& ShownCpus() const { return shownCpus_; }
  int OpeningFamily() const { return openingFamily_; }

 private:
  int ListedEmulatorRow(int position) const;
  int ListedPodSlot(int position) const;
  void SetTexts();

  ProjectDialogContext& ctx_;
  std::vector<int> shownVendors_;  // vendor numbers in VendorList order
  std::vector<int> shownCpus_;     // CPU numbers in ListBoxCPU order
  int openingFamily_ = 0;
  int selectedPod_ = 0;
};

// Whole-text decimal with an optional sign that fits in 32 bits; false for
// anything else (blanks, units, overflow).
bool ParseCrystalText(const std::string& text, std::int32_t& value);

// What the connection sequence and DllUv3Cap call.
class ProjectDialog {
 public:
  virtual ~ProjectDialog() = default;
  virtual bool RunProjectDialog() = 0;
};

// Runs a fresh TPrjOptF for every call.
class ProjectOptions : public ProjectDialog {
 public:
  explicit ProjectOptions(ProjectDialogContext ctx) : ctx_(std::move(ctx)) {}
  bool RunProjectDialog() override {
    TPrjOptF form(ctx_);
    return form.RunProjectDialog();
  }

 private:
  ProjectDialogContext ctx_;
};

}  // namespace kz
