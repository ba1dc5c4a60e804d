/// @file
/// TvxDeviceBox: a drop-down list of a linked I/O component's devices that selects the
/// component's device when the user picks one.
///
/// The items are the component's display names in its list order, so an item's index is the
/// device's index. The box follows its link through notify code 3 and drops the link when
/// the component is destroyed. While any box is linked, the port changes the enumeration
/// watches (udev's hot-plug notices, the port map in the configuration store) reach every
/// linked component's HandleDeviceChange, whose refresh then refills the boxes.
/// Thread: GUI thread only.
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include <QComboBox>
#include <QPointer>
#include <memory>

#include "vxcomm/rtl/component.h"
#include "vxcomm/vxclasses/baseio.h"
#include "vxcomm/vxclasses/types.h"

namespace vxcomm {

/// The device selection box: a drop-down list of a linked I/O component's devices that
/// selects the component's device when the user picks one (the items are the component's
/// display names in its list order, so an item's index is the device's index).
///
/// **Threads.** GUI thread only, every member, as for any widget; hot-plug notices reach it
/// through the linked component on the main thread. **Failures.** A user's pick that the
/// component cannot open is shown like any exception that leaves an event (the UI services'
/// exception display), the box goes back to the device the component holds, and the window
/// goes on. A Change called by the program passes the component's exception on.
class VXCOMMWIDGETS_EXPORT TvxDeviceBox : public QComboBox, public TObject {
  Q_OBJECT
  Q_PROPERTY(bool ResetOnChanged READ ResetOnChanged WRITE SetResetOnChanged)

 public:
  /// A drop-down list: the user can only pick listed entries.
  explicit TvxDeviceBox(QWidget* parent = nullptr);
  /// Unregisters from the link and ends its free notification.
  ~TvxDeviceBox() override;

  /// The link (not owned). Writing it refills the items from Value's device list (which
  /// enumerates when that list is empty), selects its current device, and registers for its
  /// notices and its destruction.
  TvxBaseIO* vxComm() const { return link_; }
  /// Sets the link (see vxComm); null unlinks and empties the box.
  void SetvxComm(TvxBaseIO* value);
  /// Stored with a form; nothing reads it.
  bool ResetOnChanged() const { return reset_on_changed_; }
  /// Sets ResetOnChanged.
  void SetResetOnChanged(bool value) { reset_on_changed_ = value; }

  /// Refills the items from the link and selects its current device.
  void RefreshList();
  /// The notify handler registered with the link: code 3 refreshes, others are ignored.
  void DevicesNotify(TvxBaseIO* sender, int code);
  /// Hands a device-change notice to the link; true when it refreshed the link's list.
  virtual bool DeviceChangeMessage(const TvxDeviceChange& message);
  /// Hands Message to every linked component once (the hot-plug route).
  static void BroadcastDeviceChange(const TvxDeviceChange& message);

  /// The box's face in the component model: its name in a form and its free notification. Owned by
  /// the box.
  TComponent* Component() const;

  /// After the user picked an item and the link selected it.
  TNotifyEvent OnChange;

 protected:
  /// The user picked the item at currentIndex(); what the link throws goes to the caller.
  virtual void Change();
  /// Drops the link when the linked component is destroyed.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  class Peer;
  void Unlink();
  /// A user's pick: Change, with what it throws shown by the UI services' exception display.
  void Picked();
  /// Selects the link's current device, or nothing.
  void ShowLinkSelection();

  TvxBaseIO* link_ = nullptr;
  bool reset_on_changed_ = false;
  std::unique_ptr<Peer> component_;
};

}  // namespace vxcomm
