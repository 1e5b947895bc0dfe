// Classes: the root object, events, and components with an owner that destroys them.
#pragma once
#include <functional>
#include <utility>
#include <string>
#include <vector>

struct IUnknown;

// Root of every class of the framework. Objects are identities, never values.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Runs Apply with Event cleared and puts Event back however Apply ends, so that a state
// applied by the program (a stored setting) never reaches a handler meant for the user.
template <class F>
void WithEventCleared(TNotifyEvent& Event, F&& Apply) {
  struct TRestore {
    TNotifyEvent& Event;
    TNotifyEvent Saved;
    ~TRestore() { Event = std::move(Saved); }
  } restore{Event, std::move(Event)};
  Event = nullptr;
  Apply();
}

enum TOperation { opInsert, opRemove };

// Component state bits (FComponentState).
enum : unsigned {
  csLoading = 1u << 0,     // properties are being applied from a layout
  csDesigning = 1u << 1,   // edited in a form designer, not running
  csDestroying = 1u << 2,  // on its way out; no new work
};

// A component belongs to its owner, which destroys it (owned components go last created
// first). Components are freed with Free(), never with a bare delete, so that the
// before-destruction step (a form's OnDestroy) still sees the whole object.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  // BeforeDestruction, then delete. Null is allowed.
  static void Free(TComponent* AComponent);

  const std::wstring& Name() const { return FName; }
  void SetName(const std::wstring& AName) { FName = AName; }

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;  // throws std::out_of_range
  // Index of AComponent among the owned components, -1 when not owned.
  int IndexOfComponent(const TComponent* AComponent) const;

  bool Loading() const { return (FComponentState & csLoading) != 0; }
  bool DesignMode() const { return (FComponentState & csDesigning) != 0; }
  bool Destroying() const { return (FComponentState & csDestroying) != 0; }
  // Sets or clears the design-mode flag here and on every owned component.
  void SetDesignMode(bool Value);

  // Layout bracket: BeginLoading marks this component and every owned one (and those created
  // while the bracket is open) as loading; EndLoading runs Loaded on this component, then on
  // each owned component in creation order, once all of their properties are applied.
  void BeginLoading();
  void EndLoading();

  // Ask to hear of AComponent's destruction (Notification with opRemove), whoever owns it.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // This component as a COM object, or null (the default: plain components and forms are
  // none). Components that forward reference counting ask their owner for it. Not AddRef'd;
  // valid as long as the component lives.
  virtual IUnknown* GetComponentUnknown() { return nullptr; }

  // Runs before any destructor, while the whole object is still there: tells those who asked
  // (FreeNotification), then frees the owned components. Overrides call the base last.
  virtual void BeforeDestruction();

 protected:
  // After-load step: all properties of the layout are applied. The base clears csLoading.
  virtual void Loaded();
  // An owned component came (opInsert) or goes (opRemove), or a component this one asked
  // FreeNotification of goes. The base forwards the news to every owned component.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Frees the owned components, last created first.
  void DestroyComponents();

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void NotifyFreeNotifiers();

  TComponent* FOwner = nullptr;
  std::wstring FName;
  unsigned FComponentState = 0;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
};
