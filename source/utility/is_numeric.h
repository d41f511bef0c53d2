// Text helper: does a text look like a plain decimal number (used for array indices as keys)?
//
//   is_numeric(L"12")      // true
//   is_numeric(L"-0.5")    // true
//   is_numeric(L"1e3")     // false: no exponents
//   is_numeric("7x", 1)    // true: only the first character is looked at
#pragma once

#include <string>

// True when the first n characters of text (n = -1: the whole text) form a number: a single
// character must be a decimal digit; a longer text starts with a digit, "+", "-" or "." and
// continues with digits and at most one "." in all (a leading "." counts as that one).
// An n of 0 or 1 is a programming error and stops the program.
bool is_numeric(const std::string& text, int n = -1);
bool is_numeric(const std::wstring& text, int n = -1);
