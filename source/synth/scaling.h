// Scalings between normalised 0..1 values and parameter units, and the value texts.
//
//   korvel::CubicScaling length(10000, 0.1);
//   double ms = length.normal_to_scaled(0.5);   // 1250.0875
//   double n = length.scaled_to_normal(ms);     // 0.5
//
// Scaling objects are immutable after they are made (setRange/setMin only while building), so
// any thread may call their conversions.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace korvel {

// Linear between min and max. Every conversion clamps its result to its range; an input that is
// not a number gives the upper end of the range.
class Scaling {
 public:
  Scaling(double max = 1, double min = 0) : max(max), min(min) {}
  virtual ~Scaling() = default;
  virtual double normal_to_scaled(double n) const;
  virtual double scaled_to_normal(double s) const;
  virtual std::pair<double, double> getRange() const { return {min, max}; }
  // Sets max; min only when the given min is not 0.
  virtual void setRange(double new_max, double new_min = 0) {
    max = new_max;
    if (new_min != 0) min = new_min;
  }
  virtual void setMin(double new_min) { min = new_min; }

  double max;
  double min;
};

// min + (max - min) * n^3.
class CubicScaling : public Scaling {
 public:
  using Scaling::Scaling;
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
};

// max * (2n - 1)^3 over -max..max.
class BiCubicScaling : public Scaling {
 public:
  explicit BiCubicScaling(double max) : Scaling(max, 0) {}
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
  std::pair<double, double> getRange() const override { return {-max, max}; }
};

// Cubic on both sides of a zero placed at normalised 1 - p, with p = a for a <= 1, else 1 - 1/a.
class AsymmetricBiCubicScaling : public Scaling {
 public:
  AsymmetricBiCubicScaling(double a, double max);
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
  std::pair<double, double> getRange() const override { return {-max, max}; }

  double split;  // p: normalised width of the positive side
  double zero;   // z = 1 - p: normalised position of scaled 0
};

// max * (2n - 1) over -max..max.
class BipolarScaling : public Scaling {
 public:
  explicit BipolarScaling(double max) : Scaling(max, 0) {}
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
  std::pair<double, double> getRange() const override { return {-max, max}; }
};

// Linear, reversed: normalised 0 gives max.
class InvScaling : public Scaling {
 public:
  using Scaling::Scaling;
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
};

// Linear, rounded to whole numbers (halves away from zero).
class IntScaling : public Scaling {
 public:
  using Scaling::Scaling;
  double normal_to_scaled(double n) const override;
};

// Linear on the magnitude of the value.
class AbsoluteScaling : public Scaling {
 public:
  explicit AbsoluteScaling(double max) : Scaling(max, 0) {}
  double normal_to_scaled(double n) const override;
  double scaled_to_normal(double s) const override;
};

// A printf-style format that prints one value.
class SingleFormatString {
 public:
  // Format types besides 0 (plain text), 1 (one conversion) and 2 ("%" followed by ".*").
  static constexpr int FT_MILLIS = -3;
  static constexpr int FT_SEMIS = -4;

  SingleFormatString() = default;
  SingleFormatString(const char* text, int x) { reset(text, x); }
  SingleFormatString(std::string text, int x) { reset(std::move(text), x); }
  // x in -4..-1 selects a format type and keeps the precision; any other x is the precision.
  void reset(std::string text, int x);
  int getFormatType(const std::string& text) const;
  // Writes the value's text into buffer (at least 64 bytes); returns the characters written.
  int print(char* buffer, double v) const;

  const std::string& text() const { return text_; }
  int format_type() const { return format_type_; }

  int precision = 2;

 private:
  std::string text_;
  int format_type_ = 0;
};

// Formats by value: the entry of a key equal to the value, else of the next greater key.
class ValueTexts : public std::map<double, SingleFormatString> {
 public:
  const SingleFormatString* find(double v) const;
};

// Milliseconds as text: "12.50 ms", "88.2 smps" (below 10 ms with a frame rate), "2.70 s", "1:2:3.00".
int print_millis(char* buffer, double ms, double samplerate);
// A grain pitch value as text: "+12.0 semis", "-12.00 semis", "0.0600 rate", "+1.00 semis, reverse".
int print_semis(char* buffer, double x);

}  // namespace korvel
