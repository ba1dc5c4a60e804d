/// @file
/// The Kermit settings dialog: the block check, long packets, the sliding window and repeat
/// counts of a Kermit component, with the basic and extended protocols as presets.
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include <QDialog>

#include "vxcomm/vxkermit/options.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QPushButton;
class QSpinBox;

namespace vxcomm {

/// A dialog that edits what a Kermit component offers its peer: the block check, long
/// packets and their longest length, the sliding window and repeat counts. "Basic protocol"
/// and "Extended protocol" take the protocol of TvxKermitOptions::Basic() or Extended() (see
/// TvxKermitOptions::WithProtocolOf: the fields not shown come with it) and keep how files
/// are sent and stored. Every other field passes through unchanged.
///
/// **Threads.** GUI thread only, every member. **Failures.** None of its own: every control
/// holds only values the component takes; what the peer does not agree to is not used.
class VXCOMMWIDGETS_EXPORT TvxKermitOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  /// Options fill the controls.
  explicit TvxKermitOptionsDialog(const TvxKermitOptions& options, QWidget* parent = nullptr);

  /// What the controls show now, over the options given (or the preset chosen last).
  TvxKermitOptions Options() const;

  /// The block-check control (types 1, 2, 3); owned by the dialog.
  QComboBox* CheckBox() const { return check_; }
  /// The long-packets switch; owned by the dialog.
  QCheckBox* LongPacketsBox() const { return long_packets_; }
  /// The longest packet length (95..9024); owned by the dialog.
  QSpinBox* LongLengthBox() const { return long_length_; }
  /// The window size (1: no window, up to 31); owned by the dialog.
  QSpinBox* WindowBox() const { return window_; }
  /// The repeat-counts switch; owned by the dialog.
  QCheckBox* RepeatCountsBox() const { return repeat_counts_; }
  /// Fills the controls with the basic protocol; owned by the dialog.
  QPushButton* BasicButton() const { return basic_; }
  /// Fills the controls with the extended protocol; owned by the dialog.
  QPushButton* ExtendedButton() const { return extended_; }
  /// The OK and Cancel buttons; owned by the dialog.
  QDialogButtonBox* Buttons() const { return buttons_; }

 private:
  void Show(const TvxKermitOptions& options);

  TvxKermitOptions base_;  ///< the fields the controls do not show come from here
  QComboBox* check_;
  QCheckBox* long_packets_;
  QSpinBox* long_length_;
  QSpinBox* window_;
  QCheckBox* repeat_counts_;
  QPushButton* basic_;
  QPushButton* extended_;
  QDialogButtonBox* buttons_;
};

}  // namespace vxcomm
