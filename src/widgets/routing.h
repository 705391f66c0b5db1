// Event routing: the events of a window or control reach a method of an
// object before the widget's own handling sees them.
//
// A routing is an event filter that hands each event to IRedirect::WndProc.
// Routings stack on one widget: the newest sees an event first and, when it
// passes the event on, the one before it, down to the widget's own handling.
// Any routing can be removed at any time, the newest or one in the middle of
// the chain: the others keep working in their order, and removing the last
// one gives the widget its own handling back. Qt keeps the chain itself, so
// no routing needs to know its neighbours and no removal can find the chain
// in the wrong order.
#pragma once

#include <QObject>
#include <QPointer>

class QEvent;

namespace twinmere::ui {

// What an object implements to receive the events of the widgets routed to
// it. Called on the window thread, possibly re-entrantly (an event sent while
// another is handled).
class IRedirect {
 public:
  virtual ~IRedirect() = default;
  // One event of `watched`. Returns true when it was handled here: the older
  // routings and the widget's own handling do not see it then. Returns false
  // to pass it on.
  virtual bool WndProc(QObject& watched, QEvent& event) = 0;
};

// One routing of `routed` to `target`, in place from construction until
// Remove or destruction. Neither object is owned. The routing may outlive
// `routed` (removing it then does nothing); `target` must outlive the
// routing.
class Routing final : public QObject {
 public:
  Routing(QObject& routed, IRedirect& target);
  ~Routing() override;
  Routing(const Routing&) = delete;
  Routing& operator=(const Routing&) = delete;

  // Takes the routing out of the chain; the other routings of the object
  // stay as they are. A second call does nothing.
  void Remove();
  // The routed object, or null once removed or destroyed.
  QObject* Routed() const { return routed_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QObject> routed_;
  IRedirect& target_;
};

}  // namespace twinmere::ui
