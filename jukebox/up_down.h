// An up-down control: two small arrow buttons that step a number within a
// range without wrapping, shown in an associated read-only edit. The owner
// may refuse a change (allowChange returns false).
#pragma once

#include <QWidget>

#include <functional>

class QLineEdit;
class QToolButton;

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(int minimum, int maximum, QWidget* parent = nullptr);

  // The edit shows the position; its Up and Down keys step it too.
  void associate(QLineEdit* edit);
  void setAllowChange(std::function<bool()> allow) { allow_ = std::move(allow); }

  int position() const { return position_; }
  // Sets the position (clamped) and the edit's text; no question asked.
  void setPosition(int position);
  // One step as a click on an arrow does: asks allowChange first.
  void stepUp() { step(+1); }
  void stepDown() { step(-1); }

 signals:
  void changed(int position);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void step(int delta);

  int minimum_;
  int maximum_;
  int position_;
  QLineEdit* edit_ = nullptr;
  QToolButton* up_;
  QToolButton* down_;
  std::function<bool()> allow_;
};
