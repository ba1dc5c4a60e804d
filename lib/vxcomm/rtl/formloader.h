// Creates components the way a stored form does: each is created with the loading flag,
// the caller sets its properties and references, and Finish calls Loaded on each in the
// order of creation.
#pragma once

#include <QPointer>
#include <utility>
#include <vector>

#include "vxcomm/rtl/component.h"

namespace vxcomm {

class TFormLoader {
 public:
  // Creates a T owned by Owner and marks it loading.
  template <typename T, typename... Args>
  T* Create(Args&&... args) {
    T* component = new T(std::forward<Args>(args)...);
    Add(component);
    return component;
  }

  // Marks an existing component loading and lists it for Finish.
  void Add(TComponent* component) {
    component->BeginLoading();
    components_.emplace_back(component);
  }

  // Calls Loaded on every listed component that still exists.
  void Finish() {
    for (auto& component : components_)
      if (component) component->Loaded();
    components_.clear();
  }

 private:
  std::vector<QPointer<TComponent>> components_;
};

}  // namespace vxcomm
