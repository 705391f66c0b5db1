// Keyboard cues: access-key underlines and focus frames stay hidden until the
// user touches the keyboard, and hide again when the mouse moves on.
//
// Where the desktop's style always shows the underlines (KeyboardCues), they
// are shown from the start and never hidden. Otherwise each form keeps a cued
// flag: CueStyle, which the program puts around the application's style,
// answers the style's question "underline access keys?" with that flag and
// draws focus frames only while it is set. Captions keep their "&" marker in
// both states, so every access key (a label's buddy included) always works.
// InputHooks watches the input of the whole program: a key cues the active
// form, a mouse that has moved far enough uncues it.
#pragma once

#include <QObject>
#include <QPoint>
#include <QProxyStyle>

namespace twinmere::ui {

// The keyboard-cue side of a form. Errors cannot happen: a window that is not
// a form is simply not cued.
class ICue {
 public:
  virtual ~ICue() = default;
  // Shows the access-key underlines and focus frames.
  virtual void Cue() = 0;
  // Hides them again (nothing happens while KeyboardCues holds).
  virtual void UnCue() = 0;
  // Whether they are shown now.
  virtual bool Cued() const = 0;
};

// KeyboardCues: whether the application's style always underlines access
// keys (its SH_UnderlineShortcut hint asked without a widget; the style
// inside CueStyle when that is in place). Qt's own styles answer yes; a
// desktop style set to hide them until a key is pressed answers no.
bool KeyboardCuesFromStyle();

// The application's style with the underline hint and the focus frames
// following the cued flag of the form a widget belongs to (windows that are
// no form, such as menus, follow the active form). Where the inner style
// underlines anyway, its answer stands.
class CueStyle final : public QProxyStyle {
  Q_OBJECT
 public:
  // Takes ownership of `inner`.
  explicit CueStyle(QStyle* inner);

  int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                const QWidget* widget = nullptr,
                QStyleHintReturn* return_data = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// Puts CueStyle around the application's style, once per process; a later
// call does nothing. Never fails.
void InstallCueStyle();

// The keyboard and mouse hooks: one application-wide event filter. A key
// pressed or released anywhere in the program calls Cue of the active
// window's form; a mouse event whose position lies more than sqrt(1000)
// pixels (dx² + dy² > 1000) from the position last recorded calls its UnCue
// and records the new position (the first record is 0, 0).
class InputHooks final : public QObject {
  Q_OBJECT
 public:
  InputHooks() = default;
  ~InputHooks() override { RemoveHooks(); }

  void InstallHooks();
  void RemoveHooks();
  bool Installed() const { return installed_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPoint last_position_;
  bool installed_ = false;
};

}  // namespace twinmere::ui
