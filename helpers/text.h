// Text helpers for the tests and tools: names compared as the registry
// compares them, and bytes written as readable text.
#pragma once

#include <string>

namespace helpers {

// `s` with its ASCII letters upper-cased, as the registry compares names.
std::string Upper(std::string s);

// `bytes` with every byte outside printable ASCII, and every byte of
// `special`, written as `mark` and two lower-case hex digits.
std::string Escape(const std::string& bytes, const std::string& mark, const std::string& special);

}  // namespace helpers
