// Tests of the scalings between normalised values and units, and of the value texts.
#include "synth/scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace korvel {
namespace {

struct ConversionCase {
  const char* name;
  std::shared_ptr<Scaling> scaling;
  double n;  // normalised input
  double s;  // expected scaled value
};

TEST(Scaling, NormalToScaledByClass) {
  const ConversionCase cases[] = {
      {"linear 0..1", std::make_shared<Scaling>(1, 0), 0.25, 0.25},
      {"linear 50..8000", std::make_shared<Scaling>(8000, 50), 0.5, 4025},
      {"linear clamps above", std::make_shared<Scaling>(1, 0), 1.5, 1},
      {"cubic 0.1..10000 at 0", std::make_shared<CubicScaling>(10000, 0.1), 0, 0.1},
      {"cubic 0.1..10000 at 1", std::make_shared<CubicScaling>(10000, 0.1), 1, 10000},
      {"cubic 0.1..10000 at 0.5", std::make_shared<CubicScaling>(10000, 0.1), 0.5, 1250.0875},
      {"bicubic 3000 at 0.75", std::make_shared<BiCubicScaling>(3000), 0.75, 375},
      {"bicubic 3000 at 0", std::make_shared<BiCubicScaling>(3000), 0, -3000},
      {"asym 0.75 at 0.25", std::make_shared<AsymmetricBiCubicScaling>(0.75, 25), 0.25, 0},
      {"asym 0.75 at 1", std::make_shared<AsymmetricBiCubicScaling>(0.75, 25), 1, 25},
      {"asym 0.75 at 0", std::make_shared<AsymmetricBiCubicScaling>(0.75, 25), 0, -25},
      {"asym 2/3 at 1/3", std::make_shared<AsymmetricBiCubicScaling>(2.0 / 3, 37), 1.0 / 3, 0},
      {"asym 2/3 at 2/3", std::make_shared<AsymmetricBiCubicScaling>(2.0 / 3, 37), 2.0 / 3, 37.0 / 8},
      {"asym a=4 splits at 0.25", std::make_shared<AsymmetricBiCubicScaling>(4, 10), 0.25, 0},
      {"bipolar 1 at 0.75", std::make_shared<BipolarScaling>(1), 0.75, 0.5},
      {"inverse 0..14 at 0", std::make_shared<InvScaling>(14, 0), 0, 14},
      {"inverse 0..14 at 1", std::make_shared<InvScaling>(14, 0), 1, 0},
      {"int 0..8 at 0.5", std::make_shared<IntScaling>(8, 0), 0.5, 4},
      {"int 0..8 rounds half up", std::make_shared<IntScaling>(8, 0), 0.0625, 1},
      {"int 0..8 at 0.06", std::make_shared<IntScaling>(8, 0), 0.06, 0},
      {"absolute 1 at -0.5", std::make_shared<AbsoluteScaling>(1), -0.5, 0.5},
      {"int range 0..0", std::make_shared<IntScaling>(0, 0), 0.7, 0},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(c.scaling->normal_to_scaled(c.n), c.s, 1e-9) << c.name;
}

TEST(Scaling, ScaledToNormalByClass) {
  const ConversionCase cases[] = {
      {"cubic 0.1..10000 at 100", std::make_shared<CubicScaling>(10000, 0.1), std::cbrt(99.9 / 9999.9), 100},
      {"asym 0.75 at 1", std::make_shared<AsymmetricBiCubicScaling>(0.75, 25), 0.25 + 0.75 * std::cbrt(1.0 / 25), 1},
      {"asym 0.75 at -25", std::make_shared<AsymmetricBiCubicScaling>(0.75, 25), 0, -25},
      {"inverse 0..14 at 14", std::make_shared<InvScaling>(14, 0), 0, 14},
      {"bipolar 1 at -1", std::make_shared<BipolarScaling>(1), 0, -1},
      {"bipolar clamps", std::make_shared<BipolarScaling>(1), 1, 7},
      {"absolute at -0.5", std::make_shared<AbsoluteScaling>(1), 0.5, -0.5},
      {"bicubic 3000 at -375", std::make_shared<BiCubicScaling>(3000), 0.25, -375},
      // A range of zero width (a sound selection without a sound) reads the upper end.
      {"int range 0..0", std::make_shared<IntScaling>(0, 0), 1, 0},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(c.scaling->scaled_to_normal(c.s), c.n, 1e-9) << c.name;
}

TEST(Scaling, RoundTripsAndRanges) {
  const std::shared_ptr<Scaling> scalings[] = {
      std::make_shared<Scaling>(8000, 50), std::make_shared<CubicScaling>(600, 0),
      std::make_shared<BiCubicScaling>(3000), std::make_shared<AsymmetricBiCubicScaling>(0.75, 25),
      std::make_shared<AsymmetricBiCubicScaling>(2.0 / 3, 37), std::make_shared<BipolarScaling>(1),
      std::make_shared<InvScaling>(14, 0), std::make_shared<AbsoluteScaling>(1)};
  for (size_t i = 0; i < std::size(scalings); ++i)
    for (double n = 0; n <= 1.0; n += 0.0625)
      EXPECT_NEAR(scalings[i]->scaled_to_normal(scalings[i]->normal_to_scaled(n)), n, 1e-9)
          << "scaling " << i << " n=" << n;
  EXPECT_EQ(BiCubicScaling(3).getRange(), std::make_pair(-3.0, 3.0));
  EXPECT_EQ(AsymmetricBiCubicScaling(0.75, 25).getRange(), std::make_pair(-25.0, 25.0));
  EXPECT_EQ(CubicScaling(10, 2).getRange(), std::make_pair(2.0, 10.0));
  Scaling s(1, 0.5);
  s.setRange(10, 0);  // a min of 0 leaves min alone
  EXPECT_EQ(s.getRange(), std::make_pair(0.5, 10.0));
  s.setRange(10, 2);
  EXPECT_EQ(s.getRange(), std::make_pair(2.0, 10.0));
}

std::string printed(const SingleFormatString& f, double v) {
  char buffer[64];
  const int n = f.print(buffer, v);
  EXPECT_EQ(n, static_cast<int>(std::string(buffer).size()));
  return buffer;
}

TEST(ValueText, FormatStrings) {
  const SingleFormatString freq("frq %.*f", 2);
  EXPECT_EQ(freq.format_type(), 2);
  EXPECT_EQ(printed(freq, 0.5), "frq 0.500");
  EXPECT_EQ(printed(freq, 0.1), "frq 0.1000");
  EXPECT_EQ(printed(freq, 5), "frq 5.00");
  EXPECT_EQ(printed(freq, 50), "frq 50.0");
  EXPECT_EQ(printed(freq, 500), "frq 500");
  EXPECT_EQ(printed(SingleFormatString("time", -3), 1500), "time 1.50 s");
  EXPECT_EQ(printed(SingleFormatString("freq", -4), 13), "freq +12.0 semis");
  EXPECT_EQ(printed(SingleFormatString("%.1f Hz", 2), 12.25), "12.2 Hz");
  EXPECT_EQ(printed(SingleFormatString("off", 2), 12.25), "off");
  // A negative x keeps the precision; a text without "%" keeps the earlier format type.
  SingleFormatString f("%.*f", 3);
  f.reset("x", -4);
  EXPECT_EQ(f.precision, 3);
  EXPECT_EQ(f.format_type(), -4);
  f.reset("plain", 5);
  EXPECT_EQ(f.format_type(), -4);
  EXPECT_EQ(f.precision, 5);
  EXPECT_EQ(f.getFormatType("%8.*f"), 2);
  EXPECT_EQ(f.getFormatType("%12345.*f"), 1);
}

TEST(ValueText, ValueTextsFind) {
  ValueTexts texts;
  texts[0] = SingleFormatString("zero", 0);
  texts[1] = SingleFormatString("one", 0);
  EXPECT_EQ(texts.find(0.3)->text(), "one");
  EXPECT_EQ(texts.find(1)->text(), "one");
  EXPECT_EQ(texts.find(0)->text(), "zero");
  EXPECT_EQ(texts.find(-5)->text(), "zero");
  EXPECT_EQ(texts.find(1.5), nullptr);
  ValueTexts single;
  single[3] = SingleFormatString("only", 0);
  EXPECT_EQ(single.find(100)->text(), "only");
}

TEST(ValueText, MillisAndSemis) {
  struct Case { double ms, rate; const char* text; };
  const Case millis[] = {{0, 44100, "0.0 ms"},     {12.5, 0, "12.50 ms"},   {2, 44100, "88.2 smps"},
                         {2, 0, "2.000 ms"},       {30, 0, "30.0 ms"},       {2700, 0, "2.70 s"},
                         {3723000, 0, "1:2:3.00"}, {61000, 0, "1:1.00"},     {-12.5, 0, "-12.50 ms"}};
  for (const auto& c : millis) {
    char buffer[64];
    print_millis(buffer, c.ms, c.rate);
    EXPECT_STREQ(buffer, c.text) << c.ms;
  }
  struct SemiCase { double x; const char* text; };
  const SemiCase semis[] = {{1, "+0.00 semis"},  {0.5, "-12.00 semis"}, {13, "+12.0 semis"},
                            {-2, "+1.00 semis, reverse"}, {0.01, "0.0600 rate"}, {37, "+36.0 semis"}};
  for (const auto& c : semis) {
    char buffer[64];
    print_semis(buffer, c.x);
    EXPECT_STREQ(buffer, c.text) << c.x;
  }
}

}  // namespace
}  // namespace korvel
