#include "tools/loudness.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAbsoluteGate = -70.0;
constexpr double kRelativeGate = -10.0;
constexpr int kHopsPerBlock = 4;  // 400 ms blocks, overlapping by 300 ms

double Lufs(double meanSquare) { return -0.691 + 10.0 * std::log10(meanSquare); }

}  // namespace

double LoudnessMeter::Biquad::run(int c, double x) {
  const double y = b0 * x + z1[c];
  z1[c] = b1 * x - a1 * y + z2[c];
  z2[c] = b2 * x - a2 * y;
  return y;
}

// The K-weighting filters for any rate (the two stages BS.1770 gives for
// 48 kHz, from their analogue prototypes).
LoudnessMeter::LoudnessMeter(int rate) : hop_(std::max(1, rate / 10)) {
  {
    const double k = std::tan(kPi * 1681.974450955533 / rate), q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0), vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    shelf_ = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
              2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  }
  {
    const double k = std::tan(kPi * 38.13547087602444 / rate), q = 0.5003270373238773;
    const double a0 = 1.0 + k / q + k * k;
    highPass_ = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  }
}

void LoudnessMeter::add(const float* interleaved, int frames) {
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < 2; ++c) {
      const double y = highPass_.run(c, shelf_.run(c, interleaved[2 * f + c]));
      hopEnergy_ += y * y;
    }
    if (++inHop_ == hop_) {
      hops_.push_back(hopEnergy_);
      hopEnergy_ = 0;
      inHop_ = 0;
    }
  }
}

double LoudnessMeter::integrated() const {
  // Each block's mean square (channels summed), for every whole block.
  std::vector<double> blocks;
  for (size_t i = 0; i + kHopsPerBlock <= hops_.size(); ++i)
    blocks.push_back(std::accumulate(hops_.begin() + i, hops_.begin() + i + kHopsPerBlock, 0.0) /
                     (double(hop_) * kHopsPerBlock));
  auto gatedMean = [&](double gate) {
    double sum = 0;
    int n = 0;
    for (double z : blocks)
      if (z > 0 && Lufs(z) > gate) sum += z, ++n;
    return n ? sum / n : 0.0;
  };
  const double ungated = gatedMean(kAbsoluteGate);
  if (ungated <= 0) return -HUGE_VAL;
  const double mean = gatedMean(std::max(kAbsoluteGate, Lufs(ungated) + kRelativeGate));
  return mean > 0 ? Lufs(mean) : -HUGE_VAL;
}
