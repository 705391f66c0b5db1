#include "widgets/routing.h"

namespace twinmere::ui {

Routing::Routing(QObject& routed, IRedirect& target) : routed_(&routed), target_(target) {
  routed.installEventFilter(this);
}

Routing::~Routing() {
  Remove();
}

void Routing::Remove() {
  if (routed_ != nullptr) routed_->removeEventFilter(this);
  routed_ = nullptr;
}

bool Routing::eventFilter(QObject* watched, QEvent* event) {
  if (routed_ == nullptr || watched != routed_) return false;
  return target_.WndProc(*watched, *event);
}

}  // namespace twinmere::ui
