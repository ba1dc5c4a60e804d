#include "vxcomm/widgets/linesettingsdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>

namespace vxcomm {

namespace {

QComboBox* ChoiceBox(QWidget* parent, const QStringList& items, int current) {
  auto* box = new QComboBox(parent);
  box->addItems(items);
  box->setCurrentIndex(current >= 0 && current < items.size() ? current : 0);
  return box;
}

}  // namespace

TvxLineSettingsDialog::TvxLineSettingsDialog(const std::string& device,
                                             const TvxLineSettings& settings, QWidget* parent)
    : QDialog(parent), initial_(settings) {
  setWindowTitle(tr("%1 Properties").arg(QString::fromLatin1(device.c_str())));
  speed_ = new QComboBox(this);
  speed_->setEditable(true);  // any speed the driver accepts, not only the usual ones
  speed_->setValidator(new QIntValidator(1, 100000000, speed_));
  for (int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200,
                   230400, 460800, 921600})
    speed_->addItem(QString::number(rate));
  speed_->setCurrentText(QString::number(settings.BaudRate));
  data_bits_ = ChoiceBox(this, {"5", "6", "7", "8"}, static_cast<int>(settings.DataBits) - 5);
  parity_ = ChoiceBox(this, {tr("None"), tr("Odd"), tr("Even"), tr("Mark"), tr("Space")},
                      settings.Parity);
  stop_bits_ = ChoiceBox(this, {"1", "1.5", "2"}, settings.StopBits);
  flow_ = ChoiceBox(this, {tr("None"), tr("Hardware (RTS/CTS)"), tr("Software (Xon/Xoff)")},
                    settings.Flow);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* form = new QFormLayout(this);
  form->addRow(tr("&Bits per second:"), speed_);
  form->addRow(tr("&Data bits:"), data_bits_);
  form->addRow(tr("&Parity:"), parity_);
  form->addRow(tr("&Stop bits:"), stop_bits_);
  form->addRow(tr("&Flow control:"), flow_);
  form->addRow(buttons_);
  setSizeGripEnabled(false);
}

TvxLineSettings TvxLineSettingsDialog::Settings() const {
  TvxLineSettings s = initial_;
  bool ok = false;
  unsigned speed = speed_->currentText().toUInt(&ok);
  if (ok && speed > 0) s.BaudRate = speed;
  s.DataBits = static_cast<unsigned>(data_bits_->currentIndex() + 5);
  s.Parity = parity_->currentIndex();
  s.StopBits = stop_bits_->currentIndex();
  s.Flow = flow_->currentIndex();
  return s;
}

}  // namespace vxcomm
