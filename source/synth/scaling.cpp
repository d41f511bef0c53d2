// Scalings between normalised values and parameter units, and the value texts.
#include "synth/scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvel {

namespace {

// Ordered comparisons: an end passes unchanged, and a quotient that is not a number (a range of
// zero width) gives the upper end.
double clamp(double x, double lo, double hi) {
  if (x >= lo && x <= hi) return x;
  return x < lo ? lo : hi;
}

double cube(double x) { return x * x * x; }

}  // namespace

double Scaling::normal_to_scaled(double n) const { return clamp(min + (max - min) * n, min, max); }
double Scaling::scaled_to_normal(double s) const { return clamp((s - min) / (max - min), 0, 1); }

double CubicScaling::normal_to_scaled(double n) const {
  return clamp(min + (max - min) * cube(n), min, max);
}
double CubicScaling::scaled_to_normal(double s) const {
  return clamp(std::cbrt((s - min) / (max - min)), 0, 1);
}

double BiCubicScaling::normal_to_scaled(double n) const {
  return clamp(max * cube(2 * n - 1), -max, max);
}
double BiCubicScaling::scaled_to_normal(double s) const {
  return clamp(0.5 * std::cbrt(s / max) + 0.5, 0, 1);
}

AsymmetricBiCubicScaling::AsymmetricBiCubicScaling(double a, double max)
    : Scaling(max, 0), split(a <= 1 ? a : 1 - 1 / a), zero(1 - split) {}

double AsymmetricBiCubicScaling::normal_to_scaled(double n) const {
  const double d = n - zero;
  const double u = d < 0 ? d / zero : d / split;
  return clamp(max * cube(u), -max, max);
}
double AsymmetricBiCubicScaling::scaled_to_normal(double s) const {
  const double b = std::cbrt(s / max);
  return clamp(b < 0 ? b * zero + zero : b * split + zero, 0, 1);
}

double BipolarScaling::normal_to_scaled(double n) const { return clamp(max * (2 * n - 1), -max, max); }
double BipolarScaling::scaled_to_normal(double s) const { return clamp(0.5 * (s / max + 1), 0, 1); }

double InvScaling::normal_to_scaled(double n) const {
  return clamp(min + (max - min) * (1 - n), min, max);
}
double InvScaling::scaled_to_normal(double s) const {
  return 1 - clamp((s - min) / (max - min), 0, 1);
}

double IntScaling::normal_to_scaled(double n) const {
  return clamp(std::round(min + (max - min) * n), min, max);  // std::round: halves away from 0
}

double AbsoluteScaling::normal_to_scaled(double n) const {
  return clamp(min + (max - min) * std::fabs(n), min, max);
}
double AbsoluteScaling::scaled_to_normal(double s) const {
  return clamp((std::fabs(s) - min) / (max - min), 0, 1);
}

// --- value texts ---

void SingleFormatString::reset(std::string text, int x) {
  text_ = std::move(text);
  if (x > -5 && x < 0) {
    format_type_ = x;
    return;
  }
  if (const int type = getFormatType(text_)) format_type_ = type;
  precision = x;
}

int SingleFormatString::getFormatType(const std::string& text) const {
  const auto star = text.find(".*");
  const auto percent = text.find('%');
  if (star != std::string::npos && percent != std::string::npos && percent < star &&
      star <= percent + 3)
    return 2;
  return percent != std::string::npos ? 1 : 0;
}

// The texts are the program's own formats; the buffers are the editor's and the host's 64+ bytes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
int SingleFormatString::print(char* buffer, double v) const {
  constexpr size_t SIZE = 64;
  switch (format_type_) {
    case FT_SEMIS: {
      const int n = std::snprintf(buffer, SIZE, "%s ", text_.c_str());
      return n + print_semis(buffer + n, v);
    }
    case FT_MILLIS: {
      const int n = std::snprintf(buffer, SIZE, "%s ", text_.c_str());
      return n + print_millis(buffer + n, v, 0);
    }
    case 2: {
      const double a = std::fabs(v);
      int e = precision;
      if (a >= 200) {
        e = std::max(precision - 2, 0);
      } else if (a >= 20) {
        e = std::max(precision - 1, 0);
      } else if (a < 2) {
        e = precision + 1;
        if (a < 0.2) ++e;
      }
      return std::snprintf(buffer, SIZE, text_.c_str(), e, v);
    }
    case 0:
      return std::snprintf(buffer, SIZE, "%s", text_.c_str());
    default:
      return std::snprintf(buffer, SIZE, text_.c_str(), v);
  }
}
#pragma GCC diagnostic pop

const SingleFormatString* ValueTexts::find(double v) const {
  if (size() == 1) return &begin()->second;
  auto it = lower_bound(v);  // the key equal to v, or the smallest greater one
  return it == end() ? nullptr : &it->second;
}

int print_millis(char* buffer, double ms, double samplerate) {
  constexpr size_t SIZE = 64;
  const double a = std::fabs(ms);
  int written = 0;
  int precision;
  double value = ms;
  const char* suffix = " ms";
  if (a < 250) {
    if (ms == 0 || a >= 25) {
      precision = 1;
    } else if (a >= 10) {
      precision = 2;
    } else if (samplerate > 1000) {
      precision = 1;
      value = ms * samplerate * 0.001;
      suffix = " smps";
    } else {
      precision = 3;
    }
  } else {
    suffix = " s";
    if (ms > 3600000) {
      const double hours = std::floor(ms / 3600000);
      written += std::snprintf(buffer + written, SIZE - written, "%.0f:", hours);
      ms -= hours * 3600000;
      suffix = "";
    }
    if (ms > 60000) {
      const double minutes = std::floor(ms / 60000);
      written += std::snprintf(buffer + written, SIZE - written, "%.0f:", minutes);
      ms -= minutes * 60000;
      suffix = "";
    }
    precision = 2;
    value = ms * 0.001;
  }
  return written + std::snprintf(buffer + written, SIZE - written, "%.*f%s", precision, value, suffix);
}

int print_semis(char* buffer, double x) {
  constexpr size_t SIZE = 64;
  const double a = std::fabs(x);
  int n;
  if (a < 1.0 / 48) {
    n = std::snprintf(buffer, SIZE, "%.4f rate", 6 * x);
  } else if (a < 1) {
    n = std::snprintf(buffer, SIZE, "%+.2f semis", std::round(1200 * std::log2(a)) / 100);
  } else if (a < 13) {
    n = std::snprintf(buffer, SIZE, "%+.2f semis", std::round(100 * (a - 1)) / 100);
  } else {
    n = std::snprintf(buffer, SIZE, "%+.1f semis", std::round(10 * (a - 1)) / 10);
  }
  if (x < 0) n += std::snprintf(buffer + n, SIZE - n, ", reverse");
  return n;
}

}  // namespace korvel
