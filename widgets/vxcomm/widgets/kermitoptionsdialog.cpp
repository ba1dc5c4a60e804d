#include "vxcomm/widgets/kermitoptionsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>

#include "vxcomm/vxkermit/sendinit.h"
#include "vxcomm/vxkermit/sendwindow.h"

namespace vxcomm {

TvxKermitOptionsDialog::TvxKermitOptionsDialog(const TvxKermitOptions& options, QWidget* parent)
    : QDialog(parent), base_(options.Clamped()) {
  setWindowTitle(tr("Kermit Protocol"));
  check_ = new QComboBox(this);
  check_->addItems({tr("1: 6-bit checksum"), tr("2: 12-bit checksum"), tr("3: 16-bit CRC")});
  long_packets_ = new QCheckBox(tr("&Long packets"), this);
  long_length_ = new QSpinBox(this);
  long_length_->setRange(95, static_cast<int>(vxkermit::kMaxLongPacketLength));
  window_ = new QSpinBox(this);
  window_->setRange(1, vxkermit::kMaxWindow);
  window_->setSpecialValueText(tr("none"));  // 1: one packet at a time
  repeat_counts_ = new QCheckBox(tr("&Repeat counts"), this);
  basic_ = new QPushButton(tr("&Basic protocol"), this);
  extended_ = new QPushButton(tr("&Extended protocol"), this);
  connect(basic_, &QPushButton::clicked, this, [this] {
    base_ = base_.WithProtocolOf(TvxKermitOptions::Basic());
    Show(base_);
  });
  connect(extended_, &QPushButton::clicked, this, [this] {
    base_ = base_.WithProtocolOf(TvxKermitOptions::Extended());
    Show(base_);
  });
  connect(long_packets_, &QCheckBox::toggled, long_length_, &QWidget::setEnabled);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* presets = new QHBoxLayout;
  presets->addWidget(basic_);
  presets->addWidget(extended_);
  auto* form = new QFormLayout(this);
  form->addRow(tr("Block &check:"), check_);
  form->addRow(long_packets_);
  form->addRow(tr("Longest &packet:"), long_length_);
  form->addRow(tr("Sliding &window:"), window_);
  form->addRow(repeat_counts_);
  form->addRow(presets);
  form->addRow(buttons_);
  Show(base_);
}

void TvxKermitOptionsDialog::Show(const TvxKermitOptions& options) {
  // Force-3 is type 3 as far as this dialog goes: it keeps it unless the user picks another.
  check_->setCurrentIndex(options.crc == crc16bitForced ? 2 : options.crc);
  long_packets_->setChecked(options.long_packets);
  long_length_->setValue(options.max_long_packet_length);
  long_length_->setEnabled(options.long_packets);
  window_->setValue(options.window_size);
  repeat_counts_->setChecked(options.repeat_counts);
}

TvxKermitOptions TvxKermitOptionsDialog::Options() const {
  TvxKermitOptions o = base_;
  const auto picked = static_cast<TvxKermitCrc>(check_->currentIndex());
  if (!(base_.crc == crc16bitForced && picked == crc16bit)) o.crc = picked;
  o.long_packets = long_packets_->isChecked();
  o.max_long_packet_length = long_length_->value();
  o.window_size = window_->value();
  o.repeat_counts = repeat_counts_->isChecked();
  return o;
}

}  // namespace vxcomm
