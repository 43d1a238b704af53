// Integrated loudness of stereo sound as EBU R 128 measures it (ITU-R
// BS.1770: K-weighting, 400 ms blocks every 100 ms, an absolute gate at
// -70 LUFS and a relative one 10 LU below the ungated mean).
#pragma once

#include <array>
#include <vector>

class LoudnessMeter {
 public:
  explicit LoudnessMeter(int rate);
  // Interleaved left/right frames, full scale 1.0.
  void add(const float* interleaved, int frames);
  // LUFS; -inf (-HUGE_VAL) for sound that never rises above the gate.
  double integrated() const;

 private:
  struct Biquad {
    double b0, b1, b2, a1, a2;
    std::array<double, 2> z1{}, z2{};  // per channel
    double run(int channel, double x);
  };
  Biquad shelf_, highPass_;
  int hop_;                    // frames in 100 ms
  int inHop_ = 0;              // frames of the current 100 ms so far
  double hopEnergy_ = 0;       // its sum of weighted squares, both channels
  std::vector<double> hops_;   // every finished 100 ms: that sum
};
