// The main window as the desktop's media controls see it.
#pragma once

#include "jukebox/mpris.h"

class TForm1;

class TForm1Mpris final : public TMprisPlayer {
 public:
  explicit TForm1Mpris(TForm1& form) : form_(form) {}
  void mprisPlay() override;
  void mprisPause() override;
  void mprisStop() override;
  void mprisNext() override;
  void mprisPrevious() override;
  void mprisRaise() override;
  State mprisState() const override;
  QString mprisTitle() const override;
  QString mprisFile() const override;
  int64_t mprisLengthUs() const override;
  QString mprisArtist() const override;
  int64_t mprisPositionUs() const override;
  double mprisVolume() const override;
  void setMprisVolume(double volume) override;
  bool mprisShuffle() const override;
  void setMprisShuffle(bool on) override;
  bool mprisLoop() const override;
  void setMprisLoop(bool on) override;
  void mprisOpen(const QString& path) override;

 private:
  TForm1& form_;
};
