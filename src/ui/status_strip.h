// The status and progress strip at the bottom of the main window: the
// status text with its compacted path in the first pane, then the progress
// figure, the two-segment progress bar (finished work, and the file being
// copied in the inverse colour) and the size grip. Painted with the colours
// and font of the current style and palette.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>

#include "app/status_progress.h"

class QSizeGrip;

namespace twinmere::ui {

// Twips (1440 per inch) in pixels at `dpi` logical dots per inch, and back;
// both round to the nearest whole number.
int TwipsToPixels(int twips, int dpi);
int PixelsToTwips(int pixels, int dpi);

class StatusStrip final : public QWidget {
  Q_OBJECT
 public:
  explicit StatusStrip(QWidget* parent = nullptr);

  // What to show. The path is compacted to the room of the status pane.
  void SetView(const StatusProgressView& view);
  // Sizes the progress-figure box for a percentage ("000%") or for a byte
  // count ("000 000 000 000 bytes processed").
  void SetBytesMode(bool bytes_mode);
  // Measures again after a change of the palette, the style or the font.
  void UpdateUI();
  // A note for the progress pane while it shows no figure (between runs):
  // `text` painted there, the pane widened for it as far as the status text
  // allows (cut with "..." beyond), and `details` its tool tip, one line
  // each. Empty: none.
  void SetNote(const QString& text, const QStringList& details);
  const QString& Note() const { return note_; }

  // The status text followed by the compacted path, as painted.
  const QString& StatusLine() const { return status_line_; }
  // What a screen reader says of the strip: its name is the status with the
  // whole path ("Copying to Target ... /home/ann/a.txt", "Completed."), or
  // "Status" before the first; its description the progress figure and the
  // estimated end ("42%, Estimated End Time: 21:05"), or while there is none
  // the note with its details ("Leaving out 2 patterns: *.tmp; cache/").
  // Both are announced when they change.
  QString SpokenStatus() const;
  QString SpokenProgress() const;
  const QString& ProgressText() const { return progress_text_; }
  const StatusProgressView& View() const { return view_; }
  // Pixels the status text may take: the status pane less its margins.
  int StatusTextRoom() const;
  // Height of the strip (the status area's height).
  int StatusHeight() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Composes StatusLine from the view and the room there is.
  void ComposeStatusLine();
  int StatusPaneWidth() const;
  bool NoteShown() const { return progress_text_.isEmpty() && !note_.isEmpty(); }
  // Where the status pane ends: StatusPaneWidth, or less for a note that
  // needs more room than the progress pane has.
  int PaneDivider() const;

  StatusProgressView view_;
  QString status_line_;
  QString progress_text_;
  QString note_;
  QStringList note_details_;
  bool bytes_mode_ = false;
  QSizeGrip* grip_;
};

}  // namespace twinmere::ui
