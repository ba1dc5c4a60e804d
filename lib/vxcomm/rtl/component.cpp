#include "vxcomm/rtl/component.h"

#include <algorithm>

namespace vxcomm {

TComponent::TComponent(QObject* owner) : QObject(owner) {}

TComponent::~TComponent() {
  Destroying();
}

void TComponent::SetName(const std::string& name) {
  name_ = name;
  setObjectName(QString::fromStdString(name));
}

void TComponent::SetDesigning(bool designing) {
  if (designing)
    state_ |= csDesigning;
  else
    state_ &= ~csDesigning;
}

void TComponent::Loaded() {
  state_ &= ~csLoading;
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end())
    free_notifies_.push_back(other);
  if (std::find(other->free_notifies_.begin(), other->free_notifies_.end(), this) ==
      other->free_notifies_.end())
    other->free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  std::erase(free_notifies_, other);
  std::erase(other->free_notifies_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  // A receiver may unlink others while it is told, so take one peer at a time.
  while (!free_notifies_.empty()) {
    TComponent* peer = free_notifies_.back();
    free_notifies_.pop_back();
    std::erase(peer->free_notifies_, this);
    peer->Notification(this, opRemove);
  }
}

}  // namespace vxcomm
