// The version box: program icon, name, version and comment, and OK.
#pragma once

#include <QDialog>

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);
};
