// The line-settings dialog: speed, data bits, parity, stop bits and flow control of one
// port, with OK and Cancel. Thread: GUI thread only.
#pragma once

#include "vxcommwidgets_export.h"

#include <QDialog>

#include "rtl/uiservices.h"

class QComboBox;
class QDialogButtonBox;

class VXCOMMWIDGETS_EXPORT TvxLineSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Device names the port in the caption; Settings fill the controls.
  TvxLineSettingsDialog(const std::string& device, const TvxLineSettings& settings,
                        QWidget* parent = nullptr);

  // What the controls show now. A speed that is not a positive number keeps the old one.
  TvxLineSettings Settings() const;

  QComboBox* SpeedBox() const { return speed_; }
  QComboBox* DataBitsBox() const { return data_bits_; }
  QComboBox* ParityBox() const { return parity_; }
  QComboBox* StopBitsBox() const { return stop_bits_; }
  QComboBox* FlowBox() const { return flow_; }
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
