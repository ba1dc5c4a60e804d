/// @file
/// The line-settings dialog: speed, data bits, parity, stop bits and flow control of one
/// port, with OK and Cancel. Thread: GUI thread only.
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include <QDialog>

#include "vxcomm/rtl/uiservices.h"

class QComboBox;
class QDialogButtonBox;

namespace vxcomm {

/// The line-settings dialog the widgets' UI services show: speed, data bits, parity, stop
/// bits and flow control of one port, with OK and Cancel.
///
/// **Threads.** GUI thread only, every member. **Failures.** None of its own: it only
/// gathers the choice; the port reports what it refuses when the caller applies it.
class VXCOMMWIDGETS_EXPORT TvxLineSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  /// Device names the port in the caption; Settings fill the controls.
  TvxLineSettingsDialog(const std::string& device, const TvxLineSettings& settings,
                        QWidget* parent = nullptr);

  /// What the controls show now. A speed that is not a positive number keeps the old one.
  TvxLineSettings Settings() const;

  /// The speed control; owned by the dialog.
  QComboBox* SpeedBox() const { return speed_; }
  /// The data-bits control; owned by the dialog.
  QComboBox* DataBitsBox() const { return data_bits_; }
  /// The parity control; owned by the dialog.
  QComboBox* ParityBox() const { return parity_; }
  /// The stop-bits control; owned by the dialog.
  QComboBox* StopBitsBox() const { return stop_bits_; }
  /// The flow-control control; owned by the dialog.
  QComboBox* FlowBox() const { return flow_; }
  /// The OK and Cancel buttons; owned by the dialog.
  QDialogButtonBox* Buttons() const { return buttons_; }

 private:
  TvxLineSettings initial_;
  QComboBox* speed_;
  QComboBox* data_bits_;
  QComboBox* parity_;
  QComboBox* stop_bits_;
  QComboBox* flow_;
  QDialogButtonBox* buttons_;
};

}  // namespace vxcomm
