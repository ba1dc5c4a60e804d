/// @file
/// The component model: an owner that destroys its components, the loading and designing
/// flags, Loaded, and free notification between components that refer to each other.
///
/// Thread: a component belongs to the thread that created it (the main thread for every
/// component of a window); none of its operations here are locked.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QObject>
#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// The state flags of a component.
enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,     ///< being read from a stored form
  csDesigning = 1u << 1,   ///< being designed, not run
  csDestroying = 1u << 2,  ///< being destroyed
};

/// What a notification tells: a component was inserted, or is being removed.
enum class TOperation { opInsert, opRemove };
using enum TOperation;

/// A component: a QObject with a name, an owner that destroys it, the loading and designing flags
/// and free notification (see the file description).
class VXCOMM_EXPORT TComponent : public QObject, public TPersistent {
  Q_OBJECT
  Q_PROPERTY(QString Name READ QName WRITE SetQName)

 public:
  /// The owner is the QObject parent: it destroys this component with itself.
  explicit TComponent(QObject* owner = nullptr);
  /// Tells the registered components that this one goes away (see Destroying).
  ~TComponent() override;

  /// The owner (the QObject parent), or null.
  QObject* Owner() const { return parent(); }
  /// The component's name.
  const std::string& Name() const { return name_; }
  /// Sets the name (and the QObject's object name).
  void SetName(const std::string& name);

  /// The state flags (TComponentStateFlag).
  unsigned ComponentState() const { return state_; }
  /// True while the component is read from a stored form.
  bool IsLoading() const { return state_ & csLoading; }
  /// True while the component is designed, not run.
  bool IsDesigning() const { return state_ & csDesigning; }
  /// True once destruction has begun.
  bool IsDestroying() const { return state_ & csDestroying; }
  /// Marks the component as being read from a stored form; Loaded clears the flag.
  void BeginLoading() { state_ |= csLoading; }
  /// Sets or clears the designing flag.
  void SetDesigning(bool designing);

  /// Runs once after a form has set every stored property and resolved every reference.
  virtual void Loaded();

  /// Asks Other to call Notification(Other, opRemove) on this component before Other is
  /// destroyed. The registration is mutual, as either may go first.
  void FreeNotification(TComponent* other);
  /// Ends a registration made by FreeNotification, both ways; null is ignored.
  void RemoveFreeNotification(TComponent* other);

  /// Called while Component is still whole, at the start of its destructor.
  virtual void Notification(TComponent* component, TOperation operation);

 protected:
  /// Tells every registered component that this one goes away. The most-derived destructor
  /// must call it first so that receivers may still call back into a whole object; every
  /// destructor of the hierarchy calls it, and only the first call acts.
  void Destroying();

 private:
  QString QName() const { return QString::fromStdString(name_); }
  void SetQName(const QString& name) { SetName(name.toStdString()); }

  std::string name_;
  unsigned state_ = 0;
  std::vector<TComponent*> free_notifies_;
};

}  // namespace vxcomm
