#include "vxcomm/widgets/vxcommbox.h"

#include <algorithm>
#include <vector>

#include "vxcomm/rtl/stringlist.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/vxcomm/portenum.h"

namespace vxcomm {

// Receives the free notification of the linked component on the box's behalf: the box is a
// widget, and a QObject cannot also be a component.
class TvxDeviceBox::Peer : public TComponent {
 public:
  explicit Peer(TvxDeviceBox* box) : box_(box) {}
  ~Peer() override { Destroying(); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    box_->Notification(component, operation);
  }

 private:
  TvxDeviceBox* box_;
};

namespace {

// The boxes that have a link, and their subscription to the port changes of the
// enumeration while there are any. Main thread only.
std::vector<TvxDeviceBox*>& LinkedBoxes() {
  static std::vector<TvxDeviceBox*> boxes;
  return boxes;
}
std::unique_ptr<TvxPortChangeSubscription>& PortChanges() {
  static std::unique_ptr<TvxPortChangeSubscription> subscription;
  return subscription;
}

void Track(TvxDeviceBox* box, bool linked) {
  auto& boxes = LinkedBoxes();
  std::erase(boxes, box);
  if (linked) boxes.push_back(box);
  if (boxes.empty())
    PortChanges().reset();
  else if (!PortChanges())
    PortChanges() = vxSubscribePortChanges(&TvxDeviceBox::BroadcastDeviceChange);
}

TvxIONotifyEvent Handler(TvxDeviceBox* box) {
  return TvxIONotifyEvent::Of<&TvxDeviceBox::DevicesNotify>(box);
}

}  // namespace

TvxDeviceBox::TvxDeviceBox(QWidget* parent)
    : QComboBox(parent), component_(std::make_unique<Peer>(this)) {
  setEditable(false);
  // activated fires for the user's picks only, never for the box's own refills.
  connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) { Picked(); });
}

TvxDeviceBox::~TvxDeviceBox() {
  if (link_) link_->RemoveNotifyHandler(Handler(this));
  Track(this, false);
  component_.reset();  // ends the free notification with the link
}

TComponent* TvxDeviceBox::Component() const {
  return component_.get();
}

void TvxDeviceBox::SetvxComm(TvxBaseIO* value) {
  clear();
  setCurrentIndex(-1);
  if (link_ && link_ != value) Unlink();
  if (value) {
    TStringList names;
    value->GetDeviceList(&names);
    for (int i = 0; i < names.Count(); ++i) addItem(QString::fromLatin1(names.Strings(i).c_str()));
    setCurrentIndex(value->GetDeviceIndex());
    value->AddNotifyHandler(Handler(this));
    component_->FreeNotification(value);
  }
  link_ = value;
  Track(this, link_ != nullptr);
}

void TvxDeviceBox::Unlink() {
  link_->RemoveNotifyHandler(Handler(this));
  component_->RemoveFreeNotification(link_);
}

void TvxDeviceBox::RefreshList() {
  SetvxComm(link_);
}

void TvxDeviceBox::DevicesNotify(TvxBaseIO*, int code) {
  if (code == 3) RefreshList();
}

bool TvxDeviceBox::DeviceChangeMessage(const TvxDeviceChange& message) {
  return link_ ? link_->HandleDeviceChange(message) : false;
}

void TvxDeviceBox::BroadcastDeviceChange(const TvxDeviceChange& message) {
  // Each component once, however many boxes show it; a refresh may relink or end boxes.
  std::vector<QPointer<TvxBaseIO>> links;
  for (TvxDeviceBox* box : LinkedBoxes())
    if (std::none_of(links.begin(), links.end(), [&](const auto& l) { return l == box->link_; }))
      links.emplace_back(box->link_);
  for (const QPointer<TvxBaseIO>& link : links)
    if (link) link->HandleDeviceChange(message);
}

void TvxDeviceBox::Change() {
  if (!link_) return;
  link_->SelectDevice(currentIndex());
  if (OnChange) OnChange(this);
}

void TvxDeviceBox::Picked() {
  // The pick runs into the link, which may fail to open its port under the new number: the
  // failure is shown like any exception that leaves an event, and the window goes on.
  try {
    Change();
  } catch (...) {
    ShowLinkSelection();
    ShowCurrentException();
  }
}

void TvxDeviceBox::ShowLinkSelection() {
  // A pick the link took only halfway (a new port number, its port not open) skipped the
  // notice that refills the boxes.
  try {
    setCurrentIndex(link_ ? link_->GetDeviceIndex() : -1);
  } catch (...) {
    setCurrentIndex(-1);
  }
}

void TvxDeviceBox::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == link_) {
    link_ = nullptr;
    setCurrentIndex(-1);
    Track(this, false);
  }
}

}  // namespace vxcomm
